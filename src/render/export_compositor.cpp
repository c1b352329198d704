#include "render/export_compositor.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "model/camera_layout.h"
#include "render/composition_geometry.h"
#include "render/frame_renderer.h"
#include "render/video_color.h"

namespace vantry {

namespace {

constexpr double kRingDuration = ExportCompositor::ringDuration;
constexpr uint32_t kRingColor = 0x4A85FF;

// The click ring `pulse` seconds after the click (canvas points): it grows, thins and fades.
struct Ring {
  double radius, width, opacity;
};
Ring ringAt(double pulse) {
  const double t = pulse / kRingDuration;
  return {18 + 46 * t, 1 + 5 * (1 - t), 1 - t};
}

uint32_t opaque(uint32_t hex) {
  return 0xFF000000u | (hex & 0xFFFFFFu);
}

// Where a camera picture of w x h goes: centred on the bubble, covering it, its aspect kept.
QRectF cameraTarget(const QRectF& bubble, int w, int h) {
  const double a = static_cast<double>(w) / h;
  const double tw = std::max(bubble.width(), a * bubble.height());
  const double th = std::max(bubble.height(), bubble.width() / a);
  return {bubble.center().x() - tw / 2, bubble.center().y() - th / 2, tw, th};
}

}  // namespace

BubbleCache::Layer BubbleCache::get(const Key& key, const std::function<Layer()>& paint) {
  std::promise<Layer> promise;
  std::shared_future<Layer> layer;
  bool mine = false;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [k, f] : entries_)
      if (k == key) layer = f;
    if (!layer.valid()) {
      layer = promise.get_future().share();
      entries_.emplace_back(key, layer);
      if (entries_.size() > 3) entries_.pop_front();
      mine = true;
    }
  }
  if (mine) {
    try {
      promise.set_value(paint());
    } catch (...) {
      {
        std::lock_guard lock(mutex_);
        std::erase_if(entries_, [&](const auto& e) { return e.first == key; });
      }
      promise.set_exception(std::current_exception());
    }
  }
  return layer.get();
}

ExportCompositor::ExportCompositor(const EditSettings& settings, QSize output,
                                   CompositorStyle style)
    : settings_(settings),
      size_(output.isValid() && !output.isEmpty() ? output : QSize(1920, 1080)),
      style_(style),
      sx_(size_.width() / CompositionGeometry::canvasWidth),
      sy_(size_.height() / CompositionGeometry::canvasHeight) {
  const int cw = static_cast<int>(std::ceil(64 * sx_)), ch = static_cast<int>(std::ceil(72 * sx_));
  cursor_ = QImage(cw, ch, QImage::Format_ARGB32_Premultiplied);
  cursor_.setColorSpace(VideoColor::space());
  cursor_.fill(Qt::transparent);
  QPainter p(&cursor_);
  drawCursor(p, QPointF(8 * sx_, 8 * sx_), 1.4 * sx_);
}

void ExportCompositor::setSettings(const EditSettings& settings) {
  const bool palette = CompositionGeometry::palette(settings.background) !=
                       CompositionGeometry::palette(settings_.background);
  if (palette) background_ = QImage();  // made again for the next frame
  // The card's radius follows the padding even where its rectangle does not (below zero).
  if (palette || settings.padding != settings_.padding) cachedRect_.reset();
  settings_ = settings;
}

QSize ExportCompositor::composeSize(QSize target) {
  if (target.width() <= 1920 && target.height() <= 1080) return target;
  const double f = std::min(1920.0 / target.width(), 1080.0 / target.height());
  return QSize(std::clamp(static_cast<int>(std::lround(target.width() * f)), 2, 1920),
               std::clamp(static_cast<int>(std::lround(target.height() * f)), 2, 1080));
}

QRectF ExportCompositor::toOutput(const QRectF& r) const {
  return {r.x() * sx_, r.y() * sy_, r.width() * sx_, r.height() * sy_};
}

void ExportCompositor::ensureBase(const QRectF& card, bool planes) {
  const bool same = cachedRect_ && *cachedRect_ == card;
  if (same && (planes ? basePlanesBuilt_ : !base_.isNull())) return;
  if (!same) {
    cachedRect_ = card;
    ++baseBuilds_;
    basePlanesBuilt_ = false;
    cardShape_ = kernels::RoundedRect::from(toOutput(card),
                                            CompositionGeometry::screenRadius(settings_) * sx_);
    cardPixels_ = cardShape_.pixelBounds(size_.width(), size_.height());
  }
  if (background_.isNull())
    background_ = CompositionGeometry::background(settings_.background, size_);
  base_ = background_.copy();
  kernels::Shadow shadow;
  shadow.build(cardShape_, 27.5 * sx_, 18 * sy_, 0.35);
  // The opaque card covers the shadow inside its straight part.
  const int inset = static_cast<int>(std::ceil(std::max(cardShape_.radius, 0.0))) + 1;
  shadow.apply(base_, cardPixels_.adjusted(inset, inset, -inset, -inset));
  kernels::fillRoundedRect(base_, cardShape_, opaque(style_.cardColor), edge_);
  if (!planes) return;
  basePlanes_.allocate(size_.width(), size_.height());
  kernels::tileToPlanes(base_, base_.rect(), basePlanes_.planes);
  cardClip_.build(cardShape_, basePlanes_.planes);
  basePlanesBuilt_ = true;
  // Every compositor of an export builds the same pixels from these.
  baseKey_ = qHashMulti(0x9E3779B9u, card.x(), card.y(), card.width(), card.height(), size_.width(),
                        size_.height(), settings_.background, settings_.padding, style_.cardColor) |
             1;
  // The export composes planes only: its BGRA base and background (33 MB each at 2160p, in
  // every worker) are made again should a BGRA frame be asked for.
  base_ = QImage();
  background_ = QImage();
}

QImage ExportCompositor::image(const QImage* screen, const QImage* camera,
                               const FrameState& state) {
  QImage out;
  render(screen, camera, state, out);
  return out;
}

void ExportCompositor::renderScaled(const QImage* screen, const QImage* camera,
                                    const FrameState& state, QImage& target) {
  if (target.isNull() || target.size() == size_) {
    render(screen, camera, state, target);
    return;
  }
  render(screen, camera, state, scaled_);
  if (target.format() != QImage::Format_ARGB32_Premultiplied || !target.isDetached()) {
    target = QImage(target.size(), QImage::Format_ARGB32_Premultiplied);
    target.setColorSpace(VideoColor::space());
  }
  kernels::samplePicture(
      target, scaled_,
      kernels::placementFor(QRectF(target.rect()), size_.width(), size_.height(), false),
      target.rect(), columns_);
}

void ExportCompositor::render(const QImage* screen, const QImage* camera, const FrameState& state,
                              QImage& out, QImage* underCamera) {
  if (screen && screen->isNull()) screen = nullptr;
  if (camera && camera->isNull()) camera = nullptr;
  if (out.size() != size_ || out.format() != QImage::Format_ARGB32_Premultiplied ||
      !out.isDetached()) {
    out = QImage(size_, QImage::Format_ARGB32_Premultiplied);
    out.setColorSpace(VideoColor::space());
  }
  const double ratio =
      screen ? static_cast<double>(screen->width()) / screen->height() : 16.0 / 9.0;
  const QRectF r = CompositionGeometry::screenRect(ratio, settings_);
  ensureBase(CompositionGeometry::screenClip(r));

  if (screen && !cardPixels_.isEmpty()) {
    kernels::copyOutside(out, base_, cardPixels_);
    drawScreen(*screen, state, r, out);
  } else {
    kernels::copyOutside(out, base_, QRect());
    if (style_.ringWithoutScreen && !cardPixels_.isEmpty()) {
      drawPointer(toOutput(CompositionGeometry::sourceRect(r, state)), state, false, out);
      kernels::clipToRoundedRect(out, base_, cardShape_, edge_);
    }
  }
  if (settings_.showCamera && camera) drawCamera(*camera, state, out, {}, true, underCamera);
}

namespace {

void copyPixels(const QImage& from, QImage& to, const QRect& rect) {
  const QRect r = rect & from.rect() & to.rect();
  for (int y = r.top(); y <= r.bottom(); ++y)
    std::memcpy(to.scanLine(y) + std::size_t(r.left()) * 4,
                from.constScanLine(y) + std::size_t(r.left()) * 4, std::size_t(r.width()) * 4);
}

}  // namespace

QRect ExportCompositor::bubblePixels(const FrameState& state) const {
  const QRectF bubble = bubbleRect(state);
  if (bubble.isEmpty()) return {};
  const double mix = std::clamp(state.presenterMix, 0.0, 1.0);
  return kernels::RoundedRect::from(bubble, (1 - mix) * 32 * sx_)
      .pixelBounds(size_.width(), size_.height());
}

QRect ExportCompositor::renderCamera(const QImage* camera, const FrameState& state,
                                     const QImage& underCamera, QImage& out) {
  if (camera && camera->isNull()) camera = nullptr;
  const QRect pixels = bubblePixels(state);
  if (pixels.isEmpty() || out.size() != size_ || underCamera.size() != size_) return {};
  copyPixels(underCamera, out, pixels);
  // The shadow under the bubble is already in the frame: only the picture is drawn.
  if (settings_.showCamera && camera) drawCamera(*camera, state, out, {}, false);
  return pixels;
}

void ExportCompositor::drawScreen(const QImage& screen, const FrameState& state, const QRectF& r,
                                  QImage& out) {
  const QRectF s = toOutput(CompositionGeometry::sourceRect(r, state));
  const QImage src = screen.format() == QImage::Format_ARGB32_Premultiplied ||
                             screen.format() == QImage::Format_RGB32
                         ? screen
                         : screen.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  // Sub-pixel placement: the sampling grid follows the exact rectangle, so a slow zoom
  // moves the picture smoothly instead of in whole-pixel steps.
  kernels::samplePicture(out, src, kernels::placementFor(s, src.width(), src.height(), false),
                         cardPixels_, columns_);

  drawPointer(s, state, true, out);
  kernels::clipToRoundedRect(out, base_, cardShape_, edge_);
}

// The click ring and, with `arrow`, the pointer sprite, cut to the card's pixel bounds.
void ExportCompositor::drawPointer(const QRectF& s, const FrameState& state, bool arrow,
                                   QImage& out) {
  if (!settings_.showCursor) return;
  const bool clicked = settings_.showClicks && state.pulse >= 0 && state.pulse < kRingDuration;
  if (!clicked && !arrow) return;
  const QPointF p(s.x() + state.pointer.x * s.width(), s.y() + state.pointer.y * s.height());
  QPainter painter(&out);
  painter.setClipRect(cardPixels_);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  if (clicked) {
    const Ring ring = ringAt(state.pulse);
    const double radius = ring.radius * sx_, width = ring.width * sx_;
    QPainterPath outer;
    outer.addEllipse(p, radius + width / 2, radius + width / 2);
    QPainterPath inner;
    inner.addEllipse(p, radius - width / 2, radius - width / 2);
    painter.setPen(Qt::NoPen);
    painter.setBrush(VideoColor::fromHex(kRingColor, ring.opacity));
    painter.drawPath(outer.subtracted(inner));
  }
  if (arrow) painter.drawImage(QPointF(p.x() - 8 * sx_, p.y() - 8 * sx_), cursor_);
}

QRectF ExportCompositor::bubbleRect(const FrameState& state) const {
  const Rect b = CameraLayout::rect(settings_, state.zoom, state.presenterMix);
  return toOutput(QRectF(b.x, b.y, b.width, b.height));
}

// The camera's shadow fitted to the bubble; false when there is none (the bubble fully
// grown covers the canvas).
bool ExportCompositor::placeCameraShadow(const QRectF& bubble, double mix) {
  if (mix >= 1) return false;
  const double radius = (1 - mix) * 32 * sx_;
  cameraShadow_.fit(kernels::RoundedRect::from(bubble, radius), 17.5 * sx_, 12 * sy_, 0.4);
  return true;
}

void ExportCompositor::drawCamera(const QImage& camera, const FrameState& state, QImage& out,
                                  QPoint origin, bool shadow, QImage* under) {
  const QRectF bubble = bubbleRect(state).translated(-origin);
  if (bubble.isEmpty()) return;
  const double mix = std::clamp(state.presenterMix, 0.0, 1.0);
  const kernels::RoundedRect shape = kernels::RoundedRect::from(bubble, (1 - mix) * 32 * sx_);
  if (shadow && placeCameraShadow(bubble, mix)) cameraShadow_.apply(out);
  if (under) {
    if (under->size() != out.size() || under->format() != out.format() || !under->isDetached())
      *under = QImage(out.size(), out.format());
    copyPixels(out, *under, shape.pixelBounds(out.width(), out.height()));
  }

  const QImage src = camera.format() == QImage::Format_ARGB32_Premultiplied ||
                             camera.format() == QImage::Format_RGB32
                         ? camera
                         : camera.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  const QRectF target = cameraTarget(bubble, src.width(), src.height());
  kernels::samplePictureClipped(
      out, src, kernels::placementFor(target, src.width(), src.height(), settings_.mirrorsCamera()),
      shape, columns_, edge_);
}

// ---- Straight into the encoder's planes ----

const kernels::Planes* ExportCompositor::planesOf(const QImage& screen) {
  if (screen.width() % 2 || screen.height() % 2) return nullptr;
  if (screen.cacheKey() != screenKey_ || screenPlanes_.planes.width != screen.width() ||
      screenPlanes_.planes.height != screen.height()) {
    const QImage src = screen.format() == QImage::Format_ARGB32_Premultiplied ||
                               screen.format() == QImage::Format_RGB32
                           ? screen
                           : screen.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    screenPlanes_.allocate(src.width(), src.height());
    kernels::tileToPlanes(src, src.rect(), screenPlanes_.planes);
    screenKey_ = screen.cacheKey();
  }
  return &screenPlanes_.planes;
}

// A QImage camera as planes, converted once per picture. An odd size grows by a copy of its
// last column or row, which the placement (made for the picture's own size) hardly reaches.
const kernels::Planes& ExportCompositor::cameraPlanesOf(const QImage& camera) {
  const int w = camera.width() + camera.width() % 2, h = camera.height() + camera.height() % 2;
  if (camera.cacheKey() == cameraKey_ && cameraPlanes_.planes.width == w &&
      cameraPlanes_.planes.height == h)
    return cameraPlanes_.planes;
  QImage src = camera.format() == QImage::Format_ARGB32_Premultiplied ||
                       camera.format() == QImage::Format_RGB32
                   ? camera
                   : camera.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  if (w != src.width() || h != src.height()) {
    QImage grown(w, h, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < h; ++y) {
      const auto* from =
          reinterpret_cast<const uint32_t*>(src.constScanLine(std::min(y, src.height() - 1)));
      auto* to = reinterpret_cast<uint32_t*>(grown.scanLine(y));
      std::memcpy(to, from, static_cast<size_t>(src.width()) * 4);
      to[w - 1] = from[src.width() - 1];
    }
    src = grown;
  }
  cameraPlanes_.allocate(w, h);
  kernels::tileToPlanes(src, src.rect(), cameraPlanes_.planes);
  cameraKey_ = camera.cacheKey();
  return cameraPlanes_.planes;
}

// The rows and columns (even aligned) the pointer and its click ring may paint, with room
// to spare.
// The pointer in output pixels; nothing when it is far off the frame (or not a number),
// where nothing shows and whole-pixel positions would leave the range of int.
std::optional<QPointF> ExportCompositor::pointerAt(const QRectF& s, const FrameState& state) {
  const QPointF p(s.x() + state.pointer.x * s.width(), s.y() + state.pointer.y * s.height());
  if (!(std::abs(p.x()) < 1e6 && std::abs(p.y()) < 1e6)) return std::nullopt;
  return p;
}

QRect ExportCompositor::pointerReach(const QRectF& s, const FrameState& state) const {
  if (!settings_.showCursor) return {};
  const std::optional<QPointF> at = pointerAt(s, state);
  if (!at) return {};
  const QPointF p = *at;
  // The ring at its widest, the sprite drawn from (-8, -8) · sx around the pointer.
  const Ring widest = ringAt(kRingDuration);
  const double reach = std::max((widest.radius + ringAt(0).width / 2) * sx_,
                                8 * sx_ + cursor_.width() + cursor_.height()) +
                       4;
  return kernels::evenAligned(
      QRectF(p.x() - reach, p.y() - reach, 2 * reach, 2 * reach).toAlignedRect() & cardPixels_,
      size_.width(), size_.height());
}

// Ring and arrow laid straight over the planes, cut to the card's bounds: the pixels of
// drawPointer() on the converted planes, within rounding.
void ExportCompositor::pointerPlanes(const QRectF& s, const FrameState& state, bool arrow,
                                     kernels::Planes& out) {
  if (!settings_.showCursor) return;
  const bool clicked = settings_.showClicks && state.pulse >= 0 && state.pulse < kRingDuration;
  const std::optional<QPointF> at = pointerAt(s, state);
  if (!at) return;
  const QPointF p = *at;
  if (clicked) {
    const Ring ring = ringAt(state.pulse);
    const double radius = ring.radius * sx_, width = ring.width * sx_;
    kernels::paintRing(out, p, radius - width / 2, radius + width / 2, kRingColor,
                       static_cast<int>(std::lround(ring.opacity * 255)), cardPixels_, overMemory_);
  }
  if (!arrow) return;
  if (sprite_.empty()) sprite_.build(cursor_);
  // QPainter draws an unscaled picture at the nearest whole pixel, halves away from zero.
  sprite_.paint(out,
                QPoint(static_cast<int>(std::lround(p.x() - 8 * sx_)),
                       static_cast<int>(std::lround(p.y() - 8 * sx_))),
                cardPixels_, overMemory_);
}

void ExportCompositor::renderPlanes(const kernels::Planes* screenPlanes, const QImage* screen,
                                    const QImage* camera, const FrameState& state,
                                    kernels::Planes& out, const CameraPlanes* cameraPlanes,
                                    PlanesHistory* history) {
  if (screen && screen->isNull()) screen = nullptr;
  if (camera && camera->isNull()) camera = nullptr;
  if (cameraPlanes && (cameraPlanes->planes.width < 2 || cameraPlanes->planes.height < 2))
    cameraPlanes = nullptr;
  if (screenPlanes && (screenPlanes->width < 2 || screenPlanes->height < 2)) screenPlanes = nullptr;
  const kernels::Planes* src = screenPlanes ? screenPlanes : screen ? planesOf(*screen) : nullptr;
  if (screen && !src) {
    // An odd-sized picture has no whole chroma blocks: compose in BGRA and convert.
    render(screen, camera, state, fallback_);
    kernels::tileToPlanes(fallback_, fallback_.rect(), out);
    if (history) *history = {};
    return;
  }
  const double ratio = src ? static_cast<double>(src->width) / src->height : 16.0 / 9.0;
  const QRectF r = CompositionGeometry::screenRect(ratio, settings_);
  ensureBase(CompositionGeometry::screenClip(r), true);
  const kernels::Planes& base = basePlanes_.planes;

  const QRectF s = toOutput(CompositionGeometry::sourceRect(r, state));
  if (src && !cardPixels_.isEmpty()) {
    if (history && history->base == baseKey_)
      kernels::copyPlanesInside(out, base, history->painted);  // the card is sampled anew
    else
      kernels::copyPlanesOutside(out, base, cardPixels_);
    // The rows the pointer may paint are clipped after it, the others while sampled.
    const QRect later = pointerReach(s, state);
    kernels::samplePlanes(out, *src, kernels::placementFor(s, src->width, src->height, false),
                          cardPixels_, planeColumns_, &cardClip_, later.top(), later.bottom());
    pointerPlanes(s, state, true, out);
    cardClip_.apply(out, later.top(), later.bottom());
  } else {
    kernels::copyPlanesOutside(out, base, QRect());
    if (style_.ringWithoutScreen && !cardPixels_.isEmpty()) {
      pointerPlanes(s, state, false, out);
      cardClip_.apply(out);
    }
  }

  const QRect painted = paintBubble(camera, cameraPlanes, state, out);
  if (history) *history = {baseKey_, painted};
}

// The camera bubble and its shadow; gives the area they may have painted.
QRect ExportCompositor::paintBubble(const QImage* camera, const CameraPlanes* cameraPlanes,
                                    const FrameState& state, kernels::Planes& out) {
  if (!settings_.showCamera || (!camera && !cameraPlanes)) return {};
  const QRectF bubble = bubbleRect(state);
  if (bubble.isEmpty()) return {};
  const double mix = std::clamp(state.presenterMix, 0.0, 1.0);
  const QRect tile = kernels::evenAligned(bubble.toAlignedRect(), size_.width(), size_.height());
  // The bubble is painted once per camera picture and geometry, as planes with a coverage;
  // laid over the frame it gives the pixels painting it on the frame gives.
  BubbleCache::Layer layer;
  if (!tile.isEmpty()) {
    const double radius = (1 - mix) * 32 * sx_;
    const BubbleCache::Key key{cameraPlanes ? cameraPlanes->key : camera->cacheKey(),
                               cameraPlanes != nullptr,
                               {bubble.x(), bubble.y(), bubble.width(), bubble.height(), radius},
                               settings_.mirrorsCamera(),
                               size_};
    layer = bubbles_->get(key, [&] {
      const kernels::Planes& src = cameraPlanes ? cameraPlanes->planes : cameraPlanesOf(*camera);
      const int w = cameraPlanes ? src.width : camera->width();
      const int h = cameraPlanes ? src.height : camera->height();
      auto painted = std::make_shared<kernels::CoveredPlanes>();
      painted->sample(
          src, kernels::placementFor(cameraTarget(bubble, w, h), w, h, settings_.mirrorsCamera()),
          kernels::RoundedRect::from(bubble, radius), tile, columns_, edge_);
      return BubbleCache::Layer(std::move(painted));
    });
  }
  // The shadow darkens the planes themselves, except where the opaque bubble covers them.
  QRect painted = tile;
  if (placeCameraShadow(bubble, mix)) {
    cameraShadow_.applyPlanes(out, layer.get(), tile.topLeft());
    painted |= cameraShadow_.area(size_.width(), size_.height());
  }
  if (layer) layer->paint(out, tile.topLeft());
  return kernels::evenAligned(painted, size_.width(), size_.height());
}

}  // namespace vantry
