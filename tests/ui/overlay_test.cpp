// The display overlays over a scripted capture, with every wait scaled down: keys, hover,
// the wait for a startable preview, the countdown, hiding before the start and coming back
// after a failed one.
#include <gtest/gtest.h>

#include <QGraphicsOpacityEffect>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>

#include <algorithm>
#include <memory>

#include "design/pill_segment.h"
#include "localization/qt/language_settings.h"
#include "setup/monitor_overlay_view.h"
#include "setup/overlay_controller.h"
#include "ui/overlay_support.h"

namespace vantry {
namespace {

using testing::waitUntil;

struct OverlayFixture : ::testing::Test, testing::OverlayStudio {
  std::vector<std::optional<int>> countdowns;

  void SetUp() override {
    open();
    overlay->setOffscreen(true);
    QObject::connect(overlay.get(), &RecordingOverlayController::changed, [this] {
      if (countdowns.empty() || countdowns.back() != overlay->countdown())
        countdowns.push_back(overlay->countdown());
    });
    overlay->show(*studio);
    // The main window hides the overlays when the setup closes.
    QObject::connect(studio.get(), &Studio::changed, overlay.get(), [this] {
      if (!studio->showingRecordingSetup() && !overlay->windows().empty()) overlay->hide();
    });
  }
  void TearDown() override { close(); }
  platform::DisplayId firstId() { return overlay->windows().front()->displayId(); }
  void key(OverlayWindow* window, int code, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QKeyEvent event(QEvent::KeyPress, code, mods);
    QCoreApplication::sendEvent(window, &event);
  }
  // Delivers the first frame of the newest display preview, once the capture queue made and
  // started it.
  bool previewReady() {
    StudioTestAccess::settle(*studio);
    const auto preview = capture->previews.back();
    if (!preview || !preview->started()) return false;
    preview->frame();
    return waitUntil([this] { return studio->canStartRecording(); });
  }
  bool anyVisible() {
    for (OverlayWindow* w : overlay->windows())
      if (w->isVisible()) return true;
    return false;
  }
};

TEST_F(OverlayFixture, OneOverlayPerScreenAndTheControlsOnExactlyOne) {
  const auto screens = QGuiApplication::screens();
  ASSERT_EQ(overlay->windows().size(), size_t(screens.size()));
  int withControls = 0;
  for (size_t i = 0; i < overlay->windows().size(); ++i) {
    OverlayWindow* w = overlay->windows()[i];
    EXPECT_EQ(w->targetScreen(), screens[int(i)]) << "in the order of the screens";
    EXPECT_TRUE(w->isVisible());
    if (w->view()->showsControls()) {
      ++withControls;
      EXPECT_EQ(w->targetScreen(), overlay->controlsScreen());
      EXPECT_TRUE(w->view()->controlBar()->isVisible());
    }
  }
  EXPECT_EQ(withControls, 1);
  // No capture monitor matches the offscreen screen: its id is 0.
  EXPECT_EQ(firstId(), 0u);
  const QScreen* s = screens.front();
  EXPECT_EQ(overlay->windows().front()->view()->pixelText(),
            QStringLiteral("%1 × %2")
                .arg(qRound(s->geometry().width() * s->devicePixelRatio()))
                .arg(qRound(s->geometry().height() * s->devicePixelRatio())));
}

TEST_F(OverlayFixture, DisplayIdsComeFromTheOutputNameElseTheDevicePixelGeometry) {
  QScreen* s = QGuiApplication::primaryScreen();
  const QRect g = s->geometry();
  const double k = s->devicePixelRatio();
  std::vector<platform::DisplayInfo> displays{
      {5, "elsewhere", {0, 0, 10, 10}, false, 1},
      {9, "", {g.x() * k, g.y() * k, g.width() * k, g.height() * k}, true, 1}};
  EXPECT_EQ(RecordingOverlayController::displayIdFor(s, displays), 9u);
  if (!s->name().isEmpty()) {
    displays.push_back({3, s->name().toStdString(), {1, 2, 3, 4}, false, 1});
    EXPECT_EQ(RecordingOverlayController::displayIdFor(s, displays), 3u);
  }
  EXPECT_EQ(RecordingOverlayController::displayIdFor(s, {}), 0u);
}

TEST_F(OverlayFixture, APointerThatEnteredBeforeTheDisplaysWereListedStartsItsDisplay) {
  OverlayWindow* w = overlay->windows().front();
  ASSERT_EQ(firstId(), 0u);
  // The pointer was already on the screen: the view reported the display it knew, none.
  w->setAttribute(Qt::WA_UnderMouse, true);
  overlay->setHovered(0);
  const QRect g = w->targetScreen()->geometry();
  const double k = w->targetScreen()->devicePixelRatio();
  capture->setDisplays({{7, "", {g.x() * k, g.y() * k, g.width() * k, g.height() * k}, true, 1}});
  studio->refreshCaptureSources();
  ASSERT_TRUE(waitUntil([this] { return firstId() == 7u; }));
  EXPECT_EQ(overlay->hovered(), 7u);
  key(w, Qt::Key_Return);
  EXPECT_EQ(overlay->pending(), 7u) << "Return started an unknown display";
}

TEST_F(OverlayFixture, HoverIsClearedOnlyByLeavingItsOwnDisplay) {
  overlay->setHovered(4);
  overlay->leave(5);
  EXPECT_EQ(overlay->hovered(), 4u);
  overlay->leave(4);
  EXPECT_EQ(overlay->hovered(), std::nullopt);
}

TEST_F(OverlayFixture, ReturnAndKeypadEnterStartTheHoveredDisplayElseTheirOwn) {
  OverlayWindow* w = overlay->windows().front();
  key(w, Qt::Key_Return);
  EXPECT_EQ(overlay->pending(), firstId()) << "nothing hovered: the overlay's own display";
  EXPECT_EQ(w->view()->slot(), MonitorOverlayView::Slot::connecting);
  overlay->cancel();
  EXPECT_EQ(overlay->pending(), std::nullopt);

  studio->setShowingRecordingSetup(true);
  overlay->show(*studio);
  w = overlay->windows().front();
  overlay->setHovered(42);
  key(w, Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_EQ(overlay->pending(), 42u);
  EXPECT_EQ(studio->selectedDisplay(), 42u);
  EXPECT_FALSE(w->view()->active()) << "another display is being started";
  EXPECT_EQ(w->view()->slot(), MonitorOverlayView::Slot::disc);
  EXPECT_FALSE(w->view()->disc()->isEnabled());

  overlay->start(7);
  EXPECT_EQ(overlay->pending(), 42u) << "a second start is ignored";

  key(w, Qt::Key_Escape);
  EXPECT_EQ(overlay->pending(), std::nullopt);
  EXPECT_FALSE(overlay->running());
  EXPECT_FALSE(studio->showingRecordingSetup());
}

TEST_F(OverlayFixture, ThePreviewWaitEndsWithTheTimeoutTextOrAtOnceWithThePreviewError) {
  overlay->start(7);
  // The preview never shows a frame: after 150 polls the no-live-image text.
  ASSERT_TRUE(waitUntil([this] { return !overlay->running(); }, 10000));
  EXPECT_EQ(overlay->pending(), std::nullopt);
  ASSERT_TRUE(overlay->message());
  EXPECT_TRUE(overlay->message()->contains(QStringLiteral("未收到实时画面")) ||
              overlay->message()->contains(QStringLiteral("No live image")));
  EXPECT_TRUE(overlay->windows().front()->view()->shownMessage() == *overlay->message());

  // In real time now: 150 polls would take 15 s.
  RecordingOverlayController::setTimeScale(1);
  const size_t before = capture->previews.size();
  overlay->start(8);
  EXPECT_EQ(overlay->message(), std::nullopt) << "a new start hides the message";
  StudioTestAccess::settle(*studio);
  ASSERT_GT(capture->previews.size(), before);
  capture->previews.back()->fail("display lost");
  ASSERT_TRUE(waitUntil([this] { return studio->setupError().has_value(); }));
  // Ended by the error at the next poll, long before the 150th.
  ASSERT_TRUE(waitUntil([this] { return !overlay->running(); }, 5000));
  ASSERT_TRUE(overlay->message());
  EXPECT_TRUE(overlay->message()->contains(QStringLiteral("display lost")))
      << overlay->message()->toStdString();
}

TEST_F(OverlayFixture, CountdownThenNoOverlayMappedWhenTheRecordingStarts) {
  bool checked = false;
  bool mappedAtStart = true;
  QObject::connect(studio.get(), &Studio::changed, overlay.get(), [&] {
    if (studio->busy() && !checked) {
      checked = true;
      mappedAtStart = anyVisible();
    }
  });
  overlay->start(firstId());
  ASSERT_TRUE(previewReady());
  ASSERT_TRUE(waitUntil([this] { return overlay->countdown() == 3; }));
  EXPECT_EQ(overlay->currentWait(), RecordingOverlayController::kCountdownStep);
  EXPECT_EQ(overlay->windows().front()->view()->slot(), MonitorOverlayView::Slot::countdown);
  ASSERT_TRUE(waitUntil([this] { return studio->recording(); }));
  EXPECT_TRUE(checked);
  EXPECT_FALSE(mappedAtStart);
  std::vector<std::optional<int>> counted;
  for (auto c : countdowns)
    if (c) counted.push_back(c);
  EXPECT_EQ(counted, (std::vector<std::optional<int>>{3, 2, 1}));
  EXPECT_EQ(countdowns.back(), std::nullopt);
  EXPECT_TRUE(waitUntil([this] { return overlay->windows().empty(); }));
}

TEST_F(OverlayFixture, AFailedStartBringsTheOverlaysBackClickableWithTheReason) {
  capture->onRecording = [](testing::FakeRecording& r) {
    r.startError = "no space on disk";
    r.probe->gate.close();
  };
  overlay->start(firstId());
  ASSERT_TRUE(previewReady());
  ASSERT_TRUE(waitUntil([this] { return !capture->recordings.empty(); }));
  ASSERT_TRUE(studio->busy());
  EXPECT_FALSE(anyVisible());
  // Escape while busy neither closes the setup nor abandons the start.
  key(overlay->windows().front(), Qt::Key_Escape);
  overlay->chooseWindow();
  overlay->start(3);
  EXPECT_TRUE(studio->showingRecordingSetup());
  EXPECT_EQ(studio->setupMode(), RecordingSource::display);
  EXPECT_EQ(overlay->pending(), firstId());
  EXPECT_TRUE(overlay->running());

  capture->recordings[0]->gate.open();
  ASSERT_TRUE(waitUntil([this] { return !overlay->running(); }));
  EXPECT_FALSE(studio->recording());
  EXPECT_EQ(overlay->pending(), std::nullopt);
  for (OverlayWindow* w : overlay->windows()) {
    EXPECT_TRUE(w->isVisible());
    EXPECT_FALSE(w->testAttribute(Qt::WA_TransparentForMouseEvents));
    EXPECT_DOUBLE_EQ(w->view()->fade(), 1.0);
  }
  ASSERT_TRUE(overlay->message());
  EXPECT_TRUE(overlay->message()->contains(QStringLiteral("no space on disk")));
  overlay->start(7);
  EXPECT_EQ(overlay->pending(), 7u) << "a new choice is accepted";
}

TEST_F(OverlayFixture, ChoosingWindowModeFromTheSourcePill) {
  MonitorOverlayView* view = nullptr;
  for (OverlayWindow* w : overlay->windows())
    if (w->view()->showsControls()) view = w->view();
  ASSERT_NE(view, nullptr);
  view->sourcePill()->choose(0);
  EXPECT_EQ(studio->setupMode(), RecordingSource::display);
  view->sourcePill()->choose(1);
  EXPECT_EQ(studio->setupMode(), RecordingSource::window);
}

// The main window closes the overlays as it goes, and its studio goes right after it: what
// still fades or waits for deletion never reaches that studio, neither by painting nor when
// the language changes.
TEST_F(OverlayFixture, ClosedOverlaysNeverReachTheStudioThatWent) {
  overlay->setOffscreen(false);
  overlay->show(*studio);
  std::vector<QPointer<OverlayWindow>> windows(overlay->windows().begin(),
                                               overlay->windows().end());
  ASSERT_FALSE(windows.empty());
  overlay->hide();
  ASSERT_TRUE(windows.front()->isVisible()) << "fading out";
  studio.reset();
  for (const QPointer<OverlayWindow>& w : windows)
    EXPECT_FALSE(w && w->isVisible()) << "still painting a studio that went";
  LanguageSettings::shared().setSelected(LanguageSettings::shared().selected());
  EXPECT_TRUE(waitUntil([&windows] {
    return std::all_of(windows.begin(), windows.end(), [](auto& w) { return w.isNull(); });
  }));
}

TEST_F(OverlayFixture, TheCameraThumbnailIsMirroredExactlyWhenTheSettingMirrors) {
  MonitorOverlayView* view = nullptr;
  for (OverlayWindow* w : overlay->windows())
    if (w->view()->showsControls()) view = w->view();
  ASSERT_NE(view, nullptr);
  studio->setUseCamera(true);
  QImage frame(40, 40, QImage::Format_ARGB32_Premultiplied);
  frame.fill(Qt::blue);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 20; ++x)
      frame.setPixelColor(x, y, Qt::red);
  studio->setLiveCameraImage(frame);
  auto leftIsRed = [&] {
    const QColor c = view->cameraButton()->thumbnail().pixelColor(8, 15);
    return c.red() > c.blue();
  };
  EditSettings settings = studio->settings();
  settings.mirrorCamera = false;
  studio->setSettings(settings);
  EXPECT_TRUE(leftIsRed());
  settings.mirrorCamera = true;
  studio->setSettings(settings);
  EXPECT_FALSE(leftIsRed());
  // With the camera off the presenter pill ignores clicks.
  auto* fade = qobject_cast<QGraphicsOpacityEffect*>(view->presenterPill()->graphicsEffect());
  ASSERT_NE(fade, nullptr);
  EXPECT_DOUBLE_EQ(fade->opacity(), 1.0);
  studio->setUseCamera(false);
  EXPECT_FALSE(view->presenterPill()->isEnabled());
  EXPECT_DOUBLE_EQ(fade->opacity(), 0.4) << "dimmed";
}

}  // namespace
}  // namespace vantry
