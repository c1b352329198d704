#include <gtest/gtest.h>

#include "fakes.h"
#include "localization/localization.h"

namespace vantry {
namespace {

using namespace vantry::testing;

struct StudioTick : ::testing::Test {
  Harness h;
  std::unique_ptr<Studio> studio;
  TickRecording* recorder = nullptr;
  FakePointer* pointer = nullptr;

  void SetUp() override { studio = std::make_unique<Studio>(h.services()); }
  void startRecording() {
    auto r = std::make_unique<TickRecording>();
    auto p = std::make_unique<FakePointer>();
    recorder = r.get();
    pointer = p.get();
    StudioTestAccess::setRecorder(*studio, std::move(r));
    StudioTestAccess::setPointer(*studio, std::move(p));
    StudioTestAccess::setRecordingStart(*studio, h.clock.now);
    studio->setStandby(false);
    studio->setRecording(true);
  }
  void step(double seconds) {
    h.clock.now += seconds;
    studio->tick();
  }
};

TEST_F(StudioTick, AStallAdvancesTheSpringByAtMostATenthOfASecond) {
  studio->setFullPresenter(true);
  step(5);  // one long stall
  Studio reference(h.services());
  reference.setFullPresenter(true);
  h.clock.now += 0.1;
  reference.tick();
  EXPECT_DOUBLE_EQ(StudioTestAccess::presenterSpring(*studio).value,
                   StudioTestAccess::presenterSpring(reference).value);
  EXPECT_GT(studio->state().presenterMix, 0);
}

TEST_F(StudioTick, RecordingTimeComesFromTheRecorderElseTheFallbackNeverNegative) {
  startRecording();
  step(2);
  EXPECT_DOUBLE_EQ(studio->time(), 2);
  recorder->clockStart = h.clock.now - 0.5;
  step(0.25);
  EXPECT_DOUBLE_EQ(studio->time(), 0.75);
  recorder->clockStart = h.clock.now + 3;  // a first frame still to come
  step(0.1);
  EXPECT_EQ(studio->time(), 0);
}

TEST_F(StudioTick, APressIsOneClickInsideTheCapturedAreaOnly) {
  startRecording();
  // Outside the captured area (which starts at x 100): held and moved inside, no click.
  pointer->raw = {{50, 300}, true, 1};
  step(1.0 / 60);
  pointer->raw = {{500, 300}, true, 0};
  step(1.0 / 60);
  EXPECT_EQ(StudioTestAccess::liveClick(*studio), -100);

  pointer->raw = {{500, 300}, false, 0};
  step(1.0 / 60);
  pointer->raw = {{1060, 590}, true, 1};
  step(1.0 / 60);
  double clicked = h.clock.now;
  EXPECT_EQ(StudioTestAccess::liveClick(*studio), clicked);
  EXPECT_NEAR(StudioTestAccess::liveFocus(*studio).x, 0.5, 1e-9);
  EXPECT_NEAR(StudioTestAccess::liveFocus(*studio).y, 0.5, 1e-9);
  // Held down: still the same click.
  pointer->raw = {{1200, 590}, true, 0};
  step(1.0 / 60);
  EXPECT_EQ(StudioTestAccess::liveClick(*studio), clicked);
  // Released and pressed again between two ticks: a new click.
  pointer->raw = {{1200, 590}, true, 1};
  step(1.0 / 60);
  EXPECT_EQ(StudioTestAccess::liveClick(*studio), h.clock.now);
}

TEST_F(StudioTick, TheLiveZoomHoldsStrictlyLessThanHold) {
  // Two recordings with the same click; the last tick falls a hair before `hold` in one
  // and exactly on it in the other.
  auto zoomAfter = [&](double last) {
    Harness other;
    Studio s(other.services());
    auto r = std::make_unique<TickRecording>();
    auto p = std::make_unique<FakePointer>();
    FakePointer* pointer = p.get();
    StudioTestAccess::setRecorder(s, std::move(r));
    StudioTestAccess::setPointer(s, std::move(p));
    StudioTestAccess::setRecordingStart(s, other.clock.now);
    s.setStandby(false);
    s.setRecording(true);
    EditSettings settings;
    settings.hold = 2.5;  // times exact in binary, so that "exactly hold" is exact
    s.setSettings(settings);
    pointer->raw = {{1060, 590}, true, 1};
    other.clock.now += 1.0 / 64;
    s.tick();
    double click = other.clock.now;
    pointer->raw = {{1060, 590}, false, 0};
    for (int i = 0; i < 64; ++i) {
      other.clock.now += 1.0 / 64;
      s.tick();
    }
    EXPECT_GT(s.state().zoom, 1.2);  // zooming in while held
    other.clock.now = click + 2.5 - 0.125;
    s.tick();
    other.clock.now = click + last;
    s.tick();
    return s.state().zoom;
  };
  EXPECT_GT(zoomAfter(2.5 - 1.0 / 1024), zoomAfter(2.5) + 1e-3);
}

TEST_F(StudioTick, WithZoomOffNoClickZooms) {
  startRecording();
  EditSettings off = studio->settings();
  off.zoomEnabled = false;
  studio->setSettings(off);
  pointer->raw = {{1060, 590}, true, 1};
  for (int i = 0; i < 30; ++i)
    step(1.0 / 60);
  EXPECT_NEAR(studio->state().zoom, 1, 1e-9);
}

TEST_F(StudioTick, SoftwarePlaybackRunsAtTheRateAndStopsExactlyAtTheEnd) {
  ASSERT_TRUE(studio->load(recordedClip(true, false)));
  studio->setPlaybackRate(2);
  studio->togglePlayback();
  step(3);
  EXPECT_DOUBLE_EQ(studio->time(), 6);
  EXPECT_TRUE(studio->playing());
  step(30);
  EXPECT_DOUBLE_EQ(studio->time(), 20);
  EXPECT_FALSE(studio->playing());

  // Within 1/600 s of the end counts as the end.
  studio->seek(20 - 2 * 0.0016666);  // 2 · (1/600 − a hair) at rate 2
  studio->togglePlayback();
  step(0.001);
  EXPECT_EQ(studio->time(), 20);
  EXPECT_FALSE(studio->playing());
}

TEST_F(StudioTick, TheSoundDrivesThePlayheadAndItsFailureStopsPlayback) {
  ASSERT_TRUE(studio->load(recordedClip()));
  FakeAudio* audio = h.audio;
  studio->togglePlayback();
  audio->current = 7;
  step(0.016);
  EXPECT_EQ(studio->time(), 0);  // held while the seek is in flight
  audio->seeks.back().done(true);
  drainEvents();
  step(0.016);
  EXPECT_EQ(studio->time(), 7);
  audio->current = std::nan("");
  step(0.016);
  EXPECT_EQ(studio->time(), 7);
  audio->current = 8;
  audio->failure = "decoder gave up";
  step(0.016);
  EXPECT_FALSE(studio->playing());
  EXPECT_EQ(studio->error(), L("播放失败：") + "decoder gave up");
  EXPECT_FALSE(audio->playingNow);
}

}  // namespace
}  // namespace vantry
