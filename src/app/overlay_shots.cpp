// The display overlay's shot states. The main window opens the overlays as it does in the
// application; they are made offscreen, over a made-up desktop, and the one carrying the
// controls is rendered.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QRadialGradient>

#include "app/shot_states.h"
#include "app/studio_window.h"
#include "localization/localization.h"
#include "setup/monitor_overlay_view.h"
#include "setup/overlay_controller.h"
#include "studio/studio.h"

namespace vantry {

namespace {

// A made-up camera picture: a figure in front of a warm wall, lit from the left, so that a
// mirrored thumbnail is told from an upright one.
QImage syntheticCamera() {
  QImage image(320, 240, QImage::Format_ARGB32_Premultiplied);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient wall(0, 0, 320, 0);
  wall.setColorAt(0, QColor(0xF2, 0xC2, 0x8C));
  wall.setColorAt(1, QColor(0x5A, 0x4A, 0x6E));
  p.fillRect(image.rect(), wall);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x2B, 0x3A, 0x55));
  p.drawEllipse(QRectF(90, 150, 140, 140));
  QRadialGradient face(QPointF(145, 100), 50);
  face.setColorAt(0, QColor(0xF5, 0xD0, 0xB0));
  face.setColorAt(1, QColor(0xB8, 0x86, 0x6A));
  p.setBrush(face);
  p.drawEllipse(QRectF(120, 60, 80, 90));
  return image;
}

OverlayWindow* controlsOverlay() {
  for (OverlayWindow* window : RecordingOverlayController::shared().windows())
    if (window->view()->showsControls()) return window;
  return nullptr;
}

// Runs the event loop until `done` holds (the overlay's waits are timers).
void settle(const std::function<bool()>& done) {
  QElapsedTimer t;
  t.start();
  while (!done() && t.elapsed() < 3000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// Opens the overlays through the main window, offscreen, over the made-up desktop.
platform::DisplayId openOverlays(Studio& s, StudioWindow& window) {
  RecordingOverlayController::shared().setOffscreen(true);
  s.setSetupMode(RecordingSource::display);
  s.setShowingRecordingSetup(true);
  window.refreshNow();
  OverlayWindow* overlay = controlsOverlay();
  if (!overlay) return 0;
  overlay->setBackdrop(syntheticDesktop(overlay->width(), overlay->height()));
  // The capture's monitors are listed on the worker; the card's display id follows them.
  settle([&s] { return !s.loadingSources(); });
  return overlay->displayId();
}

// Starts the overlay's display, whose live picture then comes, so that the countdown begins.
void startCounting(Studio& s, StudioWindow& window) {
  auto& overlay = RecordingOverlayController::shared();
  overlay.start(openOverlays(s, window));
  s.setLiveScreenImage(syntheticDesktop(1920, 1080));
  s.setLiveCameraImage(syntheticCamera());
  s.setPreparing(false);
  settle([&overlay] { return overlay.countdown().has_value(); });
}

QImage renderOverlay(Studio&, StudioWindow&) {
  OverlayWindow* overlay = controlsOverlay();
  return overlay ? overlay->grab().toImage() : QImage();
}

// The bottom of the overlay around its control bar.
QImage renderControlBar(Studio&, StudioWindow&) {
  OverlayWindow* overlay = controlsOverlay();
  if (!overlay) return {};
  const QRect bar = overlay->view()->controlBar()->geometry();
  return overlay->grab(bar.adjusted(-48, -40, 48, 40)).toImage();
}

}  // namespace

std::vector<ShotState> overlayShotStates() {
  return {
      {"overlay-choosing",
       [](Studio& s, StudioWindow& w) {
         s.setUseCamera(false);  // the bar's camera-off look; the controls shot has it on
         const platform::DisplayId id = openOverlays(s, w);
         RecordingOverlayController::shared().setHovered(id);
       },
       renderOverlay},
      {"overlay-connecting",
       [](Studio& s, StudioWindow& w) {
         RecordingOverlayController::shared().start(openOverlays(s, w));
       },
       renderOverlay},
      {"overlay-countdown", startCounting, renderOverlay},
      {"overlay-message",
       [](Studio& s, StudioWindow& w) {
         auto& overlay = RecordingOverlayController::shared();
         overlay.start(openOverlays(s, w));
         s.setSetupError(L("未收到实时画面。请检查所选屏幕、摄像头和系统权限，再点击重新预览。"));
         s.setPreparing(false);
         settle([&overlay] { return overlay.message().has_value(); });
       },
       renderOverlay},
      {"overlay-controls",
       [](Studio& s, StudioWindow& w) {
         openOverlays(s, w);
         s.setUseCamera(true);
         s.setLiveCameraImage(syntheticCamera());
         s.setFullPresenter(false);
         s.setUseMicrophone(true);
       },
       renderControlBar},
  };
}

}  // namespace vantry
