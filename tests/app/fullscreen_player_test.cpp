// The full-screen player on a real controller: the cropped geometry, the controls hiding
// while it plays, and Escape closing it and handing the stage back.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QTest>

#include "app/shot_states.h"
#include "export/fullscreen_player.h"
#include "preview/preview_surface.h"
#include "studio/studio.h"

namespace vantry {
namespace {

struct Player : ::testing::Test {
  FullscreenPlayer* player = nullptr;
  std::unique_ptr<Studio> studio;
  Player() {
    StudioServices services = offscreenStudioServices();
    services.makeFullscreen = [this](Studio& s) -> FullscreenPreviewController* {
      player = new FullscreenPlayer(s);
      return player;
    };
    studio = std::make_unique<Studio>(std::move(services));
    studio->demo();
    studio->setPlaying(false);
    studio->showFullscreenPreview();
  }
  ~Player() override { delete studio->fullscreenController(); }
  FullscreenWindow* window() { return player ? player->window() : nullptr; }
};

TEST_F(Player, FillsTheScreenCroppedNeverLetterboxed) {
  ASSERT_TRUE(window());
  EXPECT_TRUE(studio->fullscreenPreview());
  EXPECT_TRUE(window()->isFullScreen());
  window()->showNormal();
  window()->resize(1440, 900);
  window()->surface()->resize(1440, 900);
  EXPECT_EQ(window()->surface()->canvasRect(), QRectF(-80, 0, 1600, 900));
}

TEST_F(Player, ControlsHideWhilePlayingAndReturnOnPause) {
  ASSERT_TRUE(window());
  window()->setHideDelay(30);
  EXPECT_TRUE(window()->controlsShown());
  studio->setPlaying(true);
  QTest::qWaitFor([this] { return !window()->controlsShown(); }, 3000);
  EXPECT_FALSE(window()->controlsShown());
  studio->setPlaying(false);
  EXPECT_TRUE(window()->controlsShown());
}

TEST_F(Player, EscapeClosesItAndTheStageReturns) {
  ASSERT_TRUE(window());
  QPointer<FullscreenPlayer> watched = player;
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QCoreApplication::sendEvent(window(), &escape);
  EXPECT_FALSE(studio->fullscreenPreview());
  EXPECT_EQ(studio->fullscreenController(), nullptr);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(watched.isNull());
  // Opening again makes a new player.
  studio->showFullscreenPreview();
  EXPECT_TRUE(studio->fullscreenPreview());
}

}  // namespace
}  // namespace vantry
