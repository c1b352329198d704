// The timeline's geometry: block rectangles, the ghost, trims and moves, the ruler.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "design/number_text.h"
#include "model/clip.h"
#include "model/timeline_scale.h"
#include "timeline/timeline_geometry.h"

namespace vantry::timeline {
namespace {

constexpr double kPps = 56;  // timeline zoom 7

Clip clipWith(double duration, std::vector<std::pair<double, double>> kept,
              std::vector<std::pair<double, double>> zooms) {
  Clip clip;
  clip.title = "t";
  clip.duration = duration;
  if (!kept.empty()) {
    std::vector<SourceRange> ranges;
    for (auto [s, e] : kept)
      ranges.push_back({Uuid::random(), s, e});
    clip.keptRanges = ranges;
  }
  std::vector<ZoomEvent> events;
  for (auto [s, e] : zooms)
    events.push_back({Uuid::random(), s, e, {0.5, 0.5}, std::nullopt});
  clip.zoomEventsOverride = events;
  clip.presenterEvents = std::vector<PresenterEvent>{};
  return clip;
}

std::vector<std::string> majorLabels(double duration, double pps) {
  std::vector<std::string> out;
  for (const Tick& t : ticks(duration, pps, 0, pps * duration))
    if (t.major) out.push_back(t.label);
  return out;
}

TEST(TimelineBlocks, SegmentsAndPresenterStretchesLeaveTwoPointGaps) {
  const Clip clip = clipWith(10, {{0, 4}, {4, 10}}, {});
  const auto segments = segmentShapes(clip.placedRanges(), kPps);
  ASSERT_EQ(segments.size(), 2u);
  EXPECT_EQ(segments[0].rect, (Rect{1, 222}));
  EXPECT_EQ(segments[1].rect, (Rect{225, 334}));
  EXPECT_EQ(segments[1].number, 2);
  EXPECT_EQ(segments[1].start, 4);
  EXPECT_TRUE(segments[0].showsDuration);

  // Duration text past 110 points, 1 point wide at the least.
  const auto narrow =
      segmentShapes(clipWith(20, {{0, 102.0 / 56}, {5, 5 + 113.0 / 56}}, {}).placedRanges(), kPps);
  EXPECT_FALSE(narrow[0].showsDuration);  // 100 points
  EXPECT_TRUE(narrow[1].showsDuration);   // 111 points
  EXPECT_EQ(segmentShapes(clipWith(1, {{0, 0.1}}, {}).placedRanges(), 8)[0].rect.width, 1);

  PresenterBlock full{{Uuid::random(), 2}, 5, 2, true};
  PresenterBlock bubble{{Uuid::random(), 5}, 6, 5, false};
  const auto stretches = presenterShapes({full, bubble}, kPps);
  EXPECT_EQ(stretches[0].rect, (Rect{113, 166}));
  EXPECT_TRUE(stretches[0].showsTitle);
  EXPECT_EQ(stretches[1].rect.width, 54);
  EXPECT_FALSE(stretches[1].showsTitle);
  // The title shows past 64 points, not at 64.
  PresenterBlock at64{{Uuid::random(), 0}, 66.0 / 56, 0, false};
  PresenterBlock at65{{Uuid::random(), 0}, 67.0 / 56, 0, false};
  EXPECT_FALSE(presenterShapes({at64}, kPps)[0].showsTitle);
  EXPECT_TRUE(presenterShapes({at65}, kPps)[0].showsTitle);
}

TEST(TimelineBlocks, ZoomBlocksAndTheirLabels) {
  const Clip clip = clipWith(12, {}, {{2, 2.05}});
  const auto shapes = zoomShapes(clip.zoomBlocks(), 8);
  ASSERT_EQ(shapes.size(), 1u);
  EXPECT_EQ(shapes[0].rect, (Rect{16, 4}));  // 0.05 s at zoom 1 is still 4 points
  EXPECT_TRUE(zoomShowsAmount(50));
  EXPECT_FALSE(zoomShowsTitle(50));
  EXPECT_FALSE(zoomShowsAmount(30));
  EXPECT_TRUE(zoomShowsTitle(55));
}

TEST(TimelineBlocks, CutEventCarriesItsLeadingHandleFirstAndTrailingLast) {
  // One zoom from 2 s to 6 s cut at 4 s by a segment boundary, then another zoom.
  const Clip clip = clipWith(12, {{0, 4}, {4, 12}}, {{2, 6}, {8, 9}});
  const auto shapes = zoomShapes(clip.zoomBlocks(), kPps);
  ASSERT_EQ(shapes.size(), 3u);
  EXPECT_EQ(shapes[0].block.id.eventID, shapes[1].block.id.eventID);
  EXPECT_TRUE(shapes[0].firstPiece);
  EXPECT_FALSE(shapes[0].lastPiece);
  EXPECT_FALSE(shapes[1].firstPiece);
  EXPECT_TRUE(shapes[1].lastPiece);
  EXPECT_TRUE(shapes[2].firstPiece && shapes[2].lastPiece);

  // Moving by the second piece starts from the event's own start and keeps the whole
  // event inside the edit.
  const auto event = eventSpan(clip.zoomBlocks(), shapes[1].block.id.eventID);
  ASSERT_TRUE(event);
  EXPECT_EQ(event->start, 2);
  EXPECT_EQ(event->length(), 4);
  EXPECT_DOUBLE_EQ(moveTarget(*event, 56, kPps, 12), 3);
  EXPECT_DOUBLE_EQ(moveTarget(*event, 56 * 20, kPps, 12), 8);
  EXPECT_DOUBLE_EQ(trimTarget(*event, true, -28, kPps), 1.5);
  EXPECT_DOUBLE_EQ(trimTarget(*event, false, 28, kPps), 6.5);
}

TEST(TimelineEdits, MoveTargetIsClampedToTheEdit) {
  const EventSpan threeSeconds{4, 7};
  EXPECT_DOUBLE_EQ(moveTarget(threeSeconds, (10.5 - 4) * kPps, kPps, 12), 9.0);
  EXPECT_DOUBLE_EQ(moveTarget(threeSeconds, (-1 - 4) * kPps, kPps, 12), 0);
  // N points move by N / (8 x zoom) seconds.
  EXPECT_DOUBLE_EQ(moveTarget(threeSeconds, 28, kPps, 12), 4.5);
}

TEST(TimelineEdits, TrimPreviewKeepsEightPoints) {
  const Rect block{100, 60};
  EXPECT_EQ(trimPreview(block, true, 100), (Rect{152, 8}));  // right edge stays at 160
  EXPECT_EQ(trimPreview(block, false, -100), (Rect{100, 8}));
  EXPECT_EQ(trimPreview(block, true, -30), (Rect{70, 90}));  // no bound to the left
  EXPECT_EQ(trimPreview(block, false, 20), (Rect{100, 80}));
  EXPECT_EQ(trimPreview({10, 4}, false, 0), (Rect{10, 8}));  // a narrow block widens
}

TEST(TimelineEdits, GhostShowsTheZoomAClickWouldAdd) {
  const Clip clip = clipWith(12, {}, {{2, 5}, {8, 10}});
  const auto blocks = clip.zoomBlocks();
  const auto at = [&](double t) { return ghostAt(t, blocks, 12, kPps, 3.0); };

  ASSERT_TRUE(at(6.0));
  EXPECT_EQ(at(6.0)->rect, (Rect{336, 111}));  // cut at 8 s
  EXPECT_TRUE(at(6.0)->showsLabel);
  EXPECT_DOUBLE_EQ(at(7.5)->rect.width, 27);
  EXPECT_FALSE(at(7.5)->showsLabel);
  EXPECT_DOUBLE_EQ(at(11.9)->rect.width, 6);
  EXPECT_FALSE(at(3.0));
  ASSERT_TRUE(at(5.0));  // the end of a zoom is free
  EXPECT_DOUBLE_EQ(at(5.0)->rect.width, 167);
  EXPECT_TRUE(at(14));  // past the end: shown, at its minimum
  EXPECT_DOUBLE_EQ(at(14)->rect.width, 6);
}

TEST(TimelineRuler, LabelsAtSubSecondAndWholeSteps) {
  // 0.5 s major steps at 130 points per second.
  ASSERT_EQ(TimelineScale::majorStep(130), 0.5);
  const auto half = majorLabels(2, 130);
  EXPECT_EQ(half, (std::vector<std::string>{"0.0s", "0.5s", "1.0s", "1.5s", "2.0s"}));

  ASSERT_EQ(TimelineScale::majorStep(16), 5);
  const auto five = majorLabels(65, 16);
  ASSERT_EQ(five.size(), 14u);
  EXPECT_EQ(five[0], "0s");
  EXPECT_EQ(five[11], "55s");
  EXPECT_EQ(five[12], "01:00");
  EXPECT_EQ(five[13], "01:05");

  // Past a minute with sub-second steps the tenths stay, so labels never repeat.
  EXPECT_EQ(tickLabel(60.0, 0.5), "01:00.0");
  EXPECT_EQ(tickLabel(60.5, 0.5), "01:00.5");
  EXPECT_EQ(tickLabel(3599.9, 0.1), "59:59.9");
  EXPECT_EQ(tickLabel(90, 10), "01:30");
  EXPECT_EQ(tickLabel(59.5, 0.5), "59.5s");
}

TEST(TimelineRuler, LastTickSurvivesFloatingPointDivision) {
  // 0.3 / 0.1 is 2.9999999999999996 and 1.2 / 0.2 is 5.999999999999999.
  EXPECT_EQ(tickCount(0.3, 0.1), 4u);
  EXPECT_EQ(tickCount(1.2, 0.2), 7u);
  EXPECT_EQ(tickCount(0.29, 0.1), 3u);
  // At 720 points per second the major step is 0.1 s: a 0.3-second edit has four labels.
  EXPECT_EQ(majorLabels(0.3, 720).back(), "0.3s");
  // The grid follows the major ticks.
  EXPECT_EQ(gridLines(1.2, 325, 0, 1e9).size(), 7u);
}

TEST(TimelineRuler, AnyDurationGivesDefinedCountsAndScrollRanges) {
  // A hand-edited document can claim any length: counts and whole points stay in range.
  EXPECT_EQ(tickCount(1e300, 0.1), (std::size_t{1} << 53) + 1);
  EXPECT_EQ(tickCount(1e20, 0.1), (std::size_t{1} << 53) + 1);
  EXPECT_EQ(ticks(1e300, 56, 0, 700).size(), ticks(100, 56, 0, 700).size());
  EXPECT_EQ(wholePoints(1e300), std::numeric_limits<int>::max());
  EXPECT_EQ(wholePoints(-3), 0);
  EXPECT_EQ(wholePoints(std::nan("")), 0);
  EXPECT_EQ(wholePoints(1234.4), 1234);
  EXPECT_EQ(scrollRange(contentWidth(700, 56, 1e12), 700), std::numeric_limits<int>::max());
  EXPECT_EQ(scrollRange(1000, 700), 1000 + 24 - 700);
  EXPECT_EQ(scrollRange(676, 700), 0);
}

TEST(TimelineRuler, ZeroDurationAndVisibleRange) {
  const auto all = ticks(0, kPps, 0, 576);
  ASSERT_EQ(all.size(), 2u);
  EXPECT_FALSE(all[0].major);
  EXPECT_EQ(all[0].x, 0);
  EXPECT_TRUE(all[1].major);
  EXPECT_EQ(all[1].label, "0s");
  EXPECT_EQ(ticks(0, 720, 0, 576)[1].label, "0.0s");
  EXPECT_EQ(gridLines(0, kPps, 0, 576), (std::vector<double>{0}));

  // A window of the ruler gives exactly the ticks of the whole ruler that fall inside it.
  const double pps = 256, duration = 3600;
  const auto whole = ticks(duration, pps, 0, pps * duration);
  const auto part = ticks(duration, pps, 400000, 401000);
  std::vector<Tick> expected;
  for (const Tick& t : whole)
    if (t.x >= 400000 && t.x <= 401000) expected.push_back(t);
  ASSERT_EQ(part.size(), expected.size());
  for (std::size_t i = 0; i < part.size(); ++i) {
    EXPECT_EQ(part[i].x, expected[i].x);
    EXPECT_EQ(part[i].label, expected[i].label);
  }
  EXPECT_TRUE(ticks(duration, pps, -100, -1).empty());
}

TEST(TimelineFrame, WidthFitAndZoomLimits) {
  EXPECT_EQ(contentWidth(600, kPps, 0), 576);
  EXPECT_EQ(contentWidth(600, kPps, 60), 3360);
  EXPECT_DOUBLE_EQ(*fitToWidthZoom(600, 60), 1.2);
  EXPECT_EQ(*fitToWidthZoom(600, 3600), 1);
  EXPECT_EQ(*fitToWidthZoom(600, 0.5), 32);
  EXPECT_FALSE(fitToWidthZoom(600, 0));
  EXPECT_EQ(clampZoom(0.5), 1);
  EXPECT_EQ(clampZoom(40), 32);
  EXPECT_EQ(clampZoom(std::nan("")), 1);
  EXPECT_EQ(playheadX(100, kPps, 576), 576);

  EXPECT_EQ(rowSpan(Row::zoom).top, 76);
  EXPECT_EQ(rowSpan(Row::presenter).bottom(), stackHeight);
  EXPECT_EQ(rowAt(27), std::nullopt);  // the gap under the ruler
  EXPECT_EQ(rowAt(30), Row::video);
}

TEST(TimelineMenu, MagnificationTitlesShowWhatTheyApply) {
  // The same text on a block, in its menu and in the inspector: never rounded to one
  // decimal (1.25 is not "1.2×"), never padded with zeros.
  EXPECT_EQ(magnificationText(1.25), QString("1.25\u00D7"));
  EXPECT_EQ(magnificationText(1.75), QString("1.75\u00D7"));
  EXPECT_EQ(magnificationText(2.0), QString("2\u00D7"));
  EXPECT_EQ(magnificationText(2.5), QString("2.5\u00D7"));
  EXPECT_EQ(magnificationText(1.3333), QString("1.33\u00D7"));
  EXPECT_EQ(tickedMagnification(std::nullopt), std::nullopt);  // follows the default
  EXPECT_EQ(tickedMagnification(2.5), 4);
  EXPECT_EQ(tickedMagnification(2.0004), 3);
  EXPECT_EQ(tickedMagnification(2.2), std::nullopt);
}

}  // namespace
}  // namespace vantry::timeline
