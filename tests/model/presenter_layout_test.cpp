// Presenter layout: the step function of switches, its edits, the lane's blocks and
// the smoothed blend between bubble and full screen.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "model/clip.h"
#include "model/motion_spring.h"

namespace vantry {
namespace {

Clip presenterClip(double duration, std::vector<std::pair<double, bool>> switches) {
  Clip clip;
  clip.duration = duration;
  if (!switches.empty()) {
    std::vector<PresenterEvent> events;
    for (auto [t, full] : switches)
      events.push_back(PresenterEvent{Uuid::random(), t, full});
    clip.presenterEvents = events;
  }
  return clip;
}

std::vector<std::pair<double, bool>> switchesOf(const Clip& clip) {
  std::vector<std::pair<double, bool>> result;
  for (const auto& e : clip.presenterEvents.value_or(std::vector<PresenterEvent>{})) {
    result.emplace_back(e.time, e.fullScreen);
  }
  return result;
}

using Switches = std::vector<std::pair<double, bool>>;

TEST(PresenterLayout, WithoutEventsEverythingIsTheBubble) {
  Clip clip = presenterClip(10, {});
  ASSERT_TRUE(clip.split(4));
  for (double t : {-1.0, 0.0, 3.0, 10.0}) {
    EXPECT_FALSE(clip.presenterIsFull(t));
    EXPECT_EQ(clip.presenterMix(t), 0);
  }
  const auto blocks = clip.presenterBlocks();
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_FALSE(blocks[0].fullScreen);
  EXPECT_FALSE(blocks[1].fullScreen);
  EXPECT_EQ(blocks[1].id.sourceStart, 4);
  EXPECT_EQ(blocks[1].sourceEnd, 10);
}

TEST(PresenterLayout, SameTimePairsDecideByStoredOrder) {
  Clip fullFirst = presenterClip(10, {{3, true}, {3, false}});
  EXPECT_TRUE(fullFirst.presenterIsFull(3));
  EXPECT_FALSE(fullFirst.presenterIsFull(2.99));
  // The blend chases the later of the pair in stored order: the bubble here.
  EXPECT_EQ(fullFirst.presenterMix(5), 0);

  Clip bubbleFirst = presenterClip(10, {{3, false}, {3, true}});
  EXPECT_FALSE(bubbleFirst.presenterIsFull(3));
  EXPECT_GT(bubbleFirst.presenterMix(5), 0.99);

  Clip unsorted = presenterClip(10, {{6, false}, {2, true}});
  EXPECT_TRUE(unsorted.presenterIsFull(4));
  EXPECT_FALSE(unsorted.presenterIsFull(7));
}

TEST(PresenterLayout, BlendStartsFullAtTimeZeroAndFollowsTheSpring) {
  Clip start = presenterClip(10, {{0, true}, {5, false}});
  EXPECT_EQ(start.presenterMix(0), 1);
  EXPECT_EQ(start.presenterMix(4.9), 1);
  EXPECT_LT(start.presenterMix(5.5), 0.5);

  Clip single = presenterClip(10, {{2, true}});
  EXPECT_EQ(single.presenterMix(2), 0);
  MotionSpring spring{0, 0};
  spring.advance(1, 10, 0.25);
  EXPECT_DOUBLE_EQ(single.presenterMix(2.25), spring.value);
  EXPECT_GT(single.presenterMix(2.25), 0);
  EXPECT_LT(single.presenterMix(2.25), 1);
  // Recomputed from scratch: asking out of order gives the same values.
  const double late = single.presenterMix(3);
  single.presenterMix(1);
  EXPECT_EQ(single.presenterMix(3), late);

  Clip early = presenterClip(10, {{-1, true}});
  EXPECT_EQ(early.presenterMix(0), 1);
}

TEST(PresenterLayout, SetFromATimeReplacesSwitchesWithinHalfAFrame) {
  Clip clip = presenterClip(10, {{4.995, false}, {6, false}});
  clip.setPresenter(true, 5);
  EXPECT_EQ(switchesOf(clip), (Switches{{5, true}, {6, false}}));
  clip.setPresenter(false, 50);  // clamped to the end
  EXPECT_EQ(switchesOf(clip).back(), (std::pair<double, bool>{10, false}));
  clip.setPresenter(true, -2);
  EXPECT_EQ(switchesOf(clip).front(), (std::pair<double, bool>{0, true}));

  Clip fresh = presenterClip(10, {});
  fresh.setPresenter(true, 3);
  EXPECT_EQ(switchesOf(fresh), (Switches{{3, true}}));
  EXPECT_TRUE(fresh.presenterIsFull(9));
}

TEST(PresenterLayout, ANaNTimeChangesNothing) {
  Clip clip = presenterClip(10, {{2, true}});
  clip.setPresenter(false, std::numeric_limits<double>::quiet_NaN());
  EXPECT_EQ(switchesOf(clip), (Switches{{2, true}}));
}

TEST(PresenterBlocks, SetForOneBlockRestoresWhatFollows) {
  Clip clip = presenterClip(10, {{2, false}, {5, false}});
  const auto blocks = clip.presenterBlocks();
  ASSERT_EQ(blocks.size(), 3u);
  clip.setPresenter(true, blocks[1]);  // the block 2..5
  EXPECT_EQ(switchesOf(clip), (Switches{{2, true}, {5, false}}));

  Clip bare = presenterClip(10, {{2, false}});
  bare.setPresenter(true, bare.presenterBlocks()[1]);  // 2..10: the last block
  EXPECT_EQ(switchesOf(bare), (Switches{{2, true}}));

  Clip inner = presenterClip(10, {{2, false}, {3, true}, {5, true}});
  auto innerBlocks = inner.presenterBlocks();
  // Block 2..3 set to full: the event at 3 stays; none is added at 3 again.
  inner.setPresenter(true, innerBlocks[1]);
  EXPECT_EQ(switchesOf(inner), (Switches{{2, true}, {3, true}, {5, true}}));
}

TEST(PresenterBlocks, BlockWithoutEventAfterItGetsOneRestoringTheLayout) {
  Clip clip = presenterClip(10, {{1, true}});
  ASSERT_TRUE(clip.split(4));
  const auto blocks = clip.presenterBlocks();
  ASSERT_EQ(blocks.size(), 3u);  // 0..1, 1..4, 4..10
  clip.setPresenter(false, blocks[1]);
  EXPECT_EQ(switchesOf(clip), (Switches{{1, false}, {4, true}}));
  EXPECT_TRUE(clip.presenterIsFull(4));
}

TEST(PresenterBlocks, StaleBlocksAreIgnored) {
  Clip clip = presenterClip(10, {{2, false}});
  auto block = clip.presenterBlocks()[1];
  block.sourceEnd = 9;
  clip.setPresenter(true, block);
  EXPECT_EQ(switchesOf(clip), (Switches{{2, false}}));
  block = clip.presenterBlocks()[1];
  block.outputStart = 77;  // not compared
  block.fullScreen = true;
  clip.setPresenter(true, block);
  EXPECT_EQ(switchesOf(clip), (Switches{{2, true}}));
}

TEST(PresenterBlocks, RangeStartsAlwaysStartBlocksAndDeletedSwitchesStillCount) {
  Clip clip = presenterClip(10, {{4, true}, {5, true}, {5, true}, {7, false}});
  ASSERT_TRUE(clip.split(4));
  ASSERT_TRUE(clip.split(6));
  ASSERT_TRUE(clip.deleteRange((*clip.keptRanges)[1].id));  // 4..6 gone
  const auto blocks = clip.presenterBlocks();
  ASSERT_EQ(blocks.size(), 3u);  // 0..4 | 6..7, 7..10
  EXPECT_FALSE(blocks[0].fullScreen);
  EXPECT_EQ(blocks[1].id.sourceStart, 6);
  EXPECT_TRUE(blocks[1].fullScreen);  // set by the switch inside the deleted part
  EXPECT_EQ(blocks[1].outputStart, 4);
  EXPECT_EQ(blocks[1].sourceEnd, 7);
  EXPECT_EQ(blocks[2].id.sourceStart, 7);
  EXPECT_FALSE(blocks[2].fullScreen);
  EXPECT_EQ(blocks[2].outputEnd(), 8);
  EXPECT_EQ(blocks[1].id.rangeID, blocks[2].id.rangeID);
}

TEST(PresenterBlocks, AHundredThousandSwitchesInOnePass) {
  // Unsorted, with pairs at the same time whose first stored one decides; before the change
  // this took a quarter of a minute.
  Switches switches;
  for (int i = 100'000; i-- > 0;) {
    const double t = 0.01 * (i / 2 + 1);
    switches.emplace_back(t, (i / 2) % 3 == 0 ? i % 2 == 1 : i % 2 == 0);
  }
  Clip clip = presenterClip(600, switches);
  ASSERT_TRUE(clip.split(300));
  const auto blocks = clip.presenterBlocks();
  // One per distinct time and one more for the first range's start; the switch at 300 s
  // falls on the second range's start.
  ASSERT_EQ(blocks.size(), 50'000u + 1);
  for (std::size_t k = 0; k < blocks.size(); k += 997)
    EXPECT_EQ(blocks[k].fullScreen, clip.presenterIsFull(blocks[k].id.sourceStart)) << k;
  EXPECT_EQ(blocks[1].id.sourceStart, 0.01);
  EXPECT_TRUE(blocks[1].fullScreen);  // time 0.01: the stored order puts i = 1 first
}

}  // namespace
}  // namespace vantry
