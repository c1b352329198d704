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
#include <QRegion>

#include <functional>
#include <unordered_map>

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
  ~ShadowCaster() override;

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
  // Repaints the host under the target at `geometry` (in the target's parent) and its shadows.
  void updateArea(const QRect& geometry);

  QWidget* target_;
  Paint paint_;
  int reach_;
  QRect shownGeometry_;  // the target's geometry when its shadow was last placed
};

// A host's ground with the shadows it hosts, kept as one opaque picture: a repaint of the
// host copies from it, and only where a shadow changed, moved, came or went are the ground
// and the shadows drawn again. The window's ground hosts the shadows of every card on it,
// which cost far more to draw than to copy. Makes its host a shadow host.
class HostedShadowCache : public QObject {
  Q_OBJECT

 public:
  // Draws the host's ground into the part `area` (host coordinates) of a painter.
  using PaintGround = std::function<void(QPainter&, const QRect& area)>;
  HostedShadowCache(QWidget* host, PaintGround ground);

  // Paints `exposed` of the host (host coordinates) from the picture, bringing it up to
  // date there first.
  void paint(QPainter& painter, const QRegion& exposed);
  // Brings all of the picture up to date ahead of a paint (which then only copies); true
  // when there was something to draw.
  bool prepare();
  // The shadows in `area` (host coordinates) changed.
  void invalidate(const QRect& area);

 private:
  // Sizes the picture to the host and marks out of date where a hosted shadow now lies
  // elsewhere, or came or went.
  void follow();
  void followCasters();
  // Draws the ground and the shadows into `area` of the picture.
  void draw(const QRegion& area);

  struct Placed {
    QPointer<ShadowCaster> caster;  // null once it is gone
    QRect area;                     // where its shadow was drawn into the picture
    bool seen = false;
  };
  QWidget* host_;
  PaintGround ground_;
  QImage picture_;
  QRegion stale_;
  std::unordered_map<const ShadowCaster*, Placed> placed_;
};

}  // namespace vantry
