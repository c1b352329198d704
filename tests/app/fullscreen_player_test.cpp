// The full-screen player on a real controller: the cropped geometry and the panel, the
// controls hiding while it plays, and Escape closing it and handing the stage back.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QKeyEvent>
#include <QTest>

#include "app/preview_stage.h"
#include "app/shot_states.h"
#include "design/neon_slider.h"
#include "localization/qt/qt_text.h"
#include "player/fullscreen_player.h"
#include "player/playback_controls.h"
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
  // The pointer somewhere over the picture, away from the panel.
  void movePointer(QPoint at) { QTest::mouseMove(window(), at); }
};

TEST_F(Player, FillsTheScreenCroppedNeverLetterboxed) {
  ASSERT_TRUE(window());
  EXPECT_TRUE(studio->fullscreenPreview());
  EXPECT_TRUE(window()->isFullScreen());
  EXPECT_EQ(window()->windowTitle(), QL("全屏试看"));

  // The same player on other screens (a window that is not full screen, so that its size
  // can be chosen).
  auto* other = new FullscreenWindow(*studio);
  other->setAttribute(Qt::WA_DontShowOnScreen);
  other->resize(1440, 900);
  other->show();
  EXPECT_EQ(other->surface()->canvasRect(), QRectF(-80, 0, 1600, 900));
  // Composed at the canvas size (within 1080p), shown through the window's crop.
  EXPECT_EQ(other->surface()->compose(QSize(1600, 900)).size(), QSize(1600, 900));
  // The panel: at most 900 wide, centred, 16 above the bottom edge.
  QRect panel = other->panel()->geometry();
  EXPECT_EQ(panel.width(), 900);
  EXPECT_EQ(panel.left(), 270);
  EXPECT_EQ(panel.bottom() + 1, 900 - 16);

  // A portrait screen crops the sides far more, still filling the height; the panel keeps
  // 24 from the sides.
  other->resize(900, 1440);
  EXPECT_EQ(other->surface()->canvasRect(), QRectF((900 - 2560) / 2.0, 0, 2560, 1440));
  EXPECT_EQ(other->panel()->geometry().width(), 900 - 48);
  delete other;
}

TEST_F(Player, SliderSpansTheEditAndSeeksThroughTheController) {
  ASSERT_TRUE(window());
  NeonSlider* slider = window()->slider();
  EXPECT_EQ(slider->lower(), 0);
  EXPECT_DOUBLE_EQ(slider->upper(), studio->duration());
  EXPECT_TRUE(window()->controls()->fullScreen());
  emit slider->valueChanged(3.5);
  EXPECT_DOUBLE_EQ(studio->time(), 3.5);
  EXPECT_DOUBLE_EQ(slider->value(), 3.5);
  studio->seek(1.25);
  EXPECT_DOUBLE_EQ(slider->value(), 1.25);

  // A project with nothing left to play still has a slider range.
  Clip empty;
  empty.title = "Empty";
  studio->load(empty);
  QCoreApplication::processEvents();
  EXPECT_EQ(studio->duration(), 0);
  EXPECT_DOUBLE_EQ(slider->upper(), 0.001);
}

TEST_F(Player, ControlsHideWhilePlayingWithThePointerAway) {
  ASSERT_TRUE(window());
  window()->setHideDelay(60);
  movePointer(QPoint(200, 200));
  EXPECT_TRUE(window()->controlsShown());
  // Paused: the controls never hide.
  QTest::qWait(150);
  EXPECT_TRUE(window()->controlsShown());

  studio->setPlaying(true);
  EXPECT_TRUE(QTest::qWaitFor([this] { return !window()->controlsShown(); }, 3000));
  EXPECT_TRUE(QTest::qWaitFor([this] { return !window()->panel()->isVisible(); }, 3000));

  // Moving the pointer brings them back at once and restarts the wait.
  movePointer(QPoint(300, 220));
  EXPECT_TRUE(window()->controlsShown());
  EXPECT_TRUE(window()->panel()->isVisible());
  EXPECT_TRUE(QTest::qWaitFor([this] { return !window()->controlsShown(); }, 3000));

  // Resting on the panel keeps them, however long it plays.
  movePointer(window()->panel()->geometry().center());
  EXPECT_TRUE(window()->controlsShown());
  EXPECT_TRUE(window()->panelHovered());
  QTest::qWait(250);
  EXPECT_TRUE(window()->controlsShown());
  // Leaving it starts the wait again.
  movePointer(QPoint(200, 200));
  EXPECT_FALSE(window()->panelHovered());
  EXPECT_TRUE(QTest::qWaitFor([this] { return !window()->controlsShown(); }, 3000));

  // Pausing shows them and keeps them.
  studio->setPlaying(false);
  EXPECT_TRUE(window()->controlsShown());
  QTest::qWait(150);
  EXPECT_TRUE(window()->controlsShown());
}

TEST_F(Player, EscapeClosesItAndTheStageReturns) {
  ASSERT_TRUE(window());
  QPointer<FullscreenPlayer> watched = player;
  QPointer<FullscreenWindow> shown = window();
  PreviewStage stage(*studio, nullptr);
  stage.refreshNow();
  EXPECT_TRUE(stage.showsBlack());
  // A second request only brings the open player forward.
  studio->showFullscreenPreview();
  EXPECT_EQ(studio->fullscreenController(), watched.data());

  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QCoreApplication::sendEvent(window(), &escape);
  EXPECT_TRUE(QTest::qWaitFor([this] { return !studio->fullscreenPreview(); }, 2000));
  EXPECT_EQ(studio->fullscreenController(), nullptr);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(watched.isNull());
  EXPECT_TRUE(shown.isNull());
  stage.refreshNow();
  EXPECT_FALSE(stage.showsBlack());

  // The window manager taking a new player out of full screen closes it too.
  player = nullptr;
  studio->showFullscreenPreview();
  ASSERT_TRUE(window());
  EXPECT_TRUE(studio->fullscreenPreview());
  window()->setWindowState(Qt::WindowNoState);
  EXPECT_TRUE(QTest::qWaitFor([this] { return !studio->fullscreenPreview(); }, 2000));

  // So does the exit button of the transport.
  player = nullptr;
  studio->showFullscreenPreview();
  ASSERT_TRUE(window());
  window()->controls()->fullScreenButton()->click();
  EXPECT_TRUE(QTest::qWaitFor([this] { return !studio->fullscreenPreview(); }, 2000));
}

}  // namespace
}  // namespace vantry
