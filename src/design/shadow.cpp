#include "design/shadow.h"

#include <QCache>
#include <QEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <unordered_set>
#include <vector>

#include "design/painting.h"

namespace vantry {

namespace {

// The widgets marked as shadow hosts: asked on every paint, found faster than a property.
std::unordered_set<const QWidget*>& shadowHosts() {
  static std::unordered_set<const QWidget*> hosts;
  return hosts;
}

// Every shadow caster alive: a host follows its own on each paint without searching its
// whole tree for them.
std::vector<ShadowCaster*>& liveCasters() {
  static std::vector<ShadowCaster*> casters;
  return casters;
}

// One pass of a box blur of odd width along rows (or columns when vertical) of an Alpha8
// image, in place.
void boxBlur(QImage& image, int width, bool vertical) {
  const int half = width / 2;
  const int w = image.width(), h = image.height();
  const int lines = vertical ? w : h;
  const int length = vertical ? h : w;
  std::vector<int> line(length);
  for (int l = 0; l < lines; ++l) {
    auto at = [&](int i) -> uchar& {
      return vertical ? image.scanLine(i)[l] : image.scanLine(l)[i];
    };
    for (int i = 0; i < length; ++i)
      line[i] = at(i);
    int sum = 0;
    for (int i = -half; i <= half; ++i)
      sum += (i >= 0 && i < length) ? line[i] : 0;
    for (int i = 0; i < length; ++i) {
      at(i) = static_cast<uchar>((sum + half) / width);
      const int out = i - half, in = i + half + 1;
      if (out >= 0) sum -= line[out];
      if (in < length) sum += line[in];
    }
  }
}

QString maskKey(int w, int h, double r, double blur, double scale) {
  return QStringLiteral("m%1x%2r%3b%4s%5").arg(w).arg(h).arg(r).arg(blur).arg(scale);
}

QCache<QString, QImage>& cache() {
  static QCache<QString, QImage> images(24 * 1024 * 1024);  // cost in bytes
  return images;
}

const QImage* cached(const QString& key, const std::function<QImage()>& make) {
  if (QImage* image = cache().object(key)) return image;
  auto* image = new QImage(make());
  const qsizetype cost = std::max<qsizetype>(image->sizeInBytes(), 1);
  const QImage* result = image;
  if (!cache().insert(key, image, cost)) return nullptr;  // larger than the whole cache
  return result;
}

int padFor(double blurRadius) {
  return static_cast<int>(std::ceil(1.5 * blurRadius)) + 1;
}

}  // namespace

int shadowReach(const Shadow& shadow) {
  if (shadow.color.alpha() == 0) return 0;
  return padFor(shadow.radius) + static_cast<int>(std::ceil(std::max(std::abs(shadow.offset.x()),
                                                                     std::abs(shadow.offset.y()))));
}

QImage shadowMask(QSizeF size, double cornerRadius, double blurRadius, double scale) {
  const int pad = padFor(blurRadius);
  const int w = static_cast<int>(std::ceil((size.width() + 2 * pad) * scale));
  const int h = static_cast<int>(std::ceil((size.height() + 2 * pad) * scale));
  QImage mask(std::max(w, 1), std::max(h, 1), QImage::Format_Alpha8);
  mask.fill(0);
  {
    QPainter p(&mask);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(scale, scale);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    p.drawPath(continuousRoundedRect(QRectF(pad, pad, size.width(), size.height()), cornerRadius));
  }
  // Three box passes approximate a Gaussian of sigma = radius / 2.
  const double sigma = blurRadius / 2 * scale;
  if (sigma > 0.2) {
    int box = static_cast<int>(std::lround(std::sqrt(4 * sigma * sigma + 1)));
    if (box % 2 == 0) ++box;
    if (box >= 3) {
      for (int pass = 0; pass < 3; ++pass) {
        boxBlur(mask, box, false);
        boxBlur(mask, box, true);
      }
    }
  }
  return mask;
}

void paintShadow(QPainter& painter, const QRectF& shape, double cornerRadius,
                 const Shadow& shadow) {
  if (shadow.color.alpha() == 0 || shape.width() <= 0 || shape.height() <= 0) return;
  const double scale = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
  // Round the key a little so that animated sizes reuse nearby masks.
  const auto q = [](double v) { return std::round(v * 4) / 4; };
  const double w = q(shape.width()), h = q(shape.height());
  const double r = q(std::min({cornerRadius, w / 2, h / 2}));
  const double blur = q(shadow.radius);
  const int pad = padFor(blur);
  // Across the middle of a long shape its shadow does not change: blur a short stand-in
  // and stretch its centre line, so a large card's shadow is a small image.
  const double core = std::ceil(1.53 * r) + 2 * pad + 2;
  const double mw = w > 2 * core + 1 ? 2 * core + 1 : w;
  const double mh = h > 2 * core + 1 ? 2 * core + 1 : h;
  const QString mk = maskKey(int(mw * 4), int(mh * 4), r, blur, scale);
  // Tinted at full strength and laid down at the colour's opacity, so fading glows share
  // one image.
  const QString key = mk + QStringLiteral("c%1").arg(shadow.color.rgb(), 0, 16);
  const QImage* tinted = cached(key, [&] {
    const QImage* maskPtr = cached(mk, [&] { return shadowMask({mw, mh}, r, blur, scale); });
    const QImage mask = maskPtr ? *maskPtr : shadowMask({mw, mh}, r, blur, scale);
    QImage out(mask.size(), QImage::Format_ARGB32_Premultiplied);
    const QRgb c = shadow.color.rgb();
    const int cr = qRed(c), cg = qGreen(c), cb = qBlue(c);
    for (int y = 0; y < mask.height(); ++y) {
      const uchar* m = mask.constScanLine(y);
      auto* o = reinterpret_cast<QRgb*>(out.scanLine(y));
      for (int x = 0; x < mask.width(); ++x) {
        const int a = m[x];
        o[x] = qRgba(cr * a / 255, cg * a / 255, cb * a / 255, a);
      }
    }
    out.setDevicePixelRatio(scale);
    return out;
  });
  if (!tinted) return;
  const QPointF origin = shape.center() - QPointF(w / 2 + pad, h / 2 + pad) + shadow.offset;
  const double opacity = painter.opacity();
  painter.setOpacity(opacity * shadow.color.alphaF());
  if (mw == w && mh == h) {
    painter.drawImage(origin, *tinted);
  } else {
    // Source spans in pixels and target spans in points: start half, stretched centre line,
    // end half.
    struct Span {
      int from, length;
      double at, size;
    };
    const auto spans = [scale](int pixels, double gap) {
      const int half = pixels / 2;
      std::vector<Span> out{{0, half, 0, half / scale}};
      if (gap > 0) out.push_back({half, 1, half / scale, gap});
      out.push_back(
          {half, pixels - half, half / scale + std::max(gap, 0.0), (pixels - half) / scale});
      return out;
    };
    const auto xs = spans(tinted->width(), w - mw);
    const auto ys = spans(tinted->height(), h - mh);
    for (const Span& y : ys) {
      for (const Span& x : xs) {
        painter.drawImage(QRectF(origin.x() + x.at, origin.y() + y.at, x.size, y.size), *tinted,
                          QRectF(x.from, y.from, x.length, y.length));
      }
    }
  }
  painter.setOpacity(opacity);
}

void markShadowHost(QWidget* host) {
  if (!shadowHosts().insert(host).second) return;
  QObject::connect(host, &QObject::destroyed, [host] { shadowHosts().erase(host); });
}

bool isShadowHost(const QWidget* widget) {
  return widget && shadowHosts().count(widget);
}

void paintHostedShadows(QWidget* host, QPainter& painter, const QRect& exposed) {
  const auto shows = [&](const ShadowCaster* caster) {
    QWidget* target = caster->target();
    if (!target || !target->isVisibleTo(host) || caster->host() != host) return false;
    if (exposed.isEmpty()) return true;
    const int reach = caster->reach();
    const QRect area(target->mapTo(host, QPoint(0, 0)), target->size());
    return area.adjusted(-reach, -reach, reach, reach).intersects(exposed);
  };
  // Most paints lie clear of every shadow on the host: told without walking its tree.
  if (std::none_of(liveCasters().begin(), liveCasters().end(), shows)) return;
  // In the order of the tree, which is the order they overlap in.
  for (const ShadowCaster* caster : host->findChildren<ShadowCaster*>())
    if (shows(caster)) caster->paintFor(host, painter);
}

ShadowCaster::ShadowCaster(QWidget* target, Paint paint, int reach)
    : QObject(target),
      target_(target),
      paint_(std::move(paint)),
      reach_(reach),
      shownGeometry_(target->geometry()) {
  target->installEventFilter(this);
  liveCasters().push_back(this);
}

ShadowCaster::~ShadowCaster() {
  auto& casters = liveCasters();
  casters.erase(std::find(casters.begin(), casters.end(), this));
}

void ShadowCaster::setReach(int reach) {
  if (reach == reach_) return;
  update();
  reach_ = reach;
  update();
}

QWidget* ShadowCaster::host() const {
  for (QWidget* w = target_->parentWidget(); w; w = w->parentWidget()) {
    if (isShadowHost(w)) return w;
    if (w->isWindow()) break;
  }
  return nullptr;
}

void ShadowCaster::update() {
  // A control out of sight (on a hidden page) casts nothing to repaint.
  if (target_->isVisible()) updateArea(target_->geometry());
}

void ShadowCaster::updateArea(const QRect& geometry) {
  QWidget* h = host();
  if (!h) return;
  const QRect r(target_->parentWidget()->mapTo(h, geometry.topLeft()), geometry.size());
  const QRect area = r.adjusted(-reach_, -reach_, reach_, reach_);
  if (auto* cache = h->findChild<HostedShadowCache*>(QString(), Qt::FindDirectChildrenOnly))
    cache->invalidate(area);
  h->update(area);
}

void ShadowCaster::paintFor(QWidget* host, QPainter& painter) const {
  painter.save();
  painter.translate(target_->mapTo(host, QPoint(0, 0)));
  paint_(painter);
  painter.restore();
}

bool ShadowCaster::eventFilter(QObject* watched, QEvent* event) {
  if (watched == target_) {
    switch (event->type()) {
      // Only where the shadow was and is now: a control that moves, changes its size or
      // shows itself does not repaint the whole host (the window's ground, for most).
      case QEvent::Move:
      case QEvent::Resize:
        updateArea(shownGeometry_);
        shownGeometry_ = target_->geometry();
        update();
        break;
      case QEvent::Show:
        update();
        break;
      case QEvent::Hide:
        updateArea(target_->geometry());
        break;
      case QEvent::ParentChange:
        shownGeometry_ = target_->geometry();
        if (QWidget* h = host()) h->update();
        break;
      default:
        break;
    }
  }
  return QObject::eventFilter(watched, event);
}

// --- HostedShadowCache ---------------------------------------------------------------------

HostedShadowCache::HostedShadowCache(QWidget* host, PaintGround ground)
    : QObject(host), host_(host), ground_(std::move(ground)) {
  markShadowHost(host);
}

void HostedShadowCache::invalidate(const QRect& area) {
  stale_ += area;
}

void HostedShadowCache::followCasters() {
  for (auto& [caster, placed] : placed_)
    placed.seen = false;
  for (ShadowCaster* caster : liveCasters()) {
    if (caster->host() != host_) continue;
    QWidget* target = caster->target();
    QRect area;
    if (target->isVisibleTo(host_)) {
      const int reach = caster->reach();
      area = QRect(target->mapTo(host_, QPoint(0, 0)), target->size())
                 .adjusted(-reach, -reach, reach, reach);
    }
    auto it = placed_.find(caster);
    if (it != placed_.end() && it->second.caster == caster) {
      if (it->second.area != area) {
        stale_ += it->second.area;
        stale_ += area;
        it->second.area = area;
      }
      it->second.seen = true;
      continue;
    }
    // New, or born where a caster now gone lived.
    if (it != placed_.end()) stale_ += it->second.area;
    placed_[caster] = Placed{caster, area, true};
    stale_ += area;
  }
  for (auto it = placed_.begin(); it != placed_.end();) {
    if (it->second.seen) {
      ++it;
    } else {
      stale_ += it->second.area;
      it = placed_.erase(it);
    }
  }
}

void HostedShadowCache::follow() {
  const double scale = host_->devicePixelRatioF();
  const QSize pixels(std::max(1, int(std::ceil(host_->width() * scale))),
                     std::max(1, int(std::ceil(host_->height() * scale))));
  if (picture_.size() != pixels || picture_.devicePixelRatio() != scale) {
    // Opaque: copied, never blended, onto the window.
    picture_ = QImage(pixels, QImage::Format_RGB32);
    picture_.setDevicePixelRatio(scale);
    stale_ = host_->rect();
  }
  followCasters();
}

void HostedShadowCache::draw(const QRegion& area) {
  if (area.isEmpty()) return;
  QPainter p(&picture_);
  p.setClipRegion(area);
  const QRect bounds = area.boundingRect();
  ground_(p, bounds);
  p.setRenderHint(QPainter::Antialiasing);
  paintHostedShadows(host_, p, bounds);
  stale_ -= area;
}

bool HostedShadowCache::prepare() {
  if (!host_->isVisible()) return false;
  follow();
  if (stale_.isEmpty()) return false;
  draw(stale_ & host_->rect());
  stale_ = QRegion();
  return true;
}

void HostedShadowCache::paint(QPainter& painter, const QRegion& exposed) {
  follow();
  draw(stale_ & exposed);
  const double scale = picture_.devicePixelRatio();
  const QRect r = exposed.boundingRect();
  painter.drawImage(r, picture_, QRectF(QPointF(r.topLeft()) * scale, QSizeF(r.size()) * scale));
}

}  // namespace vantry
