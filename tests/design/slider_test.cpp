#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QMouseEvent>

#include <cmath>
#include <limits>
#include <set>

#include "design/neon_slider.h"
#include "render_probe.h"
#include "signal_log.h"

namespace vantry {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::set<double> valuesProducedBySweep(double lo, double hi, double step) {
  std::set<double> seen;
  for (int x = -20; x <= 220; ++x) {
    seen.insert(NeonSlider::valueAt(x, 200, 12, lo, hi, step));
  }
  return seen;
}

TEST(SliderMapping, KnobCentreFollowsThePointer) {
  // Over 0...1 on a 200-wide track with a 12-point knob, x = 6 is 0 and x = 194 is 1.
  EXPECT_DOUBLE_EQ(NeonSlider::valueAt(6, 200, 12, 0, 1, std::nullopt), 0.0);
  EXPECT_DOUBLE_EQ(NeonSlider::valueAt(194, 200, 12, 0, 1, std::nullopt), 1.0);
  EXPECT_DOUBLE_EQ(NeonSlider::valueAt(100, 200, 12, 0, 1, std::nullopt), 0.5);
  EXPECT_DOUBLE_EQ(NeonSlider::valueAt(-50, 200, 12, 0, 1, std::nullopt), 0.0);
  EXPECT_DOUBLE_EQ(NeonSlider::valueAt(500, 200, 12, 0, 1, std::nullopt), 1.0);
  EXPECT_DOUBLE_EQ(NeonSlider::valueAt(100, 200, 12, 2, 4, std::nullopt), 3.0);
}

TEST(SliderMapping, StepsSnapFromZeroNotFromTheLowerBound) {
  EXPECT_EQ(valuesProducedBySweep(0.5, 3, 1), (std::set<double>{1, 2, 3}));
  EXPECT_EQ(valuesProducedBySweep(0.25, 2.75, 1), (std::set<double>{0.25, 1, 2, 2.75}));
  // Halves round away from zero.
  EXPECT_DOUBLE_EQ(NeonSlider::valueAt(100, 200, 12, 0, 5, 1.0), 3.0);
  EXPECT_DOUBLE_EQ(NeonSlider::valueAt(100, 200, 12, -5, 0, 1.0), -3.0);
  // A step that cannot snap (zero, negative, not a number) leaves the value continuous.
  EXPECT_DOUBLE_EQ(NeonSlider::valueAt(100, 200, 12, 0, 1, 0.0), 0.5);
  EXPECT_DOUBLE_EQ(NeonSlider::valueAt(100, 200, 12, 0, 1, -1.0), 0.5);
  EXPECT_DOUBLE_EQ(NeonSlider::valueAt(100, 200, 12, 0, 1, kNaN), 0.5);
}

TEST(SliderMapping, EqualBoundsAlwaysGiveThatBound) {
  for (double x : {-10.0, 0.0, 50.0, 199.0, 400.0}) {
    EXPECT_DOUBLE_EQ(NeonSlider::valueAt(x, 200, 12, 2, 2, std::nullopt), 2.0);
  }
  EXPECT_DOUBLE_EQ(NeonSlider::fraction(2, 2, 2), 0.0);
}

// A track no wider than the knob has no travel: the old mapping divided by zero or by a
// negative width and ran backwards.
TEST(SliderMapping, TrackNoWiderThanTheKnobSplitsAtItsCentre) {
  EXPECT_DOUBLE_EQ(NeonSlider::valueAt(6, 12, 12, 0, 10, std::nullopt), 10.0);
  EXPECT_DOUBLE_EQ(NeonSlider::valueAt(11, 12, 12, 0, 10, std::nullopt), 10.0);
  EXPECT_DOUBLE_EQ(NeonSlider::valueAt(5.9, 12, 12, 0, 10, std::nullopt), 0.0);
  // Narrower than the knob: still right half high, left half low, never reversed.
  EXPECT_DOUBLE_EQ(NeonSlider::valueAt(1, 8, 15, 0, 10, std::nullopt), 0.0);
  EXPECT_DOUBLE_EQ(NeonSlider::valueAt(7, 8, 15, 0, 10, std::nullopt), 10.0);
  EXPECT_DOUBLE_EQ(NeonSlider::valueAt(4, 0, 15, 0, 10, std::nullopt), 10.0);
  EXPECT_DOUBLE_EQ(NeonSlider::knobOffset(1.0, 8, 15), 0.0);
}

TEST(SliderMapping, InvertedRangeCollapsesToItsLowerBound) {
  NeonSlider slider(3, 5, 1);
  EXPECT_EQ(slider.lower(), 5);
  EXPECT_EQ(slider.upper(), 5);
  slider.setRange(2, -2);
  EXPECT_EQ(slider.upper(), 2);
}

TEST(SliderMapping, DisplayedFractionClampsAndTreatsNaNAsFull) {
  EXPECT_DOUBLE_EQ(NeonSlider::fraction(-3, 0, 1), 0.0);
  EXPECT_DOUBLE_EQ(NeonSlider::fraction(7, 0, 1), 1.0);
  EXPECT_DOUBLE_EQ(NeonSlider::fraction(kNaN, 0, 1), 1.0);
  EXPECT_DOUBLE_EQ(NeonSlider::fraction(0.25, 0, 1), 0.25);
}

class SliderWidget : public ::testing::Test {
 protected:
  void SetUp() override {
    slider = new NeonSlider(0.5, 0, 1);
    slider->resize(200, NeonSlider::kHeight);
    host = probeHost(slider);
  }
  void TearDown() override { delete host; }

  void mouse(QEvent::Type type, double x) {
    QMouseEvent e(type, QPointF(x, 9), slider->mapToGlobal(QPointF(x, 9)), Qt::LeftButton,
                  type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                  Qt::NoModifier);
    QCoreApplication::sendEvent(slider, &e);
  }

  QWidget* host = nullptr;
  NeonSlider* slider = nullptr;
};

// A key as the keyboard sends it; a held key repeats as press and release pairs marked as
// repeats.
bool sendKey(QWidget* to, QEvent::Type type, int key, bool repeat = false) {
  QKeyEvent e(type, key, Qt::NoModifier, QString(), repeat);
  QCoreApplication::sendEvent(to, &e);
  return e.isAccepted();
}

void tapKey(QWidget* to, int key) {
  sendKey(to, QEvent::KeyPress, key);
  sendKey(to, QEvent::KeyRelease, key);
}

// Tab reaches the slider; the arrows move it a hundredth of the range, Page Up and Page
// Down a tenth, Home and End to its ends; a key held down is one edit, as a drag is.
TEST_F(SliderWidget, KeysMoveItAndAHeldKeyIsOneEdit) {
  EXPECT_EQ(slider->focusPolicy(), Qt::TabFocus);
  SignalLog editing(slider, &NeonSlider::editingChanged);
  sendKey(slider, QEvent::KeyPress, Qt::Key_Right);
  sendKey(slider, QEvent::KeyRelease, Qt::Key_Right, true);
  sendKey(slider, QEvent::KeyPress, Qt::Key_Right, true);
  sendKey(slider, QEvent::KeyRelease, Qt::Key_Right);
  EXPECT_NEAR(slider->value(), 0.52, 1e-12);
  ASSERT_EQ(editing.count(), 2);
  EXPECT_TRUE(editing[0][0].toBool());
  EXPECT_FALSE(editing[1][0].toBool());

  tapKey(slider, Qt::Key_PageDown);
  EXPECT_NEAR(slider->value(), 0.42, 1e-12);
  tapKey(slider, Qt::Key_Down);
  EXPECT_NEAR(slider->value(), 0.41, 1e-12);
  tapKey(slider, Qt::Key_PageUp);
  EXPECT_NEAR(slider->value(), 0.51, 1e-12);
  tapKey(slider, Qt::Key_Home);
  EXPECT_EQ(slider->value(), 0.0);
  SignalLog values(slider, &NeonSlider::valueChanged);
  tapKey(slider, Qt::Key_Left);  // already at the end
  EXPECT_EQ(slider->value(), 0.0);
  EXPECT_EQ(values.count(), 0);
  tapKey(slider, Qt::Key_End);
  EXPECT_EQ(slider->value(), 1.0);
  EXPECT_EQ(editing.count(), 14);  // each key pressed and let go once more
  // A key it has no use for goes on to the window.
  EXPECT_FALSE(sendKey(slider, QEvent::KeyPress, Qt::Key_A));
}

// With a step, the arrows move by the step and every value stays on it.
TEST(SliderKeys, SteppedMovesByTheStep) {
  NeonSlider zoom(2.0, 1.1, 4.0, 0.05);
  tapKey(&zoom, Qt::Key_Right);
  EXPECT_NEAR(zoom.value(), 2.05, 1e-9);
  tapKey(&zoom, Qt::Key_PageUp);  // a tenth of the range, 0.29, on the step
  EXPECT_NEAR(zoom.value(), 2.35, 1e-9);
  tapKey(&zoom, Qt::Key_Home);
  EXPECT_NEAR(zoom.value(), 1.1, 1e-9);
}

TEST_F(SliderWidget, PressWithoutMovementSetsTheValueAndBracketsTheEdit) {
  SignalLog editing(slider, &NeonSlider::editingChanged);
  SignalLog values(slider, &NeonSlider::valueChanged);
  // While dragging the knob is 15 wide: x = 7.5 is the lower end.
  mouse(QEvent::MouseButtonPress, 7.5);
  EXPECT_TRUE(slider->dragging());
  EXPECT_EQ(slider->knobSize(), NeonSlider::kKnobDrag);
  EXPECT_DOUBLE_EQ(slider->value(), 0.0);
  mouse(QEvent::MouseButtonRelease, 7.5);
  EXPECT_FALSE(slider->dragging());
  ASSERT_EQ(editing.count(), 2);
  EXPECT_TRUE(editing[0][0].toBool());
  EXPECT_FALSE(editing[1][0].toBool());
  ASSERT_EQ(values.count(), 1);
  EXPECT_DOUBLE_EQ(values[0][0].toDouble(), 0.0);
}

TEST_F(SliderWidget, DragFollowsThePointerAndEndsOnce) {
  SignalLog editing(slider, &NeonSlider::editingChanged);
  mouse(QEvent::MouseButtonPress, 100);
  mouse(QEvent::MouseMove, 192.5);
  EXPECT_DOUBLE_EQ(slider->value(), 1.0);
  mouse(QEvent::MouseMove, 300);
  EXPECT_DOUBLE_EQ(slider->value(), 1.0);
  mouse(QEvent::MouseButtonRelease, 300);
  EXPECT_EQ(editing.count(), 2);
}

TEST_F(SliderWidget, DisablingMidDragStillEndsTheEdit) {
  SignalLog editing(slider, &NeonSlider::editingChanged);
  mouse(QEvent::MouseButtonPress, 100);
  slider->setEnabled(false);
  ASSERT_EQ(editing.count(), 2);
  EXPECT_FALSE(editing[1][0].toBool());
}

TEST_F(SliderWidget, OutOfRangeValueIsDrawnAtTheNearerEndAndKept) {
  slider->setValue(5);
  EXPECT_DOUBLE_EQ(slider->value(), 5.0);
  const QImage image = grabOnGround(host);
  // Knob (white, 12 wide) sits at the trailing end: its centre is at x = 194.
  const QPoint origin = slider->mapTo(host, QPoint(0, 0));
  EXPECT_GT(qGreen(image.pixel(origin + QPoint(194, 9))), 240);
  EXPECT_GT(qBlue(image.pixel(origin + QPoint(194, 9))), 240);
}

TEST_F(SliderWidget, FilledPartEndsAtTheKnobCentre) {
  slider->setValue(0);
  const QImage image = grabOnGround(host);
  const QPoint origin = slider->mapTo(host, QPoint(0, 0));
  // Value 0: the filled part is k/2 = 6 wide and the white knob covers 0...12; beyond the
  // knob only the faint rail remains.
  EXPECT_GT(qRed(image.pixel(origin + QPoint(6, 9))), 240);
  const QRgb rail = image.pixel(origin + QPoint(150, 9));
  EXPECT_LT(qRed(rail), 80);
  EXPECT_LT(qBlue(rail), 110);
  EXPECT_LT(qGreen(rail), 90);

  slider->setValue(0.5);
  const QImage half = grabOnGround(host);
  // Between the start and the knob the accent gradient shows: cyan at the leading end.
  const QRgb fill = half.pixel(origin + QPoint(3, 9));
  EXPECT_GT(qGreen(fill), 150);
  EXPECT_GT(qBlue(fill), 200);
  EXPECT_LT(qRed(fill), 140);
}

}  // namespace
}  // namespace vantry
