#pragma once

// Window chrome: the ambient ground of the main window, the dark stand-in for a window blur,
// glass cards, and the close button that asks to quit.
//
// X11 offers no blur of what lies behind a window, so windows stay opaque and paint their own
// dark ground; glass is a translucent fill over that ground, which looks the same on it.

#include <QColor>
#include <QImage>
#include <QLineF>
#include <QObject>
#include <QPainterPath>
#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

#include "design/shadow.h"

namespace vantry {

// The grid of the ambient ground: vertical lines at x = k * 32 for every k with x <= width
// and horizontal ones likewise (a zero size still has one of each, of zero length);
// ambientGrid joins them into one path.
std::vector<QLineF> ambientGridLines(double width, double height);
QPainterPath ambientGrid(double width, double height);
// Adds those lines, 0.5 points wide, in white at `opacity` to an ARGB32 premultiplied image
// of the given size in points at `scale` pixels per point: the same pixels as stroking the
// path, far faster than Qt's rasteriser draws hair-thin lines.
void blendAmbientGrid(QImage& image, double width, double height, double scale,
                      double opacity = 0.018);

// Fills the window behind everything else: dark ground, two coloured glows in opposite
// corners and a faint 32-point grid. The drawing is cached per size. It also paints the
// shadows of the controls on it, kept with the ground in one picture.
class AmbientBackground : public QWidget {
  Q_OBJECT

 public:
  explicit AmbientBackground(QWidget* parent = nullptr);

  // The ground of a window of `size` points at `scale` pixels per point, as painted.
  static QImage drawGround(QSize size, double scale = 1.0);
  HostedShadowCache* shadows() const { return shadows_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage cache_;
  HostedShadowCache* shadows_;
};

// The dark, always-active material used under sheets. Without a live blur it is an opaque
// fill of the material's dark tone.
class VisualEffectBackground : public QWidget {
  Q_OBJECT

 public:
  enum class Material { hudWindow, ultraThin, sidebar };
  enum class Blending { behindWindow, withinWindow };

  explicit VisualEffectBackground(QWidget* parent = nullptr)
      : VisualEffectBackground(Material::hudWindow, Blending::behindWindow, parent) {}
  VisualEffectBackground(Material material, Blending blending, QWidget* parent = nullptr);

  Material material() const { return material_; }
  Blending blending() const { return blending_; }
  void setMaterial(Material material, Blending blending);

  static QColor toneOf(Material material);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Material material_;
  Blending blending_;
};

// Glass card parameters: corner radius, white wash opacity, and an optional halo colour
// that replaces the dark drop shadow.
struct GlassStyle {
  double radius = 16;
  double tint = 0.035;
  std::optional<QColor> glow;
};

// The card's shadow: a coloured halo (0.35, radius 22, centred) or a black drop shadow
// (0.35, radius 18, 10 points down).
Shadow glassShadow(const GlassStyle& style);

// Draws the glass card (fill, white wash and the gradient edge) into `rect`.
void paintGlass(QPainter& painter, const QRectF& rect, const GlassStyle& style);

// Makes `widget` a glass card: its ground is painted under its own painting, its shadow by
// the nearest shadow host, and it hosts the shadows of the controls on it. Adds no margins
// and sets no mask. Returns the attached surface, which owns nothing else.
class GlassSurface;
GlassSurface* glass(QWidget* widget, GlassStyle style = {});

class GlassSurface : public QObject {
  Q_OBJECT

 public:
  GlassSurface(QWidget* widget, GlassStyle style);
  const GlassStyle& style() const { return style_; }
  void setStyle(const GlassStyle& style);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* widget_;
  GlassStyle style_;
  ShadowCaster* shadow_;
};

// Attached to a top-level window: keeps it opaque with its own dark ground and turns every
// request to close the window (its close button included) into a request to quit; the
// window stays open and the quit flow decides. Applied once the widget is in its window, on
// the next turn of the event loop.
class TransparentWindow : public QObject {
  Q_OBJECT

 public:
  // `inside` is any widget of the window; `quit` is asked instead of closing (by default
  // QCoreApplication::quit).
  explicit TransparentWindow(QWidget* inside, std::function<void()> quit = {});

  QWidget* window() const { return window_; }
  // Lets close requests through again (for a shutdown that closes windows itself).
  void allowClose();

 signals:
  void quitRequested();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void attach();

  QWidget* inside_;
  QWidget* window_ = nullptr;
  std::function<void()> quit_;
};

}  // namespace vantry
