#pragma once

// Shared drawing helpers of the controls: the interface font, inside-stroked rounded shapes
// and the pointing-hand cursor.

#include <QColor>
#include <QFont>
#include <QRectF>
#include <QString>

class QBrush;
class QPalette;
class QPainterPath;
class QPainter;
class QWidget;

namespace vantry {

// The interface font (Noto Sans CJK, which carries Latin and Chinese alike) at a size in
// points, where one point is one device-independent pixel.
QFont uiFont(double points, QFont::Weight weight);
// Makes that font (13 points, regular) the application's default, for labels and dialogs
// built from plain widgets. Call once the QApplication exists.
void installInterfaceFont();

// The one dark look as a palette of the theme's colours, for what Qt draws itself: message
// boxes, file dialogs, tooltips, the menus of text fields.
QPalette darkPalette();
// Makes it the application's, tooltips included, under the Fusion style, which draws from
// the palette alone whatever style the desktop prefers. Call once the QApplication exists.
void installDarkLook();

// A rounded rectangle with continuous corners: the curvature eases into the straight edges
// (each corner starts about 1.53 radii from its vertex) instead of a circular arc meeting them
// abruptly. Where the rectangle is too small for that, the plain arc is used, clamped to a
// capsule.
QPainterPath continuousRoundedRect(const QRectF& rect, double radius);

// A rounded rectangle filled, or stroked inside its edge (inset by half the line width so the
// stroke never grows the shape). Radii are clamped to a capsule.
void fillRounded(QPainter& painter, const QRectF& rect, double radius, const QBrush& brush);
void strokeRoundedInside(QPainter& painter, const QRectF& rect, double radius, const QBrush& brush,
                         double lineWidth);

// `color` with its opacity multiplied by `factor` (clamped to 0...1).
QColor faded(const QColor& color, double factor);
// Straight mix of two colours, t in 0...1.
QColor mixed(const QColor& from, const QColor& to, double t);

// Shows the pointing-hand cursor over `widget` while it is enabled and the platform cursor
// otherwise; follows later enable and disable changes. Layout and look are untouched.
void handCursor(QWidget* widget);

// The keyboard focus ring of a control (only reached with Tab), inside the shape: a band of
// the accent at its edge, where it meets what lies around the control, and a dark band within
// it, where it meets the control's face. Whatever the face (dark glass, the accent gradients,
// white), one of the two bands stands out from it.
inline constexpr double kFocusBand = 2;  // points, each band
void paintFocusRing(QPainter& painter, const QWidget* widget, const QRectF& rect, double radius);

// Scales the painter about the centre of `rect`.
void scaleAbout(QPainter& painter, const QRectF& rect, double scale);

}  // namespace vantry
