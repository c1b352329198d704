#include "design/shadow.h"

#include <QCache>
#include <QEvent>
#include <QMoveEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <vector>

#include "design/painting.h"

namespace vantry {

namespace {

const char* const kHostProperty = "vantryShadowHost";

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
  host->setProperty(kHostProperty, true);
}

bool isShadowHost(const QWidget* widget) {
  return widget && widget->property(kHostProperty).toBool();
}

void paintHostedShadows(QWidget* host, QPainter& painter, const QRect& exposed) {
  const auto casters = host->findChildren<ShadowCaster*>();
  for (const ShadowCaster* caster : casters) {
    QWidget* target = caster->target();
    if (!target || !target->isVisibleTo(host) || caster->host() != host) continue;
    if (!exposed.isEmpty()) {
      const int reach = caster->reach();
      const QRect area(target->mapTo(host, QPoint(0, 0)), target->size());
      if (!area.adjusted(-reach, -reach, reach, reach).intersects(exposed)) continue;
    }
    caster->paintFor(host, painter);
  }
}

ShadowCaster::ShadowCaster(QWidget* target, Paint paint, int reach)
    : QObject(target), target_(target), paint_(std::move(paint)), reach_(reach) {
  target->installEventFilter(this);
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
  QWidget* h = host();
  if (!h) return;
  const QRect r(target_->mapTo(h, QPoint(0, 0)), target_->size());
  h->update(r.adjusted(-reach_, -reach_, reach_, reach_));
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
      case QEvent::Move: {
        if (QWidget* h = host()) {
          const auto* move = static_cast<QMoveEvent*>(event);
          const QPoint delta = move->oldPos() - move->pos();
          const QRect now(target_->mapTo(h, QPoint(0, 0)), target_->size());
          h->update(now.translated(delta).adjusted(-reach_, -reach_, reach_, reach_));
        }
        update();
        break;
      }
      case QEvent::Resize:
      case QEvent::Show:
      case QEvent::Hide:
      case QEvent::ParentChange:
        if (QWidget* h = host()) h->update();
        break;
      default:
        break;
    }
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace vantry
