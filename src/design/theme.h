#pragma once

// design/: the design system every view is drawn with: theme, painting, shadows, motion,
// icons, the controls (buttons, slider, switch, pill segments), menus, window chrome, the
// sheet every sheet is built on and the screen-reader views of painted controls. It knows
// nothing of the controller.
//
// The application's one dark look: palette, gradients, track colours and the figure font.
// Solid colours are compile-time constants, so they are ready before any static initialiser
// runs and never change; fonts are made once on first use (they need the application).

#include <QColor>
#include <QFont>
#include <QLinearGradient>
#include <QPointF>
#include <QRectF>

#include <array>
#include <cstdint>

namespace vantry {

// 24-bit 0xRRGGBB (top byte ignored) plus opacity. Qt turns an out-of-range alpha into an
// invalid colour, so the opacity is clamped to 0...1 here (NaN counts as 0). Rounds the
// alpha exactly like QColor::setAlphaF, so Color(h, a) equals a QColor built the usual way.
constexpr QColor Color(std::uint32_t hex, double opacity = 1.0) noexcept {
  const double o = opacity >= 0.0 ? (opacity <= 1.0 ? opacity : 1.0) : 0.0;  // NaN -> 0
  const auto alpha = static_cast<unsigned short>(o * 65535.0 + 0.5);
  return QColor(QColor::Rgb, alpha, static_cast<unsigned short>(((hex >> 16) & 0xFF) * 0x101),
                static_cast<unsigned short>(((hex >> 8) & 0xFF) * 0x101),
                static_cast<unsigned short>((hex & 0xFF) * 0x101));
}

// A two-stop linear gradient in unit coordinates of the rectangle it fills.
struct Gradient {
  QColor from;
  QColor to;
  QPointF start;  // (0,0) = top-left, (1,1) = bottom-right
  QPointF end;

  QLinearGradient over(const QRectF& r) const {
    QLinearGradient g(r.left() + start.x() * r.width(), r.top() + start.y() * r.height(),
                      r.left() + end.x() * r.width(), r.top() + end.y() * r.height());
    g.setColorAt(0.0, from);
    g.setColorAt(1.0, to);
    return g;
  }
  friend bool operator==(const Gradient& a, const Gradient& b) {
    return a.from == b.from && a.to == b.to && a.start == b.start && a.end == b.end;
  }
};

// Lighter colour first, darker second.
using TrackColors = std::array<QColor, 2>;

namespace Theme {

inline constexpr QColor base = Color(0x07090F);
inline constexpr QColor raised = Color(0x0E1220);
inline constexpr QColor text = Color(0xEEF2FA);
inline constexpr QColor secondary = Color(0x8C96AE);
inline constexpr QColor tertiary = Color(0x586178);
inline constexpr QColor cyan = Color(0x4FD8FF);
inline constexpr QColor violet = Color(0x8E7CFF);
inline constexpr QColor mint = Color(0x3DDBB0);
inline constexpr QColor rec = Color(0xFF4D6D);
inline constexpr QColor amber = Color(0xFFB547);

inline constexpr QColor hairline = Color(0xFFFFFF, 0.08);

inline constexpr Gradient accent{cyan, violet, {0.0, 0.5}, {1.0, 0.5}};
inline constexpr Gradient accentDiagonal{cyan, violet, {0.0, 0.0}, {1.0, 1.0}};
inline constexpr Gradient recGradient{Color(0xFF6B81), Color(0xE11D48), {0.5, 0.0}, {0.5, 1.0}};
inline constexpr Gradient glassStroke{
    Color(0xFFFFFF, 0.16), Color(0xFFFFFF, 0.04), {0.5, 0.0}, {0.5, 1.0}};

inline constexpr TrackColors videoTrack{Color(0x2E7FD9), Color(0x1B4F91)};
inline constexpr TrackColors zoomTrack{Color(0x8E7CFF), Color(0x5B46D6)};
inline constexpr TrackColors presenterTrack{Color(0x2BC79A), Color(0x16795F)};

// Numeric read-outs: monospaced, 11 px, medium weight.
const QFont& mono();
// The same face at another pixel size and weight.
QFont mono(double pixels, QFont::Weight weight);

}  // namespace Theme

// Older names of the same colours.
inline constexpr QColor ink = Theme::base;
inline constexpr QColor panel = Theme::raised;
inline constexpr QColor edge = Theme::hairline;
inline constexpr QColor muted = Theme::secondary;
inline constexpr QColor blue = Theme::cyan;

}  // namespace vantry
