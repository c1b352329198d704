#include "preview/preview_surface.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEngine>
#include <QPainter>
#include <QScopeGuard>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <iostream>
#include <new>

#include "capture/serial_queue.h"
#include "localization/localization.h"
#include "localization/user_message.h"
#include "model/camera_layout.h"
#include "render/export_compositor.h"
#include "render/frame_renderer.h"
#include "render/kernels/pixel_kernels.h"
#include "studio/queued_task.h"
#include "studio/studio.h"

namespace vantry {

namespace {

constexpr double kCanvasWidth = 1920;
constexpr double kCanvasHeight = 1080;

// What the exception being handled says, for the log.
std::string thrownText() {
  try {
    throw;
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return {};
  }
}

}  // namespace

PreviewSurface::PreviewSurface(Studio* studio, QWidget* parent) : QWidget(parent) {
  aheadWait_ = new QTimer(this);
  aheadWait_->setSingleShot(true);
  aheadWait_->setTimerType(Qt::PreciseTimer);
  // About half a frame of a 60 Hz clock: the pictures of a tick are read well within it.
  aheadWait_->setInterval(8);
  connect(aheadWait_, &QTimer::timeout, this, [this] {
    if (composesAhead()) composeAhead(true);
  });
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);
  setFocusPolicy(Qt::ClickFocus);
  setStudio(studio);
}

PreviewSurface::~PreviewSurface() {
  if (studio_) studio_->setStageWidth(this, 0);
  ++builds_;  // what is still queued is skipped
  closing_ = true;
  builder_.reset();
}

void PreviewSurface::setStudio(Studio* studio) {
  if (studio_ == studio) return;
  for (auto& c : connections_)
    disconnect(c);
  if (dragging()) endDrag();
  if (studio_) studio_->setStageWidth(this, 0);
  studio_ = studio;
  if (studio) {
    connections_[0] = connect(studio, &Studio::changed, this, [this] { studioChanged(); });
    connections_[1] = connect(studio, &Studio::timeChanged, this, [this] { studioChanged(); });
    connections_[2] = connect(studio, &Studio::frameTick, this, [this] { studioChanged(); });
    connections_[3] = connect(studio, &Studio::liveFrame, this, [this] { studioChanged(); });
  }
  update();
}

void PreviewSurface::reportStageWidth() {
  if (studio_) studio_->setStageWidth(this, isVisible() ? canvasPixels().width() : 0);
}

void PreviewSurface::hideEvent(QHideEvent* event) {
  reportStageWidth();
  QWidget::hideEvent(event);
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
  return composeFor(pixels, true);
}

struct PreviewSurface::Build {
  QSize size;
  ComposedKey key;
  std::unique_ptr<ExportCompositor> compositor;
  QImage composed;
  QImage underCamera;
  bool underCameraValid = false;
  std::optional<std::string> failure;  // what the composition threw
};

QSize PreviewSurface::canvasPixels() const {
  const QRectF target = canvasRect();
  const double dpr = devicePixelRatioF();
  return {int(std::lround(target.width() * dpr)), int(std::lround(target.height() * dpr))};
}

PreviewSurface::Preparation PreviewSurface::prepare() {
  if (!studio_ || !isVisible()) return Preparation::none;
  const QSize pixels = canvasPixels();
  if (pixels.isEmpty()) return Preparation::none;
  const QSize size = ExportCompositor::composeSize(pixels);
  if (!compositor_ || compositor_->outputSize() != size) {
    // After a failed build the paint tries this size itself, and keeps the last picture
    // should that fail too.
    if (failedBuild_ == size) return Preparation::none;
    if (building_ != size) startBuild(size);
    return Preparation::building;
  }
  // While the picture moves on its own (playing, or the live capture), a new frame or the
  // sound's clock would move the moment before the paint's turn, and the paint would compose
  // it again: the paint composes, once.
  if (studio_->playing() || studio_->live()) return Preparation::none;
  const int before = compositions_;
  try {
    // As the paint composes: above 1080p at the capped size, scaled into the window there.
    composeFor(pixels, size == pixels);
  } catch (...) {
    compositionFailed(thrownText());
    return Preparation::none;
  }
  return compositions_ != before ? Preparation::composed : Preparation::none;
}

void PreviewSurface::startBuild(QSize size) {
  building_ = size;
  auto build = std::make_shared<Build>();
  build->size = size;
  Inputs in = inputs();
  const EditSettings settings = studio_->settings();
  build->key = ComposedKey{in.screen.cacheKey(), in.camera.cacheKey(), in.state, settings, size};
  const std::uint64_t number = ++builds_;
  if (!builder_) builder_ = std::make_unique<SerialQueue>("preview.compose");
  builder_->post([this, build, in = std::move(in), settings, number] {
    if (builds_.load() != number) return;  // a newer size was asked for meanwhile
    // The window waits for this picture: it hears back whatever happens.
    try {
      failIfAsked();
      build->compositor =
          std::make_unique<ExportCompositor>(settings, build->size, CompositorStyle::preview());
      const QImage* screen = in.screen.isNull() ? nullptr : &in.screen;
      const QImage* camera = in.camera.isNull() ? nullptr : &in.camera;
      build->compositor->render(screen, camera, in.state, build->composed, &build->underCamera);
      build->underCameraValid = camera && settings.showCamera;
    } catch (...) {
      build->failure = thrownText();
    }
    postTask(this, [this, build] { buildDone(build); });
  });
}

void PreviewSurface::failIfAsked() const {
  if (failForTesting_) throw std::bad_alloc();
}

void PreviewSurface::compositionMade() {
  failing_ = false;
  failedBuild_.reset();
}

void PreviewSurface::compositionFailed(const std::string& detail) {
  composedKey_.reset();
  underCameraValid_ = false;
  if (failing_) return;
  failing_ = true;
  std::cerr << withDetail(L("预览画面未能合成，舞台上先保留上一幅画面。"), detail) << std::endl;
}

void PreviewSurface::buildDone(const std::shared_ptr<Build>& build) {
  if (building_ == build->size) building_.reset();
  if (build->failure) {
    failedBuild_ = build->size;
    compositionFailed(*build->failure);
    update();
    if (!building_) emit pictureReady();
    return;
  }
  // Taken while the canvas still has its size, unless a paint composed at it meanwhile.
  const bool taken = ExportCompositor::composeSize(canvasPixels()) == build->size &&
                     (!compositor_ || compositor_->outputSize() != build->size);
  if (taken) {
    compositor_ = std::move(build->compositor);
    composed_ = std::move(build->composed);
    underCamera_ = std::move(build->underCamera);
    underCameraValid_ = build->underCameraValid;
    composedKey_ = build->key;
    compositionMade();
    update();
  }
  if (taken || !building_) emit pictureReady();
}

PreviewSurface::Inputs PreviewSurface::inputs() const {
  Inputs in;
  const Studio& s = *studio_;
  if (s.live()) {
    in.screen = s.liveScreenImage();
    in.camera = s.liveCameraImage();
    in.state = s.state();
  } else {
    const Clip& clip = s.clip();
    // The player's time while it plays with sound, so the picture follows what is heard.
    double t = s.displayTime();
    if (!std::isfinite(t)) t = s.time();
    const double source = clip.sourceTime(t);
    if (auto* frames = s.screenFrames()) in.screen = frames->latest();
    if (auto* frames = s.cameraFrames()) in.camera = frames->latest();
    in.state = s.motion().state(source);
    in.state.presenterMix = clip.presenterMix(source);
    // Demonstration art only in the demonstration project, never in live mode.
    if (clip.isDemo) {
      if (in.screen.isNull() && s.renderer().demoScreen()) in.screen = *s.renderer().demoScreen();
      if (in.camera.isNull() && s.renderer().demoCamera()) in.camera = *s.renderer().demoCamera();
    }
  }
  // A pulse whose ring has faded draws as none: the picture stays the same while nothing
  // shows.
  if (!(in.state.pulse >= 0 && in.state.pulse < ExportCompositor::ringDuration))
    in.state.pulse = -1;
  return in;
}

void PreviewSurface::studioChanged() {
  if (composesAhead()) return composeAhead();
  if (!studio_ || !composedKey_ || !isVisible()) return update();
  const Inputs in = inputs();
  ComposedKey key{in.screen.cacheKey(), in.camera.cacheKey(), in.state, studio_->settings(),
                  composedKey_->size};
  if (key == *composedKey_) return;
  key.camera = composedKey_->camera;
  // The composed picture is painted unscaled: its bubble is where the widget shows it.
  const QRectF target = canvasRect();
  const double dpr = devicePixelRatioF();
  const bool unscaled = composed_.size() == QSize(int(std::lround(target.width() * dpr)),
                                                  int(std::lround(target.height() * dpr)));
  if (key == *composedKey_ && underCameraValid_ && unscaled && !in.camera.isNull())
    return update(cameraViewRect().toAlignedRect().adjusted(-2, -2, 2, 2));
  update();
}

struct PreviewSurface::Ahead {
  ComposedKey key;
  QImage composed;
  QImage underCamera;
  bool underCameraValid = false;
  std::optional<std::string> failure;  // what the composition threw
};

bool PreviewSurface::composesAhead() const {
  if (!studio_ || !studio_->playing() || studio_->live() || !isVisible()) return false;
  // Above 1080p the paint scales the picture into the window: it composes itself.
  const QSize pixels = canvasPixels();
  return !pixels.isEmpty() && ExportCompositor::composeSize(pixels) == pixels;
}

bool PreviewSurface::picturesComing() const {
  for (const FrameSource* frames : {studio_->screenFrames(), studio_->cameraFrames()})
    if (frames && frames->reading()) return true;
  return false;
}

void PreviewSurface::composeAhead(bool waited) {
  Inputs in = inputs();
  const EditSettings settings = studio_->settings();
  ComposedKey key{in.screen.cacheKey(), in.camera.cacheKey(), in.state, settings, canvasPixels()};
  if (composedKey_ == key && composed_.size() == key.size) return;
  if (aheadBusy_ || aheadUnpainted_) {
    aheadAgain_ = true;
    return;
  }
  if (!waited && picturesComing()) {
    if (!aheadWait_->isActive()) aheadWait_->start();
    return;
  }
  aheadWait_->stop();
  aheadBusy_ = true;
  auto ahead = std::make_shared<Ahead>();
  ahead->key = std::move(key);
  ahead->composed = std::move(spare_);
  ahead->underCamera = std::move(spareUnder_);
  if (!builder_) builder_ = std::make_unique<SerialQueue>("preview.compose");
  builder_->post([this, ahead, in = std::move(in), settings] {
    if (closing_) return;
    try {
      failIfAsked();
      const QSize size = ahead->key.size;
      if (!aheadCompositor_ || aheadCompositor_->outputSize() != size)
        aheadCompositor_ =
            std::make_unique<ExportCompositor>(settings, size, CompositorStyle::preview());
      else if (!(aheadCompositor_->settings() == settings))
        aheadCompositor_->setSettings(settings);
      const QImage* screen = in.screen.isNull() ? nullptr : &in.screen;
      const QImage* camera = in.camera.isNull() ? nullptr : &in.camera;
      aheadCompositor_->render(screen, camera, in.state, ahead->composed, &ahead->underCamera);
      ahead->underCameraValid = camera && settings.showCamera;
    } catch (...) {
      ahead->failure = thrownText();
    }
    postTask(this, [this, ahead] { composedAhead(ahead); });
  });
}

void PreviewSurface::composedAhead(const std::shared_ptr<Ahead>& ahead) {
  aheadBusy_ = false;
  if (ahead->failure) {
    compositionFailed(*ahead->failure);
    update();
  } else if (composesAhead() && ahead->key.size == canvasPixels()) {
    spare_ = std::exchange(composed_, std::move(ahead->composed));
    spareUnder_ = std::exchange(underCamera_, std::move(ahead->underCamera));
    underCameraValid_ = ahead->underCameraValid;
    composedKey_ = ahead->key;
    compositionMade();
    aheadUnpainted_ = true;
    update();
    return;
  } else {
    // Playing stopped or the stage changed size meanwhile: the paint composes what is due.
    spare_ = std::move(ahead->composed);
    spareUnder_ = std::move(ahead->underCamera);
  }
  if (std::exchange(aheadAgain_, false)) studioChanged();
}

const QImage& PreviewSurface::composeFor(QSize pixels, bool scaleUp) {
  if (!studio_ || pixels.isEmpty()) return composed_;
  const Studio& s = *studio_;
  Inputs in = inputs();
  const QImage& screen = in.screen;
  const QImage& camera = in.camera;
  const FrameState& state = in.state;

  // Above 1080p the compositor composes at 1080p and scales up: far cheaper than composing
  // every device pixel.
  const QSize size = ExportCompositor::composeSize(pixels);
  if (!compositor_ || compositor_->outputSize() != size)
    compositor_ =
        std::make_unique<ExportCompositor>(s.settings(), size, CompositorStyle::preview());
  else if (!(compositor_->settings() == s.settings()))
    compositor_->setSettings(s.settings());
  // A repaint of part of the surface (a control over it changed) with the same moment
  // reuses the picture.
  const bool scaled = scaleUp && size != pixels;
  ComposedKey key{screen.cacheKey(), camera.cacheKey(), state, s.settings(),
                  scaled ? pixels : size};
  if (composedKey_ == key && composed_.size() == key.size) return composed_;
  const QImage* screenPicture = screen.isNull() ? nullptr : &screen;
  const QImage* cameraPicture = camera.isNull() ? nullptr : &camera;
  failIfAsked();
  ++compositions_;
  if (!scaled) {
    // A new camera picture alone (the camera runs while the screen stands still) redraws
    // the bubble only.
    ComposedKey cameraOnly = key;
    cameraOnly.camera = composedKey_ ? composedKey_->camera : 0;
    const bool bubbleOnly = composedKey_ == cameraOnly && composed_.size() == key.size &&
                            underCameraValid_ && cameraPicture;
    composedKey_ = std::move(key);
    if (bubbleOnly) {
      compositor_->renderCamera(cameraPicture, state, underCamera_, composed_);
    } else {
      compositor_->render(screenPicture, cameraPicture, state, composed_, &underCamera_);
      underCameraValid_ = cameraPicture && s.settings().showCamera;
    }
    compositionMade();
    return composed_;
  }
  composedKey_ = std::move(key);
  underCameraValid_ = false;
  if (composed_.size() != pixels) composed_ = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
  compositor_->renderScaled(screenPicture, cameraPicture, state, composed_);
  compositionMade();
  return composed_;
}

namespace {

// The plain image a raster painter paints into, when it is one that can be written straight
// (what the window shows), with a transform that only scales and moves.
QImage* rasterDevice(QPainter& painter) {
  QPaintEngine* engine = painter.paintEngine();
  QPaintDevice* device = engine ? engine->paintDevice() : nullptr;
  if (!device || device->devType() != QInternal::Image) return nullptr;
  auto* store = static_cast<QImage*>(device);
  const QImage::Format format = store->format();
  // A shared image would detach on writing: the window would not see the pixels.
  if (!store->isDetached() ||
      (format != QImage::Format_RGB32 && format != QImage::Format_ARGB32_Premultiplied &&
       format != QImage::Format_ARGB32))
    return nullptr;
  const QTransform toDevice = painter.deviceTransform();
  if (toDevice.type() > QTransform::TxScale || toDevice.m11() <= 0 || toDevice.m22() <= 0)
    return nullptr;
  return store;
}

// Calls `write` with each exposed rectangle in device pixels, cut to `inside`: whatever lies
// above the rest was not repainted.
template <class Write>
void forExposedPixels(const QPainter& painter, const QRegion& exposed, const QRect& inside,
                      Write&& write) {
  const QTransform toDevice = painter.deviceTransform();
  for (const QRect& r : exposed) {
    const QRect pixels = toDevice.mapRect(QRectF(r)).toAlignedRect() & inside;
    if (!pixels.isEmpty()) write(pixels);
  }
}

}  // namespace

bool PreviewSurface::scaleIntoDevice(QPainter& painter, const QRegion& exposed,
                                     const QRectF& target) {
  QImage* store = rasterDevice(painter);
  if (!store) return false;
  const QTransform toDevice = painter.deviceTransform();
  const QRectF canvas = toDevice.mapRect(target);
  const QImage& picture = composeFor(canvas.size().toSize(), false);
  if (picture.isNull()) return false;
  const kernels::Placement placement =
      kernels::placementFor(canvas, picture.width(), picture.height(), false);
  forExposedPixels(painter, exposed, store->rect() & canvas.toAlignedRect(), [&](QRect pixels) {
    kernels::samplePicture(*store, picture, placement, pixels, columns_);
  });
  return true;
}

bool PreviewSurface::copyIntoDevice(QPainter& painter, const QRegion& exposed,
                                    const QRectF& target) {
  QImage* store = rasterDevice(painter);
  if (!store) return false;
  const QTransform toDevice = painter.deviceTransform();
  const QRectF canvas = toDevice.mapRect(target);
  const QPoint origin(int(std::lround(canvas.x())), int(std::lround(canvas.y())));
  // Whole device pixels only: elsewhere the painter places the picture.
  if (canvas.size().toSize() != composed_.size() || canvas.topLeft() != QPointF(origin))
    return false;
  // Row by row, the raw values as the painter draws the picture opaque: the painter would
  // hand a picture this large to a pool of threads, costing more than the copy.
  forExposedPixels(
      painter, exposed, store->rect() & QRect(origin, composed_.size()), [&](QRect pixels) {
        for (int y = pixels.top(); y <= pixels.bottom(); ++y)
          std::memcpy(
              store->scanLine(y) + std::size_t(pixels.left()) * 4,
              composed_.constScanLine(y - origin.y()) + std::size_t(pixels.left() - origin.x()) * 4,
              std::size_t(pixels.width()) * 4);
      });
  return true;
}

void PreviewSurface::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  const QRectF target = canvasRect();
  const double dpr = devicePixelRatioF();
  const QSize pixels(int(std::lround(target.width() * dpr)),
                     int(std::lround(target.height() * dpr)));
  if (!studio_ || pixels.isEmpty()) {
    painter.fillRect(rect(), Qt::black);
    return;
  }
  reportStageWidth();
  // While playing, the worker brings each new moment and the paint shows the newest it
  // brought; a newer moment that came meanwhile is composed while this one is drawn.
  const bool ahead = composesAhead();
  if (std::exchange(aheadUnpainted_, false) && ahead && composed_.size() == pixels) {
    ++compositions_;
    if (std::exchange(aheadAgain_, false)) composeAhead();
  }
  if (!ahead || composed_.size() != pixels) {
    const int before = compositions_;
    const auto counted = qScopeGuard([&] { paintCompositions_ += compositions_ - before; });
    try {
      // Above 1080p the picture is scaled straight into the window's pixels where that can
      // be done: no full-size copy is made, and none is blended.
      if (ExportCompositor::composeSize(pixels) != pixels &&
          scaleIntoDevice(painter, event->region(), target))
        return;
      compose(pixels);
    } catch (...) {
      compositionFailed(thrownText());
    }
  }
  // The stage stays empty until a first picture was made.
  if (composed_.isNull()) {
    painter.fillRect(rect(), Qt::black);
    return;
  }
  if (copyIntoDevice(painter, event->region(), target)) return;
  // The composition is opaque: drawn as such it is copied rather than blended.
  const QImage opaque(composed_.constBits(), composed_.width(), composed_.height(),
                      composed_.bytesPerLine(), QImage::Format_RGB32);
  painter.drawImage(target, opaque, QRectF(opaque.rect()));
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
