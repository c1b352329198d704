#pragma once

// Soft shadows and glows. Qt clips every widget to its own rectangle and QGraphicsEffect
// re-renders whole subtrees on each repaint, so a control's shadow is a cached blurred mask
// painted by its nearest painting ancestor (a shadow host) just before the control itself.

#include <QColor>
#include <QImage>
#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QRectF>

#include <functional>

class QPainter;
class QWidget;

namespace vantry {

struct Shadow {
  QColor color;       // opacity included
  double radius = 0;  // blur radius in points (a Gaussian of sigma radius / 2)
  QPointF offset{0, 0};
};

// How far (in points) a shadow reaches beyond its shape on any side.
int shadowReach(const Shadow& shadow);

// Paints the shadow of a rounded rectangle (corner radius clamped to a capsule). Nothing
// for a clear colour or an empty shape. The blurred mask is cached by size, radius, blur and
// device scale, the tinted image by colour as well.
void paintShadow(QPainter& painter, const QRectF& shape, double cornerRadius, const Shadow& shadow);

// The blurred coverage (0...255) of a rounded rectangle, padded by the blur's reach on
// every side; exposed for tests.
QImage shadowMask(QSizeF size, double cornerRadius, double blurRadius, double scale);

// Marks a widget as a painter of its descendants' shadows. A host calls paintHostedShadows
// from its paintEvent after drawing its own ground.
void markShadowHost(QWidget* host);
bool isShadowHost(const QWidget* widget);
// Paints the shadows that reach into `exposed` (host coordinates; empty = everywhere).
void paintHostedShadows(QWidget* host, QPainter& painter, const QRect& exposed = {});

// Attached to a control (as its child): draws the control's shadows in the control's own
// coordinates when the host asks, and asks the host to repaint when they change.
class ShadowCaster : public QObject {
  Q_OBJECT

 public:
  using Paint = std::function<void(QPainter&)>;
  ShadowCaster(QWidget* target, Paint paint, int reach);

  QWidget* target() const { return target_; }
  int reach() const { return reach_; }
  void setReach(int reach);
  QWidget* host() const;  // nearest marked ancestor, or null

  // Repaints the area of the host under the control and its shadows.
  void update();

  void paintFor(QWidget* host, QPainter& painter) const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* target_;
  Paint paint_;
  int reach_;
};

}  // namespace vantry
