#include <gtest/gtest.h>

#include <QAccessible>
#include <QAccessibleValueInterface>

#include "design/neon_slider.h"
#include "design/pill_segment.h"
#include "signal_log.h"

namespace vantry {
namespace {

TEST(SliderAccessibility, StandardSliderOverTheSameRangeAndStep) {
  NeonSlider slider(1, 0.5, 3, 1.0);
  QAccessibleInterface* access = QAccessible::queryAccessibleInterface(&slider);
  ASSERT_NE(access, nullptr);
  EXPECT_EQ(access->role(), QAccessible::Slider);
  QAccessibleValueInterface* value = access->valueInterface();
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(value->minimumValue().toDouble(), 0.5);
  EXPECT_EQ(value->maximumValue().toDouble(), 3.0);
  EXPECT_EQ(value->minimumStepSize().toDouble(), 1.0);

  SignalLog editing(&slider, &NeonSlider::editingChanged);
  SignalLog values(&slider, &NeonSlider::valueChanged);
  value->setCurrentValue(2.6);  // snapped like a drag
  EXPECT_EQ(slider.value(), 3.0);
  value->setCurrentValue(-4.0);  // 0 after snapping, then clamped up
  EXPECT_EQ(slider.value(), 0.5);
  value->setCurrentValue(std::nan(""));  // ignored
  EXPECT_EQ(slider.value(), 0.5);
  EXPECT_EQ(value->currentValue().toDouble(), 0.5);
  EXPECT_EQ(values.count(), 2);
  EXPECT_EQ(editing.count(), 0);  // the accessibility view calls no editing closure
}

TEST(PillAccessibility, SegmentsAreRadioButtonsWithTheSelectedOneChecked) {
  auto* pill = new PillSegment({{0, "MP4", {}}, {1, "MOV", {}}}, 1);
  pill->resize(200, 30);
  QAccessibleInterface* access = QAccessible::queryAccessibleInterface(pill);
  ASSERT_NE(access, nullptr);
  ASSERT_EQ(access->childCount(), 2);
  QAccessibleInterface* first = access->child(0);
  QAccessibleInterface* second = access->child(1);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(access->child(0), first);  // the same view each time
  EXPECT_EQ(access->indexOfChild(second), 1);
  EXPECT_EQ(first->role(), QAccessible::RadioButton);
  EXPECT_EQ(first->text(QAccessible::Name), "MP4");
  EXPECT_FALSE(first->state().checked);
  EXPECT_TRUE(second->state().checked);

  SignalLog chosen(pill, &PillSegment::selectionChanged);
  first->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
  ASSERT_EQ(chosen.count(), 1);
  EXPECT_EQ(chosen[0][0].toInt(), 0);
  EXPECT_TRUE(first->state().checked);
  delete pill;  // releases the segment views; nothing dangles
}

}  // namespace
}  // namespace vantry
