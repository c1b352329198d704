// Kept ranges and the edited timeline: mapping between source and output time, split
// and delete with their limits.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "model/clip.h"
#include "model/document_json.h"

namespace vantry {
namespace {

Clip clipOf(double duration) {
  Clip clip;
  clip.title = "t";
  clip.duration = duration;
  return clip;
}

Clip withRanges(double duration, std::vector<std::pair<double, double>> spans) {
  Clip clip = clipOf(duration);
  std::vector<SourceRange> ranges;
  for (auto [s, e] : spans)
    ranges.push_back(SourceRange{Uuid::random(), s, e});
  clip.keptRanges = ranges;
  return clip;
}

TEST(TimelineMapping, WholeClipIsOneRangeWithTheClipsId) {
  const Clip clip = clipOf(10);
  const auto ranges = clip.ranges();
  ASSERT_EQ(ranges.size(), 1u);
  EXPECT_EQ(ranges[0].id, clip.id);
  EXPECT_EQ(ranges[0].start, 0);
  EXPECT_EQ(ranges[0].end, 10);
  EXPECT_EQ(clip.editedDuration(), 10);
  EXPECT_EQ(clip.sourceTime(12), 10);
  EXPECT_EQ(clip.sourceTime(-3), 0);
  EXPECT_EQ(clip.outputTime(10), std::nullopt);
  EXPECT_EQ(clip.outputTime(9.5), 9.5);
  EXPECT_TRUE(clipOf(0).ranges().empty());
}

TEST(TimelineMapping, StoredRangesAreClampedAndBoundariesBelongToTheNextRange) {
  const Clip clip = withRanges(10, {{2, 4}, {8, 15}});
  const auto ranges = clip.ranges();
  ASSERT_EQ(ranges.size(), 2u);
  EXPECT_EQ(ranges[1].start, 8);
  EXPECT_EQ(ranges[1].end, 10);
  EXPECT_EQ(ranges[1].id, (*clip.keptRanges)[1].id);
  EXPECT_EQ(clip.editedDuration(), 4);
  EXPECT_EQ(clip.sourceTime(2), 8);
  EXPECT_EQ(clip.sourceTime(4), 10);
  EXPECT_EQ(clip.sourceTime(1.5), 3.5);
  EXPECT_EQ(clip.outputTime(5), std::nullopt);
  EXPECT_EQ(clip.outputTime(8), 2);
  EXPECT_EQ(clip.outputTime(4), std::nullopt);
  const auto placed = clip.placedRanges();
  EXPECT_EQ(placed[1].start, 2);
  EXPECT_EQ(placed[1].end(), 4);
  EXPECT_EQ(placed[1].id(), ranges[1].id);
}

TEST(TimelineMapping, BadStoredRangesVanishWithoutTouchingTheStoredList) {
  Clip clip = withRanges(10, {{5, 3}, {12, 14}, {-2, 1}, {6, 6}, {7, 9}, {1, 2}});
  const auto ranges = clip.ranges();
  ASSERT_EQ(ranges.size(), 3u);  // order kept, overlaps not merged
  EXPECT_EQ(ranges[0].start, 0);
  EXPECT_EQ(ranges[0].end, 1);
  EXPECT_EQ(ranges[1].start, 7);
  EXPECT_EQ(ranges[2].start, 1);
  EXPECT_EQ(clip.keptRanges->size(), 6u);
  EXPECT_EQ(clip.editedDuration(), 4);
  EXPECT_EQ(clip.outputTime(1.5), 3.5);  // the first range holding the time wins
}

TEST(TimelineMapping, AnEmptyStoredListKeepsNothing) {
  Clip clip = withRanges(10, {});
  EXPECT_TRUE(clip.ranges().empty());
  EXPECT_EQ(clip.editedDuration(), 0);
  EXPECT_EQ(clip.sourceTime(0), 0);
  EXPECT_EQ(clip.sourceTime(5), 0);
  EXPECT_EQ(clip.outputTime(5), std::nullopt);
  EXPECT_FALSE(clip.split(5));
  EXPECT_FALSE(clip.deleteRange(clip.id));
}

TEST(TimelineMapping, NonFiniteTimesStayInsideTheTimeline) {
  const Clip clip = withRanges(10, {{2, 4}, {8, 10}});
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double t = clip.sourceTime(nan);
  EXPECT_TRUE(std::isfinite(t));
  EXPECT_EQ(clip.sourceTime(std::numeric_limits<double>::infinity()), 10);
  EXPECT_EQ(clip.outputTime(nan), std::nullopt);
}

TEST(TimelineSplit, SnapsToTheFrameGridAndKeepsTheOldIdOnTheLeft) {
  Clip clip = clipOf(10);
  const auto id = clip.split(5.004);
  ASSERT_TRUE(id);
  ASSERT_EQ(clip.keptRanges->size(), 2u);
  const auto& list = *clip.keptRanges;
  EXPECT_EQ(list[0].id, clip.id);
  EXPECT_EQ(list[0].start, 0);
  EXPECT_EQ(list[0].end, 5.0);
  EXPECT_EQ(list[1].id, *id);
  EXPECT_EQ(list[1].start, 5.0);
  EXPECT_EQ(list[1].end, 10);

  EXPECT_FALSE(clip.split(5.0));  // a boundary already
  const auto next = clip.split(5.0 + 1.0 / 60);
  ASSERT_TRUE(next);
  EXPECT_EQ(clip.keptRanges->size(), 3u);
  EXPECT_EQ((*clip.keptRanges)[2].id, *next);
  // The cut is m + range start - placed start, evaluated left to right: here
  // (m + 5) - 5, which is not m itself in floating point.
  const double m = std::round((5.0 + 1.0 / 60) * 60) / 60;
  EXPECT_EQ((*clip.keptRanges)[1].end, m + 5.0 - 5.0);
  EXPECT_NE(m + 5.0 - 5.0, m);
}

TEST(TimelineSplit, RefusedNearBoundariesAndOnTinySegments) {
  Clip clip = clipOf(10);
  EXPECT_FALSE(clip.split(0.005));  // snaps to 0
  EXPECT_FALSE(clip.split(10));
  EXPECT_FALSE(clip.split(-4));
  EXPECT_FALSE(clip.split(std::numeric_limits<double>::quiet_NaN()));
  EXPECT_FALSE(clip.keptRanges);  // refusals store nothing
  EXPECT_TRUE(clip.split(1.0 / 60));

  Clip tiny = clipOf(1.0 / 60);
  EXPECT_FALSE(tiny.split(1.0 / 120));
  EXPECT_FALSE(tiny.keptRanges);
}

TEST(TimelineSplit, CutsInSourceTimeOfTheSegmentUnderTheOutputTime) {
  Clip clip = withRanges(20, {{2, 4}, {8, 15}});
  const auto id = clip.split(3);  // output 3 is source 9
  ASSERT_TRUE(id);
  const auto& list = *clip.keptRanges;
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[1].end, 9);
  EXPECT_EQ(list[2].start, 9);
  EXPECT_EQ(list[2].end, 15);
}

TEST(TimelineSplit, StoresTheCleanedList) {
  Clip clip = withRanges(10, {{5, 3}, {0, 4}, {6, 12}});
  ASSERT_TRUE(clip.split(1));
  const auto& list = *clip.keptRanges;
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].end, 1);
  EXPECT_EQ(list[2].start, 6);
  EXPECT_EQ(list[2].end, 10);
}

TEST(TimelineDelete, NeverTheLastSegmentNorAMissingOne) {
  Clip clip = clipOf(10);
  EXPECT_FALSE(clip.deleteRange(clip.id));
  ASSERT_TRUE(clip.split(3));
  ASSERT_TRUE(clip.split(6));
  EXPECT_FALSE(clip.deleteRange(Uuid::random()));
  const Uuid middle = (*clip.keptRanges)[1].id;
  EXPECT_TRUE(clip.deleteRange(middle));
  const auto placed = clip.placedRanges();
  ASSERT_EQ(placed.size(), 2u);
  EXPECT_EQ(placed[1].start, placed[0].end());
  EXPECT_EQ(placed[1].range.start, 6);
  EXPECT_EQ(clip.editedDuration(), 7);
  EXPECT_EQ(clip.sourceTime(3), 6);
}

TEST(TimelineDelete, RepeatedIdsFromAHandEditedFileActOnTheRangeFound) {
  const Uuid twin = Uuid::random();
  Clip clip = clipOf(10);
  clip.keptRanges = std::vector<SourceRange>{{twin, 0, 4}, {twin, 6, 10}};
  EXPECT_TRUE(clip.deleteRange(twin));
  ASSERT_EQ(clip.ranges().size(), 1u);  // one range stays
  EXPECT_EQ(clip.ranges()[0].start, 6);
  EXPECT_FALSE(clip.deleteRange(twin));

  // A split in the second of two twins cuts that one, not the first.
  Clip other = clipOf(10);
  other.keptRanges = std::vector<SourceRange>{{twin, 0, 4}, {twin, 6, 10}};
  ASSERT_TRUE(other.split(6));  // output 6 is source 8
  const auto& list = *other.keptRanges;
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].end, 4);
  EXPECT_EQ(list[1].start, 6);
  EXPECT_EQ(list[1].end, 8);
  EXPECT_EQ(list[2].start, 8);
}

TEST(TimelineDelete, EditedRangesSurviveTheDocumentRoundTrip) {
  Clip clip = clipOf(10);
  ASSERT_TRUE(clip.split(4));
  const Clip back = decodeClip(encodeClip(clip));
  EXPECT_EQ(back.keptRanges, clip.keptRanges);
  EXPECT_EQ(back.editedDuration(), 10);
}

}  // namespace
}  // namespace vantry
