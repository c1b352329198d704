// Zoom events: automatic events from clicks, overlap cleaning, the edits of the zoom
// lane with their limits, and the zoom blocks along the kept ranges.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "model/clip.h"

namespace vantry {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

Clip clickClip(double duration, std::vector<double> clicks) {
  Clip clip;
  clip.title = "t";
  clip.duration = duration;
  std::vector<PointerSample> samples;
  for (int i = 0; i <= static_cast<int>(duration * 60); ++i) {
    samples.push_back({i / 60.0, 0.5, 0.5, false});
  }
  for (double c : clicks)
    samples.push_back({c, 0.25, 0.75, true});
  clip.samples = samples;
  return clip;
}

ZoomEvent event(double start, double end, std::optional<double> amount = std::nullopt) {
  return ZoomEvent{Uuid::random(), start, end, Point{0.5, 0.5}, amount};
}

Clip withEvents(double duration, std::vector<ZoomEvent> events) {
  Clip clip;
  clip.duration = duration;
  clip.zoomEventsOverride = std::move(events);
  return clip;
}

TEST(ZoomAutomatic, ClicksWithinAHoldExtendOneEvent) {
  const Clip clip = clickClip(20, {1.0, 2.0});
  const auto events = clip.defaultZoomEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].start, 1.0);
  EXPECT_EQ(events[0].end, 2.3 + 2.0 + 0.65);
  EXPECT_NEAR(events[0].end, 4.95, 1e-12);
  EXPECT_EQ(events[0].center, (Point{0.25, 0.75}));
  EXPECT_FALSE(events[0].amount);
}

TEST(ZoomAutomatic, ClicksFurtherApartMakeEventsWithTheirOwnIds) {
  const Clip clip = clickClip(20, {4.0, 1.0});  // recorded order does not matter
  const auto events = clip.defaultZoomEvents();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].start, 1.0);
  EXPECT_NEAR(events[0].end, 3.95, 1e-12);
  EXPECT_EQ(events[1].start, 4.0);
  EXPECT_NEAR(events[1].end, 6.95, 1e-12);
  EXPECT_EQ(events[0].id, derivedZoomID(clip.id, 1.0));
  EXPECT_EQ(events[1].id, derivedZoomID(clip.id, 4.0));
  EXPECT_EQ(clip.defaultZoomEvents(), events);  // the same every time they are derived
}

TEST(ZoomAutomatic, EndsAtTheClipAndFollowsTheSavedHold) {
  EXPECT_EQ(clickClip(20, {19.5}).defaultZoomEvents()[0].end, 20.0);
  Clip clip = clickClip(20, {1.0, 4.0});
  clip.savedSettings = EditSettings{};
  clip.savedSettings->hold = 3.0;
  const auto events = clip.defaultZoomEvents();
  ASSERT_EQ(events.size(), 1u);  // 4.0 is before 1 + 3 + 0.65
  EXPECT_EQ(events[0].end, 3.0 + 4.0 + 0.65);
}

TEST(ZoomAutomatic, ClicksOfEqualTimeKeepTheirRecordedOrder) {
  Clip clip;
  clip.duration = 10;
  clip.samples = std::vector<PointerSample>{
      {3, 0.9, 0.9, true}, {2, 0.1, 0.2, true}, {2, 0.7, 0.8, true}, {2.5, 0, 0, false}};
  const auto events = clip.defaultZoomEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].center, (Point{0.1, 0.2}));
  EXPECT_TRUE(clickClip(10, {}).defaultZoomEvents().empty());
}

TEST(ZoomAutomatic, DerivedIdsFollowTheByteRule) {
  const Uuid zero;
  const Uuid id = derivedZoomID(zero, 1.2);
  const Uuid::Bytes expected{0x80, 0x4F, 0x12, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(id.bytes(), expected);

  const Uuid clip = *Uuid::parse("FFFFFFFF-FFFF-FFFF-0123-456789ABCDEF");
  EXPECT_EQ(derivedZoomID(clip, 1.2).toString(), "7FB0EDFF-FFFF-FFFF-0123-456789ABCDEF");
  // Halves round away from zero: 0.0000005 s is 0.5 µs, taken as 1.
  EXPECT_EQ(derivedZoomID(zero, 0.0000025).bytes()[0], 3);
  EXPECT_EQ(derivedZoomID(zero, 3600.0).toString(), "00A493D6-0000-0000-0000-000000000000");
}

TEST(ZoomAutomatic, HandEditedClickTimesGiveDefinedIds) {
  const Uuid clip = *Uuid::parse("00112233-4455-6677-8899-AABBCCDDEEFF");
  EXPECT_EQ(derivedZoomID(clip, -1.0), clip);
  EXPECT_EQ(derivedZoomID(clip, kNaN), clip);
  EXPECT_EQ(derivedZoomID(clip, -kInf), clip);
  const std::string pinned = "FFEEDDCC-BBAA-9988-8899-AABBCCDDEEFF";
  EXPECT_EQ(derivedZoomID(clip, 1e300).toString(), pinned);
  EXPECT_EQ(derivedZoomID(clip, kInf).toString(), pinned);
  EXPECT_EQ(derivedZoomID(clip, 18446744073709.551616).toString(), pinned);

  Clip hostile;
  hostile.duration = 10;
  hostile.samples = std::vector<PointerSample>{{-5, 0.5, 0.5, true}, {1e30, 0.5, 0.5, true}};
  const auto events = hostile.defaultZoomEvents();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].id, hostile.id);
  EXPECT_EQ(events[1].id, derivedZoomID(hostile.id, kInf));
}

TEST(ZoomCleaning, LaterEventsCutTheirPredecessorsAndTinyOnesGo) {
  const auto a = event(0, 10);
  const auto b = event(2, 3);
  const auto cleaned = Clip::nonOverlapping({a, b});
  ASSERT_EQ(cleaned.size(), 2u);
  EXPECT_EQ(cleaned[0].id, a.id);
  EXPECT_EQ(cleaned[0].end, 2);
  EXPECT_EQ(cleaned[1], b);

  EXPECT_TRUE(Clip::nonOverlapping({event(0, 1.0 / 60)}).empty());
  EXPECT_EQ(Clip::nonOverlapping({event(0, 1.0 / 60 + 1e-9)}).size(), 1u);
  EXPECT_TRUE(Clip::nonOverlapping({event(5, 3)}).empty());

  // Equal starts keep their order; the first is cut to nothing and dropped.
  const auto c = event(4, 6);
  const auto d = event(4, 5);
  const auto same = Clip::nonOverlapping({c, d});
  ASSERT_EQ(same.size(), 1u);
  EXPECT_EQ(same[0].id, d.id);
}

TEST(ZoomCleaning, TheOverrideReplacesTheAutomaticEventsOnceWritten) {
  Clip clip = clickClip(20, {1.0});
  EXPECT_EQ(clip.zoomEvents().size(), 1u);
  EXPECT_FALSE(clip.zoomEventsOverride);
  clip.removeZoom(Uuid::random());  // matches nothing, still stores the override
  ASSERT_TRUE(clip.zoomEventsOverride);
  EXPECT_EQ(clip.zoomEventsOverride->size(), 1u);
  clip.removeZoom((*clip.zoomEventsOverride)[0].id);
  EXPECT_TRUE(clip.zoomEvents().empty());  // an empty override: all zooms removed
  ASSERT_TRUE(clip.zoomEventsOverride);

  Clip unsorted = withEvents(20, {event(8, 9), event(1, 3)});
  EXPECT_EQ(unsorted.zoomEvents()[0].start, 1);
  EXPECT_EQ(unsorted.zoom(8.5)->start, 8);
  EXPECT_FALSE(unsorted.zoom(9));
  EXPECT_FALSE(unsorted.zoom(0.99));
}

TEST(ZoomAdd, CutAtTheNextEventAndRefusedInsideOneOrWhenTooShort) {
  Clip clip = withEvents(20, {event(6, 8)});
  const auto id = clip.addZoom(5.0, 3, Point{0.3, 0.4});
  ASSERT_TRUE(id);
  const auto added = clip.zoom(5.0);
  ASSERT_TRUE(added);
  EXPECT_EQ(added->id, *id);
  EXPECT_EQ(added->end, 6.0);
  EXPECT_EQ(added->center, (Point{0.3, 0.4}));

  Clip near = withEvents(20, {event(5.2, 8)});
  EXPECT_FALSE(near.addZoom(5.0, 3, Point{0.5, 0.5}));
  EXPECT_FALSE(near.addZoom(6.0, 3, Point{0.5, 0.5}));  // inside an event
  EXPECT_EQ(near.zoomEvents().size(), 1u);
}

TEST(ZoomAdd, ClampsTimeAndCentreAndHonoursTheMinimumLength) {
  Clip clip = withEvents(10, {});
  const auto id = clip.addZoom(-3, 0, Point{-1, 7});
  EXPECT_FALSE(id);  // max(0, 1/60) is shorter than 0.25 s
  const auto ok = clip.addZoom(-3, 2, Point{-1, 7});
  ASSERT_TRUE(ok);
  const auto e = *clip.zoom(0);
  EXPECT_EQ(e.start, 0);
  EXPECT_EQ(e.end, 2);
  EXPECT_EQ(e.center, (Point{0, 1}));
  EXPECT_FALSE(clip.addZoom(9.8, 3, Point{0.5, 0.5}));  // only 0.2 s to the end
  EXPECT_TRUE(clip.addZoom(9.75, 3, Point{0.5, 0.5}));
  EXPECT_FALSE(clip.addZoom(30, 3, Point{0.5, 0.5}));  // clamped to the end: no room
}

TEST(ZoomAdd, NonFiniteArgumentsAreRefused) {
  Clip clip = withEvents(10, {});
  EXPECT_FALSE(clip.addZoom(kNaN, 3, Point{0.5, 0.5}));
  EXPECT_FALSE(clip.addZoom(2, kNaN, Point{0.5, 0.5}));
  EXPECT_FALSE(clip.addZoom(2, kInf, Point{0.5, 0.5}));
  EXPECT_FALSE(clip.addZoom(2, 3, Point{kNaN, 0.5}));
  EXPECT_FALSE(clip.addZoom(2, 3, Point{0.5, -kInf}));
  EXPECT_TRUE(clip.zoomEventsOverride->empty());
}

TEST(ZoomMove, ChoosesTheNearestFreeGap) {
  const auto moving = event(0, 2);
  const auto other = event(6, 9);
  Clip clip = withEvents(20, {moving, other});
  ASSERT_TRUE(clip.moveZoom(moving.id, 7.0));
  const auto events = clip.zoomEvents();
  EXPECT_EQ(events[1].id, moving.id);
  EXPECT_EQ(events[1].start, 9.0);
  EXPECT_EQ(events[1].end, 11.0);
  EXPECT_EQ(events[1].center, moving.center);
}

TEST(ZoomMove, EqualDistancesChooseTheEarlierGap) {
  const auto moving = event(0, 2);
  const auto other = event(6, 8);
  Clip clip = withEvents(20, {moving, other});
  // Candidates 4 (gap 0..6) and 8 (gap 8..20) are both 2 s from 6.
  ASSERT_TRUE(clip.moveZoom(moving.id, 6.0));
  EXPECT_EQ(clip.zoomEvents()[0].start, 4.0);
}

TEST(ZoomMove, RefusedWithoutRoomOrId) {
  const auto moving = event(0, 5);
  Clip clip = withEvents(10, {moving, event(6, 8)});
  ASSERT_TRUE(clip.moveZoom(moving.id, 7));  // only 0..6 holds 5 s: pushed back to 1
  EXPECT_EQ(clip.zoomEvents()[0].start, 1);
  EXPECT_FALSE(clip.moveZoom(Uuid::random(), 3));
  EXPECT_FALSE(clip.moveZoom(moving.id, kNaN));
  EXPECT_FALSE(clip.moveZoom(moving.id, kInf));
  EXPECT_EQ(clip.zoomEvents()[0].start, 1);
  // A hand-edited event longer than the clip fits no gap.
  const auto huge = event(-5, 15);
  Clip tooLong = withEvents(10, {huge});
  EXPECT_FALSE(tooLong.moveZoom(huge.id, 0));
  EXPECT_EQ(tooLong.zoomEvents()[0], huge);
  // A gap shorter than the event by less than the tolerance still takes it.
  const auto fit = event(0, 2);
  Clip tight = withEvents(10, {fit, event(3, 5), event(7 - 1e-10, 10)});
  ASSERT_TRUE(tight.moveZoom(fit.id, 6));
  EXPECT_EQ(tight.zoomEvents()[1].start, 5);
}

TEST(ZoomResize, KeepsTheMinimumLengthAndStopsAtNeighbours) {
  const auto e = event(5, 6);
  Clip clip = withEvents(20, {event(1, 3), e, event(8, 9)});
  ASSERT_TRUE(clip.resizeZoom(e.id, std::nullopt, 5.1));
  EXPECT_EQ(clip.zoom(5)->end, 5 + 0.2);

  clip = withEvents(20, {event(1, 3), e, event(8, 9)});
  ASSERT_TRUE(clip.resizeZoom(e.id, 5.9, std::nullopt));
  EXPECT_EQ(clip.zoom(5.9)->start, 6 - 0.2);
  EXPECT_EQ(clip.zoom(5.9)->end, 6);

  clip = withEvents(20, {event(1, 3), e, event(8, 9)});
  ASSERT_TRUE(clip.resizeZoom(e.id, 0, 12));
  EXPECT_EQ(clip.zoom(5)->start, 3);
  EXPECT_EQ(clip.zoom(5)->end, 8);

  clip = withEvents(20, {e});
  ASSERT_TRUE(clip.resizeZoom(e.id, -4, 30));
  EXPECT_EQ(clip.zoom(5)->start, 0);
  EXPECT_EQ(clip.zoom(5)->end, 20);
}

TEST(ZoomResize, RefusedWhenNothingChangesOrTheIdIsMissing) {
  const auto e = event(5, 6);
  Clip clip = withEvents(20, {e});
  EXPECT_FALSE(clip.resizeZoom(e.id, 5, 6));
  EXPECT_FALSE(clip.resizeZoom(e.id, std::nullopt, std::nullopt));
  EXPECT_FALSE(clip.resizeZoom(Uuid::random(), 1, 2));
  EXPECT_FALSE(clip.resizeZoom(e.id, kNaN, std::nullopt));
  EXPECT_FALSE(clip.resizeZoom(e.id, std::nullopt, kInf));
  EXPECT_EQ(clip.zoomEvents()[0], e);
  // Squeezed between neighbours closer than 0.2 s: refused.
  const auto squeezed = event(5, 5.1);
  Clip tight = withEvents(20, {event(1, 5), squeezed, event(5.1, 9)});
  EXPECT_FALSE(tight.resizeZoom(squeezed.id, std::nullopt, 5.15));
}

TEST(ZoomAmount, ClampedIntoItsRangeAndReportedOnlyWhenChanged) {
  const auto e = event(2, 4);
  Clip clip = withEvents(20, {e});
  ASSERT_TRUE(clip.setZoomAmount(e.id, 5.0));
  EXPECT_EQ(clip.zoomEvents()[0].amount, 4.0);
  ASSERT_TRUE(clip.setZoomAmount(e.id, 1.0));
  EXPECT_EQ(clip.zoomEvents()[0].amount, 1.1);
  EXPECT_TRUE(clip.setZoomAmount(e.id, 2.5));
  EXPECT_FALSE(clip.setZoomAmount(e.id, 2.5));
  EXPECT_TRUE(clip.setZoomAmount(e.id, std::nullopt));
  EXPECT_FALSE(clip.zoomEvents()[0].amount);
  EXPECT_FALSE(clip.setZoomAmount(e.id, std::nullopt));
  EXPECT_FALSE(clip.setZoomAmount(Uuid::random(), 2));
  EXPECT_FALSE(clip.setZoomAmount(e.id, kNaN));
  EXPECT_FALSE(clip.setZoomAmount(e.id, kInf));
  EXPECT_FALSE(clip.zoomEvents()[0].amount);
}

TEST(ZoomAmount, EditingAutomaticEventsStoresThemWithTheirIds) {
  Clip clip = clickClip(20, {1.0});
  const Uuid id = clip.zoomEvents()[0].id;
  ASSERT_TRUE(clip.setZoomAmount(id, 3));
  ASSERT_TRUE(clip.zoomEventsOverride);
  EXPECT_EQ((*clip.zoomEventsOverride)[0].id, id);
}

TEST(ZoomBlocks, CutAlongKeptRangesOnTheOutputTimeline) {
  const auto spanning = event(3, 7, 3.0);
  const auto deleted = event(4.2, 4.8);
  Clip clip = withEvents(10, {spanning});
  ASSERT_TRUE(clip.split(4));
  ASSERT_TRUE(clip.split(5));
  ASSERT_TRUE(clip.deleteRange((*clip.keptRanges)[1].id));
  const auto& ranges = *clip.keptRanges;
  const auto blocks = clip.zoomBlocks();
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0].id.eventID, spanning.id);
  EXPECT_EQ(blocks[1].id.eventID, spanning.id);
  EXPECT_EQ(blocks[0].id.rangeID, ranges[0].id);
  EXPECT_EQ(blocks[1].id.rangeID, ranges[1].id);
  EXPECT_EQ(blocks[0].id.sourceStart, 3);
  EXPECT_EQ(blocks[0].sourceEnd, 4);
  EXPECT_EQ(blocks[0].outputStart, 3);
  EXPECT_EQ(blocks[1].id.sourceStart, 5);
  EXPECT_EQ(blocks[1].sourceEnd, 7);
  EXPECT_EQ(blocks[1].outputStart, 4);
  EXPECT_EQ(blocks[1].outputEnd(), 6);
  EXPECT_EQ(blocks[1].amount, 3.0);

  // An event wholly inside the deleted segment has no block.
  clip.zoomEventsOverride = std::vector<ZoomEvent>{deleted};
  EXPECT_TRUE(clip.zoomBlocks().empty());
}

TEST(ZoomBlocks, SortedByOutputStartAcrossReorderedRanges) {
  Clip clip;
  clip.duration = 10;
  clip.keptRanges = std::vector<SourceRange>{{Uuid::random(), 6, 10}, {Uuid::random(), 0, 4}};
  clip.zoomEventsOverride = std::vector<ZoomEvent>{event(1, 2), event(7, 8)};
  const auto blocks = clip.zoomBlocks();
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0].id.sourceStart, 7);
  EXPECT_EQ(blocks[0].outputStart, 1);
  EXPECT_EQ(blocks[1].id.sourceStart, 1);
  EXPECT_EQ(blocks[1].outputStart, 5);
}

}  // namespace
}  // namespace vantry
