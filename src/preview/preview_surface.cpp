#include "preview/preview_surface.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "model/camera_layout.h"
#include "render/export_compositor.h"
#include "render/frame_renderer.h"
#include "studio/studio.h"

namespace vantry {

namespace {

constexpr double kCanvasWidth = 1920;
constexpr double kCanvasHeight = 1080;

}  // namespace

PreviewSurface::PreviewSurface(Studio* studio, QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);
  setFocusPolicy(Qt::ClickFocus);
  setStudio(studio);
}

PreviewSurface::~PreviewSurface() = default;

void PreviewSurface::setStudio(Studio* studio) {
  if (studio_ == studio) return;
  for (auto& c : connections_)
    disconnect(c);
  if (dragging()) endDrag();
  studio_ = studio;
  if (studio) {
    connections_[0] = connect(studio, &Studio::changed, this, [this] { update(); });
    connections_[1] = connect(studio, &Studio::timeChanged, this, [this] { update(); });
    connections_[2] = connect(studio, &Studio::frameTick, this, [this] { update(); });
  }
  update();
}

void PreviewSurface::setFit(Fit fit) {
  fit_ = fit;
  update();
}

QRectF PreviewSurface::canvasRect() const {
  const QRectF bounds = rect();
  if (fit_ == Fit::stretch || bounds.isEmpty()) return bounds;
  const double scale = std::max(bounds.width() / kCanvasWidth, bounds.height() / kCanvasHeight);
  QRectF r(0, 0, kCanvasWidth * scale, kCanvasHeight * scale);
  r.moveCenter(bounds.center());
  return r;
}

Point PreviewSurface::canvasPoint(QPointF p) const {
  const QRectF r = canvasRect();
  if (r.isEmpty()) return {};
  return {(p.x() - r.x()) / r.width() * kCanvasWidth, (p.y() - r.y()) / r.height() * kCanvasHeight};
}

bool PreviewSurface::canDragCamera() const {
  if (!studio_ || studio_->exporting()) return false;
  if (!(studio_->state().presenterMix < 0.01) || !studio_->settings().showCamera) return false;
  if (studio_->live()) return !studio_->liveCameraImage().isNull();
  return studio_->clip().isDemo || studio_->cameraFrames() != nullptr;
}

QRectF PreviewSurface::cameraViewRect() const {
  if (!studio_) return {};
  const auto state = studio_->state();
  const Rect b = CameraLayout::rect(studio_->settings(), state.zoom, state.presenterMix);
  const QRectF r = canvasRect();
  const double sx = r.width() / kCanvasWidth;
  const double sy = r.height() / kCanvasHeight;
  return {r.x() + b.x * sx, r.y() + b.y * sy, b.width * sx, b.height * sy};
}

const QImage& PreviewSurface::compose(QSize pixels) {
  if (!studio_ || pixels.isEmpty()) return composed_;
  const Studio& s = *studio_;
  const Clip& clip = s.clip();
  const bool live = s.live();

  // The player's time while it plays with sound, so the picture follows what is heard.
  double t = s.displayTime();
  if (!std::isfinite(t)) t = s.time();
  const double source = clip.sourceTime(t);

  QImage screen;
  QImage camera;
  FrameState state;
  if (live) {
    screen = s.liveScreenImage();
    camera = s.liveCameraImage();
    state = s.state();
  } else {
    if (auto* frames = s.screenFrames()) screen = frames->latest();
    if (auto* frames = s.cameraFrames()) camera = frames->latest();
    state = s.motion().state(source);
    state.presenterMix = clip.presenterMix(source);
    // Demonstration art only in the demonstration project, never in live mode.
    if (clip.isDemo) {
      if (screen.isNull() && s.renderer().demoScreen()) screen = *s.renderer().demoScreen();
      if (camera.isNull() && s.renderer().demoCamera()) camera = *s.renderer().demoCamera();
    }
  }

  // Above 1080p the compositor composes at 1080p and scales up: far cheaper than composing
  // every device pixel.
  const QSize size = ExportCompositor::composeSize(pixels);
  if (!compositor_ || compositor_->outputSize() != size)
    compositor_ =
        std::make_unique<ExportCompositor>(s.settings(), size, CompositorStyle::preview());
  else if (!(compositor_->settings() == s.settings()))
    compositor_->setSettings(s.settings());
  if (composed_.size() != pixels) composed_ = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
  compositor_->renderScaled(screen.isNull() ? nullptr : &screen,
                            camera.isNull() ? nullptr : &camera, state, composed_);
  return composed_;
}

void PreviewSurface::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRectF target = canvasRect();
  const double dpr = devicePixelRatioF();
  const QSize pixels(int(std::lround(target.width() * dpr)),
                     int(std::lround(target.height() * dpr)));
  if (!studio_ || pixels.isEmpty()) {
    painter.fillRect(rect(), Qt::black);
    return;
  }
  compose(pixels);
  painter.drawImage(target, composed_, QRectF(composed_.rect()));
}

void PreviewSurface::mousePressEvent(QMouseEvent* event) {
  const QPointF at = event->position();
  if (event->button() != Qt::LeftButton || !studio_ || !canDragCamera() ||
      !cameraViewRect().contains(at))
    return QWidget::mousePressEvent(event);
  setFocus(Qt::MouseFocusReason);
  const auto& settings = studio_->settings();
  dragStart_ = canvasPoint(at);
  dragCenter_ = CameraLayout::rect(settings, 1, 0).center();
  dragOriginal_ = settings.cameraPosition;
  setCursor(Qt::ClosedHandCursor);
  grabMouse();
}

void PreviewSurface::mouseMoveEvent(QMouseEvent* event) {
  const QPointF at = event->position();
  if (!dragStart_ || !dragCenter_ || !studio_) return updateCursor(at);
  const Point p = canvasPoint(at);
  auto settings = studio_->settings();
  settings.cameraPosition = CameraLayout::draggedPosition(
      *dragCenter_, {p.x - dragStart_->x, p.y - dragStart_->y}, settings);
  studio_->setSettings(settings);
  update();
}

void PreviewSurface::mouseReleaseEvent(QMouseEvent* event) {
  if (!dragStart_) return QWidget::mouseReleaseEvent(event);
  endDrag();
  updateCursor(event->position());
}

void PreviewSurface::keyPressEvent(QKeyEvent* event) {
  if (event->key() != Qt::Key_Escape || !dragStart_) return QWidget::keyPressEvent(event);
  if (studio_) {
    auto settings = studio_->settings();
    settings.cameraPosition = dragOriginal_;
    studio_->setSettings(settings);
  }
  endDrag();
  updateCursor(mapFromGlobal(QCursor::pos()));
}

void PreviewSurface::endDrag() {
  dragStart_.reset();
  dragCenter_.reset();
  if (QWidget::mouseGrabber() == this) releaseMouse();
  update();
}

void PreviewSurface::updateCursor(QPointF at) {
  if (dragging())
    setCursor(Qt::ClosedHandCursor);
  else if (canDragCamera() && cameraViewRect().contains(at))
    setCursor(Qt::OpenHandCursor);
  else
    unsetCursor();
}

}  // namespace vantry
