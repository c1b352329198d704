#pragma once

// A thin horizontal slider: a glowing filled part and a knob that grows under the pointer,
// with optional snapping to multiples of a step. Tab reaches it; the arrows move it by the
// step (a hundredth of the range without one), Page Up and Page Down by a tenth, Home and End
// to its ends. A key held down is one edit, as a drag is.

#include <QWidget>

#include <optional>

#include "design/theme.h"

namespace vantry {

class Animated;
class ShadowCaster;

class NeonSlider : public QWidget {
  Q_OBJECT

 public:
  // Knob sizes: resting, under the pointer, while dragging.
  static constexpr double kKnob = 12, kKnobHover = 14, kKnobDrag = 15;
  static constexpr int kHeight = 18;

  NeonSlider(double value, double lo, double hi, std::optional<double> step = std::nullopt,
             Gradient tint = Theme::accent, QWidget* parent = nullptr);

  double value() const { return value_; }
  // Sets the value from outside (the binding); emits nothing. A value outside the range is
  // kept and drawn at the nearer end.
  void setValue(double value);
  // A value set through the accessibility view: clamped and snapped like a drag, reported
  // through valueChanged, without editingChanged.
  void setValueFromAccessibility(double value);
  double lower() const { return lo_; }
  double upper() const { return hi_; }
  void setRange(double lo, double hi);
  std::optional<double> step() const { return step_; }
  void setStep(std::optional<double> step);
  void setTint(const Gradient& tint);

  bool dragging() const { return dragging_; }
  bool hovering() const { return hovering_; }
  // The knob size of the current state (used by the drag mapping).
  double knobSize() const;

  // Displayed fraction: (value - lo) / span clamped to 0...1, where anything not below 1
  // (NaN included) counts as 1.
  static double fraction(double value, double lo, double hi);
  // The value a pointer at x selects on a track of `width` with a knob of `knob`: the knob's
  // centre follows the pointer, snapping counts multiples of `step` from zero (halves away
  // from zero), and the result stays within lo...hi. A track no wider than the knob has no
  // travel: its right half selects hi, its left half lo.
  static double valueAt(double x, double width, double knob, double lo, double hi,
                        std::optional<double> step);
  // The knob's left edge for a fraction (never negative, even on a track narrower than the
  // knob).
  static double knobOffset(double fraction, double width, double knob);

  QSize sizeHint() const override { return QSize(160, kHeight); }
  QSize minimumSizeHint() const override { return QSize(int(kKnobDrag), kHeight); }

 signals:
  // A user drag changed the value.
  void valueChanged(double value);
  // True when a drag starts, false when it ends.
  void editingChanged(bool editing);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void dragTo(double x);
  void endDrag();
  // Where a key moves the value, or nothing for a key the slider does not use.
  std::optional<double> keyedValue(int key) const;
  void endKeying();
  void stateChanged();
  void paintShadows(QPainter& painter);
  QRectF fillRect() const;
  QRectF knobRect() const;

  double value_;
  double lo_;
  double hi_;
  std::optional<double> step_;
  Gradient tint_;
  bool dragging_ = false;
  bool keying_ = false;  // a key press began an edit that its release ends
  bool hovering_ = false;
  Animated* knob_;  // shown knob size
  Animated* drag_;  // 0 resting ... 1 dragging, for the glows
  ShadowCaster* shadow_;
};

}  // namespace vantry
