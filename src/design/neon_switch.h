#pragma once

// A labelled switch: label, flexible space, and a 34 x 20 capsule whose gradient track glows
// when on. The whole row toggles it.

#include <QAbstractButton>

namespace vantry {

class Animated;
class ShadowCaster;

class NeonSwitch : public QAbstractButton {
  Q_OBJECT

 public:
  static constexpr double kTrackWidth = 34, kTrackHeight = 20, kKnob = 16;

  explicit NeonSwitch(const QString& title = {}, bool on = false, QWidget* parent = nullptr);

  // Where the switch sits in the row, and where its knob is drawn now.
  QRectF trackRect() const;
  QRectF knobRect() const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }

 private:
  void paintShadows(QPainter& painter);

  Animated* knob_;  // 0 off ... 1 on, sprung
  ShadowCaster* shadow_;
};

}  // namespace vantry
