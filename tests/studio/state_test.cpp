#include <gtest/gtest.h>

#include "fakes.h"
#include "localization/localization.h"

namespace vantry {
namespace {

using namespace vantry::testing;

struct StudioState : ::testing::Test {
  Harness h;
  std::unique_ptr<Studio> studio;
  void SetUp() override { studio = std::make_unique<Studio>(h.services()); }
  void openProject(Clip clip = recordedClip()) { ASSERT_TRUE(studio->load(clip)); }
};

TEST_F(StudioState, EveryAssignmentNotifiesOnceAlsoForAnEqualValue) {
  Emissions seen(*studio);
  studio->setNotice(studio->notice());
  studio->setUseMicrophone(true);
  studio->setSelectedDisplay(studio->selectedDisplay());
  EXPECT_EQ(seen.changed, 3);
  EXPECT_EQ(seen.time, 0);

  // The playhead has its own signal so that 60 Hz never rebuilds the window.
  studio->setTime(1);
  studio->setTime(1);
  EXPECT_EQ(seen.time, 2);
  EXPECT_EQ(seen.changed, 3);
}

TEST_F(StudioState, SettingsRebuildMotionOnlyWhenMotionChangesButAlwaysAskForASave) {
  openProject();
  studio->setProjectURL("/nowhere/edit.json");
  const FrameState before = studio->motion().state(2.5);

  EditSettings look = studio->settings();
  look.padding = 0.05;
  studio->setSettings(look);
  EXPECT_EQ(studio->motion().state(2.5), before);
  EXPECT_TRUE(StudioTestAccess::savePending(*studio));

  EditSettings motion = studio->settings();
  motion.zoomAmount = 3.5;
  studio->setSettings(motion);
  EXPECT_NE(studio->motion().state(2.5), before);
  studio->setProjectURL(std::nullopt);  // nothing to write at the end of the test
}

TEST_F(StudioState, RateChangesKeepThePlayheadContinuous) {
  openProject(recordedClip(true, false));
  studio->setTime(4);
  studio->setPlaying(true);
  h.clock.now += 2;
  studio->setPlaybackRate(2);
  EXPECT_DOUBLE_EQ(studio->time(), 6);
  h.clock.now += 1;
  studio->tick();
  EXPECT_DOUBLE_EQ(studio->time(), 8);

  // Paused, a new rate only re-anchors.
  studio->setPlaying(false);
  h.clock.now += 5;
  studio->setPlaybackRate(0.5);
  EXPECT_DOUBLE_EQ(studio->time(), 8);
}

TEST_F(StudioState, RateReachesTheSoundOnlyWhilePlayingAndNotSeeking) {
  openProject();
  FakeAudio* audio = h.audio;
  studio->togglePlayback();  // playing, seek in flight
  studio->setPlaybackRate(1.5);
  EXPECT_EQ(audio->plays, 0);
  audio->seeks.back().done(true);
  drainEvents();
  EXPECT_EQ(audio->plays, 1);
  EXPECT_DOUBLE_EQ(audio->rate, 1.5);
  studio->setPlaybackRate(2);
  EXPECT_DOUBLE_EQ(audio->rate, 2);
  int pauses = audio->pauses;
  studio->setPlaying(false);
  EXPECT_EQ(audio->pauses, pauses + 1);
}

TEST_F(StudioState, ANewerLivePictureIsALiveFrameWhileItsComingAndGoingAreChanges) {
  // Whether recording can start hangs on a picture being there, which every view observes;
  // the pictures themselves only the views that show them.
  int changes = 0, frames = 0;
  QObject::connect(studio.get(), &Studio::changed, [&] { ++changes; });
  QObject::connect(studio.get(), &Studio::liveFrame, [&] { ++frames; });
  QImage frame(4, 4, QImage::Format_RGB32);
  studio->setLiveScreenImage(frame);
  studio->setLiveCameraImage(frame);
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(frames, 0);
  studio->setLiveScreenImage(frame.copy());
  studio->setLiveCameraImage(frame.copy());
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(frames, 2);
  studio->setLiveScreenImage({});
  studio->setLiveCameraImage({});
  EXPECT_EQ(changes, 4);
  EXPECT_EQ(frames, 2);
}

TEST_F(StudioState, RecordingNeedsLiveFramesAndNoSetupError) {
  QImage frame(4, 4, QImage::Format_RGB32);
  studio->setLiveScreenImage(frame);
  EXPECT_FALSE(studio->canStartRecording());  // the camera is wanted too
  studio->setLiveCameraImage(frame);
  EXPECT_TRUE(studio->canStartRecording());
  studio->setSetupError(std::string("no"));
  EXPECT_FALSE(studio->canStartRecording());
  studio->setSetupError(std::nullopt);
  studio->setLiveCameraImage({});
  EXPECT_FALSE(studio->canStartRecording());
  StudioTestAccess::setUseCamera(*studio, false);  // then the screen frame is enough
  EXPECT_TRUE(studio->canStartRecording());
  studio->setPreparing(true);
  EXPECT_FALSE(studio->canStartRecording());
}

TEST_F(StudioState, CameraAndLayoutFollowTheModeAndTheSelectedBlock) {
  // The demonstration project names no camera movie but has a presenter.
  ASSERT_TRUE(studio->load(makeDemoClip()));
  EXPECT_TRUE(studio->hasCamera());
  openProject(recordedClip(false, false));
  EXPECT_FALSE(studio->hasCamera());
  EXPECT_FALSE(studio->settings().showCamera);

  openProject();
  EXPECT_TRUE(studio->hasCamera());
  studio->setPresenter(true);  // at the playhead, from 0 on
  EXPECT_TRUE(studio->presenterFull());
  studio->seek(10);
  studio->setPresenter(false);  // from 10 on
  auto blocks = studio->clip().presenterBlocks();
  ASSERT_GE(blocks.size(), 2u);
  studio->selectPresenterBlock(blocks.front().id);
  studio->setTime(15);  // the selection, not the playhead, decides
  EXPECT_TRUE(studio->presenterFull());

  // An undo removes the block: the layout at the playhead applies again.
  studio->undoEdit();
  EXPECT_FALSE(studio->selectedPresenterBlock());
  studio->seek(15);
  EXPECT_TRUE(studio->presenterFull());
}

// The end of the timeline shows the last picture of the last kept stretch: the switch says
// the layout of the block that ends there, also when the cut tail had its own layout.
TEST_F(StudioState, AtTheEndTheLayoutIsThePictures) {
  openProject();
  studio->seek(15);
  studio->split();
  studio->setSelectedSegment(studio->clip().placedRanges().back().id());
  studio->deleteSelection();  // the tail after 15 s is cut
  const auto blocks = studio->clip().presenterBlocks();
  studio->selectPresenterBlock(blocks.back().id);
  studio->setPresenter(true);  // the last block, 0 to 15 s, full screen
  for (double at : {studio->duration(), studio->duration() + 4}) {
    studio->seek(at);
    EXPECT_GT(studio->state().presenterMix, 0.5) << at;
    EXPECT_TRUE(studio->presenterFull()) << at;
  }
  studio->seek(studio->duration() - 0.5);
  EXPECT_TRUE(studio->presenterFull());
}

TEST_F(StudioState, SourceNamesFallBackWhenGone) {
  h.screens->names[7] = "Dell U2720Q";
  EXPECT_EQ(studio->selectedScreenName(), "Dell U2720Q");
  studio->setSelectedDisplay(9);
  EXPECT_EQ(studio->selectedScreenName(), L("所选屏幕"));

  studio->setSelectedWindowID(42);
  EXPECT_EQ(studio->selectedScreenName(), L("所选窗口"));
  platform::WindowInfo untitled{42, "", {"org.editor", "Editor", 0}, {}, 0, true};
  platform::WindowInfo ownerless{43, "Notes", {}, {}, 0, true};
  StudioTestAccess::setWindows(*studio, {untitled, ownerless});
  EXPECT_EQ(studio->selectedScreenName(), "Editor · ");
  studio->setSelectedWindowID(43);
  EXPECT_EQ(studio->selectedScreenName(), L("窗口") + " · Notes");
}

}  // namespace
}  // namespace vantry
