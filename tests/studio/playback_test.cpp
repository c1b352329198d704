#include <gtest/gtest.h>

#include <QPointer>
#include <algorithm>
#include <cmath>

#include "fakes.h"
#include "localization/localization.h"

namespace vantry {
namespace {

using namespace vantry::testing;

using StudioPlayback = ProjectFixture;

TEST_F(StudioPlayback, SeeksClampAndClearThePresenterSelection) {
  studio->setPresenter(true);
  studio->selectPresenterBlock(studio->clip().presenterBlocks().front().id);
  ASSERT_TRUE(studio->selectedPresenterID());
  studio->seek(-3);
  EXPECT_EQ(studio->time(), 0);
  EXPECT_FALSE(studio->selectedPresenterID());
  studio->seek(99);
  EXPECT_EQ(studio->time(), 20);
  studio->seek(std::nan(""));
  EXPECT_EQ(studio->time(), 20);
  // The readers are asked for the pictures at the playhead's source and camera times.
  EXPECT_EQ(h.frames["/rec/screen.mov"]->requests.back(), 20);
}

// While playing, the screen is read for the widest stage at the zoom of the moment or of a
// quarter second on; at rest, and again once playing stops, whole. The camera is read whole.
TEST_F(StudioPlayback, TheScreenIsReadAsWideAsTheStagesShowIt) {
  FakeFrames* screen = h.frames["/rec/screen.mov"];
  FakeFrames* camera = h.frames["/rec/camera.mov"];
  const int wide = 0, narrow = 0;
  studio->setStageWidth(&wide, 800);
  studio->setStageWidth(&narrow, 600);
  studio->seek(0.5);
  EXPECT_EQ(screen->widths.back(), 0);
  studio->togglePlayback();
  EXPECT_EQ(screen->widths.back(), 800);
  const auto zoomAt = [&](double t) { return studio->motion().state(t).zoom; };
  ASSERT_GT(zoomAt(3), 1.2);  // the click at 2 s zooms in
  studio->seek(1.9);
  EXPECT_EQ(screen->widths.back(), int(std::ceil(800 * std::max(zoomAt(1.9), zoomAt(2.15)))));
  EXPECT_GT(screen->widths.back(), 800);
  studio->setStageWidth(&wide, 0);
  studio->seek(3);
  EXPECT_EQ(screen->widths.back(), int(std::ceil(600 * std::max(zoomAt(3), zoomAt(3.25)))));
  const std::size_t asked = screen->requests.size();
  studio->togglePlayback();
  ASSERT_EQ(screen->requests.size(), asked + 1);
  EXPECT_EQ(screen->requests.back(), 3);
  EXPECT_EQ(screen->widths.back(), 0);
  for (int width : camera->widths)
    EXPECT_EQ(width, 0);
}

TEST_F(StudioPlayback, OnlyTheNewestSeekStartsTheSound) {
  FakeAudio* audio = h.audio;
  studio->togglePlayback();
  studio->seek(5);
  ASSERT_EQ(audio->seeks.size(), 2u);
  EXPECT_TRUE(studio->seeking());
  audio->seeks[0].done(true);  // superseded, even though it finished
  drainEvents();
  EXPECT_TRUE(studio->seeking());
  EXPECT_EQ(audio->plays, 0);
  audio->seeks[1].done(true);
  drainEvents();
  EXPECT_FALSE(studio->seeking());
  EXPECT_EQ(audio->plays, 1);
  EXPECT_TRUE(studio->playing());
}

TEST_F(StudioPlayback, AnEditDuringASeekLeavesItsCompletionWithoutEffect) {
  studio->seek(10);
  FakeAudio* old = h.audio;
  const int built = h.audioBuilt;
  studio->togglePlayback();
  auto lateCompletion = old->seeks.back().done;
  studio->split();  // rebuilds the player
  // Counted, not compared by address: the new player may take the old one's memory.
  EXPECT_EQ(h.audioBuilt, built + 1);
  EXPECT_FALSE(studio->seeking());
  FakeAudio* now = h.audio;
  lateCompletion(true);
  drainEvents();
  EXPECT_EQ(now->plays, 0);
  EXPECT_FALSE(studio->playing());
}

TEST_F(StudioPlayback, AnInterruptedSeekStopsAndAPausedSeekStaysPaused) {
  FakeAudio* audio = h.audio;
  studio->seek(3);
  audio->seeks.back().done(true);
  drainEvents();
  EXPECT_FALSE(studio->playing());
  EXPECT_EQ(audio->plays, 0);
  EXPECT_EQ(audio->current, 3);

  studio->togglePlayback();
  audio->seeks.back().done(false);
  drainEvents();
  EXPECT_FALSE(studio->playing());
  EXPECT_FALSE(studio->seeking());
}

TEST_F(StudioPlayback, PlayAtTheEndStartsFromTheBeginning) {
  studio->seek(20);
  studio->togglePlayback();
  EXPECT_EQ(studio->time(), 0);
  EXPECT_TRUE(studio->playing());
  studio->togglePlayback();
  studio->seek(8);
  studio->togglePlayback();
  EXPECT_EQ(studio->time(), 8);
}

TEST_F(StudioPlayback, AReadingFailureStopsPlaybackOnce) {
  studio->togglePlayback();
  h.frames["/rec/camera.mov"]->fail("camera unreadable");
  drainEvents();
  EXPECT_FALSE(studio->playing());
  EXPECT_FALSE(studio->seeking());
  EXPECT_EQ(studio->error(), "camera unreadable");
  studio->setError(std::nullopt);
  drainEvents();
  EXPECT_FALSE(studio->error());
}

TEST_F(StudioPlayback, WithoutSoundSeeksReanchorAtOnceAndSilentPlaysAfterAFailedPlayer) {
  h.audioFails = true;
  ASSERT_TRUE(studio->load(recordedClip()));
  EXPECT_EQ(studio->error(), "bad sound");  // the opener's own message, naming its file
  EXPECT_FALSE(studio->hasVoice());
  studio->togglePlayback();
  EXPECT_FALSE(studio->seeking());
  studio->seek(4);
  EXPECT_FALSE(studio->seeking());
  h.clock.now += 1;
  studio->tick();
  EXPECT_DOUBLE_EQ(studio->time(), 5);
}

TEST_F(StudioPlayback, RefusedInLivePreviewAndWhileRecordingSeekAllowedDuringExport) {
  studio->setExporting(true);
  studio->togglePlayback();
  EXPECT_FALSE(studio->playing());
  studio->seek(4);
  EXPECT_EQ(studio->time(), 4);
  studio->setExporting(false);
  studio->setRecording(true);
  studio->seek(9);
  studio->togglePlayback();
  EXPECT_EQ(studio->time(), 4);
  EXPECT_FALSE(studio->playing());
  studio->setRecording(false);
}

class FakeFullscreen : public FullscreenPreviewController {
 public:
  int presented = 0;
  int raised = 0;
  void present() override { ++presented; }
  void raise() override { ++raised; }
};

TEST(StudioFullscreen, OneWindowAtATimeReleasedLaterWhenClosed) {
  Harness h;
  int made = 0;
  StudioServices services = h.services();
  services.makeFullscreen = [&](Studio&) {
    ++made;
    return new FakeFullscreen;
  };
  auto studio = std::make_unique<Studio>(services);
  studio->showFullscreenPreview();  // refused in live preview
  EXPECT_EQ(made, 0);
  ASSERT_TRUE(studio->load(recordedClip()));
  studio->showFullscreenPreview();
  studio->showFullscreenPreview();
  EXPECT_EQ(made, 1);
  QPointer<FullscreenPreviewController> first = studio->fullscreenController();
  EXPECT_EQ(static_cast<FakeFullscreen*>(first.data())->raised, 1);
  EXPECT_TRUE(studio->fullscreenPreview());

  studio->fullscreenClosed();
  EXPECT_FALSE(studio->fullscreenPreview());
  EXPECT_TRUE(first);  // still alive while its own close handling runs
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_FALSE(first);
  studio->showFullscreenPreview();
  EXPECT_EQ(made, 2);

  // Destroying the controller releases an open window too.
  QPointer<FullscreenPreviewController> second = studio->fullscreenController();
  studio.reset();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_FALSE(second);
}

}  // namespace
}  // namespace vantry
