#include "design/chrome.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QRadialGradient>
#include <QTimer>

#include <algorithm>
#include <cmath>

#include "design/painting.h"
#include "design/theme.h"

namespace vantry {

std::vector<QLineF> ambientGridLines(double width, double height) {
  std::vector<QLineF> lines;
  const double w = std::max(width, 0.0), h = std::max(height, 0.0);
  // Multiplying instead of adding keeps long rows of lines from drifting.
  for (long k = 0;; ++k) {
    const double x = static_cast<double>(k) * 32.0;
    if (x > w) break;
    lines.emplace_back(x, 0, x, h);
  }
  for (long k = 0;; ++k) {
    const double y = static_cast<double>(k) * 32.0;
    if (y > h) break;
    lines.emplace_back(0, y, w, y);
  }
  return lines;
}

QPainterPath ambientGrid(double width, double height) {
  QPainterPath path;
  for (const QLineF& line : ambientGridLines(width, height)) {
    path.moveTo(line.p1());
    path.lineTo(line.p2());
  }
  return path;
}

// --- AmbientBackground ---------------------------------------------------------------------

// Adds the 0.5-point grid lines in white straight into the pixels. Qt's rasteriser
// takes over 100 ms for the hair-thin antialiased lines of a full-HD window, this a few ms.
// Each line covers the band [p - 0.25, p + 0.25]; a pixel's coverage is the overlap, and where
// a column band meets a row band the union of the two counts (as one stroked path would).
void blendAmbientGrid(QImage& image, double width, double height, double scale, double opacity) {
  const std::vector<QLineF> lines = ambientGridLines(width, height);
  const int w = image.width(), h = image.height();
  std::vector<double> col(w, 0.0), row(h, 0.0);
  const auto band = [scale](std::vector<double>& cover, double at) {
    const double lo = (at - 0.25) * scale, hi = (at + 0.25) * scale;
    const int n = static_cast<int>(cover.size());
    for (int i = std::max(0, int(std::floor(lo))); i < std::min(n, int(std::ceil(hi))); ++i) {
      const double overlap = std::min(hi, i + 1.0) - std::max(lo, double(i));
      if (overlap > 0) cover[i] = std::min(1.0, cover[i] + overlap);
    }
  };
  for (const QLineF& line : lines) {
    if (line.x1() == line.x2()) {
      band(col, line.x1());
    } else {
      band(row, line.y1());
    }
  }
  const double kOpacity = std::clamp(opacity, 0.0, 1.0);
  const auto blend = [](QRgb& px, double a) {
    const auto up = [a](int c) { return int(c + (255 - c) * a + 0.5); };
    px = qRgba(up(qRed(px)), up(qGreen(px)), up(qBlue(px)), up(qAlpha(px)));
  };
  for (int y = 0; y < h; ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    if (row[y] > 0) {
      for (int x = 0; x < w; ++x) {
        blend(line[x], kOpacity * (row[y] + col[x] - row[y] * col[x]));
      }
    } else {
      for (int x = 0; x < w; ++x) {
        if (col[x] > 0) blend(line[x], kOpacity * col[x]);
      }
    }
  }
}

AmbientBackground::AmbientBackground(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  shadows_ = new HostedShadowCache(this, [this](QPainter& p, const QRect& area) {
    const double scale = devicePixelRatioF();
    if (cache_.isNull() || cache_.deviceIndependentSize().toSize() != size() ||
        cache_.devicePixelRatio() != scale) {
      // Opaque, so that it is copied rather than blended where the shadows are drawn again.
      cache_ = drawGround(size(), scale).convertToFormat(QImage::Format_RGB32);
    }
    p.drawImage(area, cache_, QRectF(QPointF(area.topLeft()) * scale, QSizeF(area.size()) * scale));
  });
}

QImage AmbientBackground::drawGround(QSize size, double scale) {
  QImage image(QSize(std::max(1, int(std::ceil(size.width() * scale))),
                     std::max(1, int(std::ceil(size.height() * scale)))),
               QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(scale);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF r(0, 0, size.width(), size.height());
  p.fillRect(r, VisualEffectBackground::toneOf(VisualEffectBackground::Material::hudWindow));
  p.fillRect(r, Color(0x07090F, 0.82));

  QRadialGradient cyan(QPointF(0.08 * r.width(), 0), 620);
  cyan.setColorAt(0, faded(Theme::cyan, 0.16));
  cyan.setColorAt(1, QColor(0, 0, 0, 0));
  p.fillRect(r, cyan);
  QRadialGradient violet(QPointF(0.95 * r.width(), r.height()), 700);
  violet.setColorAt(0, faded(Theme::violet, 0.16));
  violet.setColorAt(1, QColor(0, 0, 0, 0));
  p.fillRect(r, violet);

  p.end();
  blendAmbientGrid(image, r.width(), r.height(), scale);
  return image;
}

void AmbientBackground::paintEvent(QPaintEvent* event) {
  QPainter p(this);
  shadows_->paint(p, event->region());
}

// --- VisualEffectBackground ----------------------------------------------------------------

VisualEffectBackground::VisualEffectBackground(Material material, Blending blending,
                                               QWidget* parent)
    : QWidget(parent), material_(material), blending_(blending) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void VisualEffectBackground::setMaterial(Material material, Blending blending) {
  material_ = material;
  blending_ = blending;
  update();
}

QColor VisualEffectBackground::toneOf(Material material) {
  switch (material) {
    case Material::hudWindow:
      return Color(0x161A24);
    case Material::ultraThin:
      return Color(0x1B1F2B);
    case Material::sidebar:
      return Color(0x12151E);
  }
  return Color(0x161A24);
}

void VisualEffectBackground::paintEvent(QPaintEvent* event) {
  QPainter p(this);
  p.fillRect(event->rect(), toneOf(material_));
}

// --- GlassSurface --------------------------------------------------------------------------

Shadow glassShadow(const GlassStyle& style) {
  if (style.glow) return {faded(*style.glow, 0.35), 22, {0, 0}};
  return {Color(0x000000, 0.35), 18, {0, 10}};
}

namespace {
// The thinnest dark material over the ambient ground, then the white wash.
QColor glassMaterial() {
  return Color(0x0E1220, 0.42);
}
QColor glassWash(const GlassStyle& style) {
  return Color(0xFFFFFF, style.tint);
}
}  // namespace

void paintGlass(QPainter& painter, const QRectF& rect, const GlassStyle& style) {
  fillRounded(painter, rect, style.radius, glassMaterial());
  fillRounded(painter, rect, style.radius, glassWash(style));
  strokeRoundedInside(painter, rect, style.radius, Theme::glassStroke.over(rect), 1);
}

GlassSurface* glass(QWidget* widget, GlassStyle style) {
  if (auto* existing = widget->findChild<GlassSurface*>(QString(), Qt::FindDirectChildrenOnly)) {
    existing->setStyle(style);
    return existing;
  }
  return new GlassSurface(widget, style);
}

GlassSurface::GlassSurface(QWidget* widget, GlassStyle style)
    : QObject(widget), widget_(widget), style_(std::move(style)) {
  markShadowHost(widget);
  widget->installEventFilter(this);
  shadow_ = new ShadowCaster(
      widget,
      [this](QPainter& p) {
        // Glass is translucent: keep the shadow from showing through the card itself.
        const QRectF r = widget_->rect();
        const Shadow shadow = glassShadow(style_);
        const int reach = shadowReach(shadow);
        QPainterPath outside;
        outside.addRect(r.adjusted(-reach, -reach, reach, reach));
        const QPainterPath card = continuousRoundedRect(r, style_.radius);
        p.save();
        p.setClipPath(outside.subtracted(card), Qt::IntersectClip);
        paintShadow(p, r, style_.radius, shadow);
        p.restore();
      },
      shadowReach(glassShadow(style_)));
  widget->update();
}

void GlassSurface::setStyle(const GlassStyle& style) {
  style_ = style;
  shadow_->setReach(shadowReach(glassShadow(style_)));
  shadow_->update();
  widget_->update();
}

bool GlassSurface::eventFilter(QObject* watched, QEvent* event) {
  if (watched == widget_ && event->type() == QEvent::Paint) {
    // Painted before the widget's own paintEvent, which then draws over the glass.
    QPainter p(widget_);
    p.setRenderHint(QPainter::Antialiasing);
    const QRegion& region = static_cast<QPaintEvent*>(event)->region();
    p.setClipRegion(region);
    // A part clear of the rounded corners and the edge line (the strips of a moving playhead)
    // is flat glass: filled as rectangles, not through the rounded shape.
    const QRect r = widget_->rect();
    const int corner = int(std::ceil(1.53 * style_.radius)) + 1;
    if (region
            .subtracted(QRegion(r.adjusted(corner, 1, -corner, -1)) +
                        QRegion(r.adjusted(1, corner, -1, -corner)))
            .isEmpty()) {
      for (const QRect& part : region) {
        p.fillRect(part, glassMaterial());
        p.fillRect(part, glassWash(style_));
      }
    } else {
      paintGlass(p, r, style_);
    }
    paintHostedShadows(widget_, p, region.boundingRect());
  }
  return false;
}

// --- TransparentWindow ---------------------------------------------------------------------

TransparentWindow::TransparentWindow(QWidget* inside, std::function<void()> quit)
    : QObject(inside), inside_(inside), quit_(std::move(quit)) {
  // The widget may not be in its final window yet: look once on the next turn.
  QTimer::singleShot(0, this, &TransparentWindow::attach);
}

void TransparentWindow::attach() {
  QWidget* w = inside_->window();
  if (!w) return;
  window_ = w;
  window_->setAttribute(Qt::WA_TranslucentBackground, false);
  window_->setAutoFillBackground(true);
  QPalette palette = window_->palette();
  palette.setColor(QPalette::Window, Theme::base);
  window_->setPalette(palette);
  window_->installEventFilter(this);
}

void TransparentWindow::allowClose() {
  if (window_) window_->removeEventFilter(this);
  window_ = nullptr;
}

bool TransparentWindow::eventFilter(QObject* watched, QEvent* event) {
  // Every close request (the window manager's button, Ctrl+W routed here) asks to quit
  // instead; the quit flow decides, and the window stays open if it says no.
  if (watched == window_ && event->type() == QEvent::Close) {
    event->ignore();
    emit quitRequested();
    if (quit_) {
      quit_();
    } else {
      QCoreApplication::quit();
    }
    return true;
  }
  return false;
}

}  // namespace vantry
