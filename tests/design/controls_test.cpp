#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEnterEvent>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMouseEvent>

#include <cmath>
#include <memory>

#include "design/buttons.h"
#include "design/labels.h"
#include "design/neon_slider.h"
#include "design/neon_switch.h"
#include "design/painting.h"
#include "design/pill_segment.h"
#include "signal_log.h"

namespace vantry {
namespace {

void click(QWidget* w, QPointF at) {
  const auto send = [&](QEvent::Type type, Qt::MouseButtons buttons) {
    QMouseEvent e(type, at, w->mapToGlobal(at), Qt::LeftButton, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &e);
  };
  send(QEvent::MouseButtonPress, Qt::LeftButton);
  send(QEvent::MouseButtonRelease, Qt::NoButton);
}

void enter(QWidget* w) {
  QEnterEvent e(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
  QCoreApplication::sendEvent(w, &e);
}

void leave(QWidget* w) {
  QEvent e(QEvent::Leave);
  QCoreApplication::sendEvent(w, &e);
}

std::vector<PillSegment::Item> threeItems() {
  return {{QString("screen"), "Screen", "display"},
          {QString("both"), "Screen + Camera", {}},
          {QString("camera"), "Camera", "person.fill"}};
}

TEST(PillSegmentSelection, ClickChoosesTheSegmentUnderThePointer) {
  PillSegment pill(threeItems(), QString("screen"));
  pill.resize(452, 30);
  // Three equal segments between 2-point insets with 2-point gaps: 148 wide each.
  EXPECT_EQ(pill.segmentRect(0), QRectF(2, 2, 148, 26));
  EXPECT_EQ(pill.segmentRect(2), QRectF(302, 2, 148, 26));
  EXPECT_EQ(pill.segmentAt({151, 15}), -1);  // the gap

  SignalLog chosen(&pill, &PillSegment::selectionChanged);
  click(&pill, {400, 15});
  ASSERT_EQ(chosen.count(), 1);
  EXPECT_EQ(chosen[0][0].toString(), "camera");
  EXPECT_EQ(pill.selectedIndex(), 2);
  EXPECT_EQ(pill.pillRect(), pill.segmentRect(2));

  // Choosing the selected segment again sets the same value again.
  click(&pill, {400, 15});
  EXPECT_EQ(chosen.count(), 2);
  EXPECT_EQ(chosen[1][0].toString(), "camera");
}

TEST(PillSegmentSelection, PressAndReleaseMustHitTheSameSegment) {
  PillSegment pill(threeItems(), QString("screen"));
  pill.resize(302, 30);
  SignalLog chosen(&pill, &PillSegment::selectionChanged);
  QMouseEvent down(QEvent::MouseButtonPress, QPointF(20, 15), QPointF(20, 15), Qt::LeftButton,
                   Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&pill, &down);
  QMouseEvent up(QEvent::MouseButtonRelease, QPointF(250, 15), QPointF(250, 15), Qt::LeftButton,
                 Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&pill, &up);
  EXPECT_EQ(chosen.count(), 0);
  EXPECT_EQ(pill.selectedIndex(), 0);
}

TEST(PillSegmentSelection, BoundValueDrivesTheHighlight) {
  PillSegment pill(threeItems(), QString("nothing"));
  pill.resize(302, 30);
  EXPECT_EQ(pill.selectedIndex(), -1);
  EXPECT_TRUE(pill.pillRect().isEmpty());
  SignalLog chosen(&pill, &PillSegment::selectionChanged);
  pill.setSelection(QString("both"));
  EXPECT_EQ(pill.selectedIndex(), 1);
  EXPECT_EQ(pill.pillRect(), pill.segmentRect(1));
  EXPECT_EQ(chosen.count(), 0);  // setting the binding is not a user choice
  pill.resize(152, 30);
  EXPECT_EQ(pill.pillRect(), pill.segmentRect(1));
}

// Tab reaches it; the arrows choose the segment before or after, stopping at the ends, and
// from no selection start at an end.
TEST(PillSegmentSelection, ArrowKeysChooseTheNeighbour) {
  PillSegment pill(threeItems(), QString("screen"));
  pill.resize(302, 30);
  EXPECT_EQ(pill.focusPolicy(), Qt::TabFocus);
  SignalLog chosen(&pill, &PillSegment::selectionChanged);
  const auto press = [&pill](int key) {
    QKeyEvent e(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(&pill, &e);
    return e.isAccepted();
  };
  press(Qt::Key_Right);
  EXPECT_EQ(pill.selection().toString(), "both");
  press(Qt::Key_Down);
  EXPECT_EQ(pill.selection().toString(), "camera");
  EXPECT_TRUE(press(Qt::Key_Right));  // the last: stays, and the key goes no further
  EXPECT_EQ(pill.selection().toString(), "camera");
  press(Qt::Key_Up);
  EXPECT_EQ(pill.selection().toString(), "both");
  ASSERT_EQ(chosen.count(), 3);
  EXPECT_EQ(chosen[2][0].toString(), "both");
  pill.setSelection(QString("nothing"));
  press(Qt::Key_Left);
  EXPECT_EQ(pill.selection().toString(), "camera");
  EXPECT_FALSE(press(Qt::Key_Return));  // left to the window
}

TEST(PillSegmentLayout, LongTitlesBorrowRoomBeforeBeingCut) {
  PillSegment pill({{0, "A", {}}, {1, "A much longer segment title", {}}, {2, "A", {}}}, 0);
  const int need = pill.sizeHint().width();  // room for every title at the widest share
  pill.resize(need, 30);
  EXPECT_EQ(pill.segmentRect(0).width(), pill.segmentRect(1).width());
  // Narrower than equal shares allow, but wide enough for all titles side by side.
  pill.resize(need * 2 / 3, 30);
  const QRectF a = pill.segmentRect(0), b = pill.segmentRect(1), c = pill.segmentRect(2);
  EXPECT_GT(b.width(), a.width());
  EXPECT_DOUBLE_EQ(a.width(), c.width());
  EXPECT_DOUBLE_EQ(b.left(), a.right() + 2);
  EXPECT_DOUBLE_EQ(c.right(), pill.width() - 2);
  // Too narrow for that: equal shares again, the titles are cut.
  pill.resize(90, 30);
  EXPECT_DOUBLE_EQ(pill.segmentRect(0).width(), pill.segmentRect(1).width());
}

TEST(NeonSwitchToggle, AnyPointOfTheRowTogglesIt) {
  NeonSwitch toggle("Camera / Audio Sync", false);
  toggle.resize(240, 20);
  EXPECT_EQ(toggle.trackRect(), QRectF(206, 0, 34, 20));
  SignalLog toggled(&toggle, &QAbstractButton::toggled);
  click(&toggle, {5, 10});  // on the label
  EXPECT_TRUE(toggle.isChecked());
  click(&toggle, {150, 10});  // the space between label and switch
  EXPECT_FALSE(toggle.isChecked());
  click(&toggle, {230, 10});  // the switch itself
  EXPECT_TRUE(toggle.isChecked());
  EXPECT_EQ(toggled.count(), 3);
  // Frozen animations put the knob at the trailing end: 2 points in from the track's edge.
  EXPECT_EQ(toggle.knobRect(), QRectF(222, 2, 16, 16));
  toggle.setChecked(false);
  EXPECT_EQ(toggle.knobRect(), QRectF(208, 2, 16, 16));
}

TEST(HandCursor, FollowsTheEnabledState) {
  QWidget window;
  auto* button = new GlassButton("Split", {}, {}, &window);
  auto* pill = new PillSegment(threeItems(), QString("screen"), Theme::cyan, &window);
  auto* toggle = new NeonSwitch("Sync", false, &window);
  auto* slider = new NeonSlider(0.5, 0, 1, std::nullopt, Theme::accent, &window);
  auto* primary = new PrimaryButton("Go", {}, {}, &window);
  auto* record = new RecordButton("Rec", {}, &window);
  for (QWidget* w :
       std::initializer_list<QWidget*>{button, pill, toggle, slider, primary, record}) {
    EXPECT_TRUE(w->testAttribute(Qt::WA_SetCursor));
    EXPECT_EQ(w->cursor().shape(), Qt::PointingHandCursor);
    w->setEnabled(false);
    EXPECT_FALSE(w->testAttribute(Qt::WA_SetCursor));
    EXPECT_NE(w->cursor().shape(), Qt::PointingHandCursor);
    w->setEnabled(true);
    EXPECT_EQ(w->cursor().shape(), Qt::PointingHandCursor);
  }
  // Disabled through a parent counts too, and nested controls each keep their own cursor.
  window.setEnabled(false);
  EXPECT_FALSE(button->testAttribute(Qt::WA_SetCursor));
  EXPECT_FALSE(slider->testAttribute(Qt::WA_SetCursor));
  window.setEnabled(true);
  EXPECT_EQ(button->cursor().shape(), Qt::PointingHandCursor);
  // Applying it twice adds nothing.
  handCursor(button);
  EXPECT_EQ(button->findChildren<QObject*>(QStringLiteral("vantryHandCursor")).size(), 1);
}

TEST(GlassButtonLook, FollowsTheStateTable) {
  GlassButton button("Split");
  EXPECT_EQ(button.labelColor(), faded(Theme::text, 0.86));
  EXPECT_EQ(button.fillColor().alpha(), 0);
  EXPECT_EQ(button.scale(), 1.0);

  enter(&button);
  EXPECT_EQ(button.labelColor(), Theme::text);
  EXPECT_NEAR(button.fillColor().alphaF(), 0.08, 1e-3);
  button.setDown(true);
  (void)button.grab();
  EXPECT_NEAR(button.fillColor().alphaF(), 0.14, 1e-3);
  EXPECT_DOUBLE_EQ(button.scale(), 0.96);
  button.setDown(false);
  (void)button.grab();

  // Disabled: tertiary label and no hover fill, but the press look ignores the flag.
  button.setEnabled(false);
  EXPECT_EQ(button.labelColor(), Theme::tertiary);
  EXPECT_EQ(button.fillColor().alpha(), 0);
  button.setDown(true);
  (void)button.grab();
  EXPECT_NEAR(button.fillColor().alphaF(), 0.14, 1e-3);
  button.setDown(false);
  button.setEnabled(true);
  leave(&button);

  // Active keeps its tint whatever the hover; only the press scale changes.
  button.setButtonStyle({true, Theme::violet, false});
  for (bool hover : {false, true}) {
    if (hover) enter(&button);
    EXPECT_EQ(button.labelColor(), Theme::violet);
    EXPECT_EQ(button.fillColor(), faded(Theme::violet, 0.16));
    EXPECT_EQ(button.borderColor(), faded(Theme::violet, 0.55));
  }
}

TEST(GlassButtonLook, SizesFromInsetsAndMinimums) {
  // Compact: 7-point insets but never narrower than 28; regular: 11-point insets.
  GlassButton compact(QString(), QString(), {false, Theme::cyan, true});
  EXPECT_EQ(compact.sizeHint(), QSize(28, 28));
  GlassButton regular(QString(), "plus");
  GlassButton compactIcon(QString(), "plus", {false, Theme::cyan, true});
  EXPECT_EQ(regular.sizeHint().width() - compactIcon.sizeHint().width(), 8);
  GlassButton wide("Split");
  EXPECT_EQ(wide.sizeHint().height(), 28);
  GlassButton widePlusIcon("Split", "scissors");
  EXPECT_GT(widePlusIcon.sizeHint().width(), wide.sizeHint().width() + 6);
}

TEST(IconButtonSize, FramesTheSymbolAtSizeMinusEight) {
  IconButton small("play.fill", "Play");
  EXPECT_EQ(small.frameSide(), 22);
  EXPECT_EQ(small.sizeHint(), QSize(36, 28));
  EXPECT_EQ(small.toolTip(), "Play");
  EXPECT_EQ(small.accessibleName(), "Play");
  IconButton large("play.fill", "Play", 40);
  EXPECT_EQ(large.frameSide(), 32);
  EXPECT_EQ(large.sizeHint(), QSize(46, 32));
}

TEST(PrimaryButtonLook, DisabledLosesItsGlow) {
  PrimaryButton button("Export");
  EXPECT_EQ(button.sizeHint().height(), 32);
  EXPECT_NEAR(button.glowShadow().color.alphaF(), 0.35, 1e-3);
  EXPECT_EQ(button.glowShadow().radius, 10);
  enter(&button);
  EXPECT_NEAR(button.glowShadow().color.alphaF(), 0.55, 1e-3);
  EXPECT_EQ(button.glowShadow().radius, 14);
  button.setEnabled(false);
  EXPECT_EQ(button.glowShadow().color.alpha(), 0);
}

TEST(CapsuleButtons, CornersOutsideTheCapsuleDoNotClick) {
  PrimaryButton primary("Go");
  RecordButton record("Rec");
  for (QAbstractButton* button : std::initializer_list<QAbstractButton*>{&primary, &record}) {
    button->resize(100, 32);
    SignalLog clicks(button, &QAbstractButton::clicked);
    click(button, {1, 1});
    click(button, {98, 30});
    EXPECT_EQ(clicks.count(), 0);
    click(button, {50, 16});
    click(button, {4, 16});  // the rounded end, inside
    EXPECT_EQ(clicks.count(), 2);
  }
  // The glass button's whole rectangle counts, corners included.
  GlassButton glassButton("Split");
  glassButton.resize(100, 28);
  SignalLog clicks(&glassButton, &QAbstractButton::clicked);
  click(&glassButton, {0, 0});
  EXPECT_EQ(clicks.count(), 1);
}

TEST(RecordButtonHover, FollowsThePointerEvenWhenDisabled) {
  RecordButton button("Record");
  button.setEnabled(false);
  enter(&button);
  EXPECT_TRUE(button.hovering());
  leave(&button);
  EXPECT_FALSE(button.hovering());
}

TEST(RecordButtonPulse, StartsWhenShownInBothLooks) {
  for (bool recording : {false, true}) {
    RecordButton button("Record", {recording});
    button.setAttribute(Qt::WA_DontShowOnScreen);
    EXPECT_FALSE(button.pulsing());
    button.show();
    EXPECT_TRUE(button.pulsing());
    EXPECT_EQ(button.sizeHint().height(), 32);
  }
}

TEST(TightLabelLayout, IconAndTitleSixPointsApart) {
  const QFont font = uiFont(12, QFont::Medium);
  const double symbol = symbolSizeFor(font);
  const double text = QFontMetricsF(font).horizontalAdvance("Play");
  TightLabel both("play.fill", "Play", font, Theme::text);
  EXPECT_EQ(both.sizeHint().width(), int(std::ceil(symbol + 6 + text)));
  TightLabel titleOnly(QString(), "Play", font, Theme::text);
  EXPECT_EQ(titleOnly.sizeHint().width(), int(std::ceil(text)));
  TightLabel iconOnly("play.fill", QString(), font, Theme::text);
  EXPECT_EQ(iconOnly.sizeHint(), QSize(int(symbol), int(symbol)));
}

TEST(SectionTitleCaption, UpperCasesLatinAndKeepsChinese) {
  SectionTitle english("person.fill", "Presenter");
  EXPECT_EQ(english.caption(), "PRESENTER");
  SectionTitle chinese("person.fill", QString::fromUtf8("人物"));
  EXPECT_EQ(chinese.caption(), QString::fromUtf8("人物"));
}

TEST(StatusDotBreath, RestsBrightWhenFrozen) {
  StatusDot dot(Theme::mint);
  EXPECT_EQ(dot.size(), QSize(7, 7));
  dot.setAttribute(Qt::WA_DontShowOnScreen);
  EXPECT_EQ(dot.brightness(), 0.0);
  dot.show();
  EXPECT_EQ(dot.brightness(), 1.0);
}

}  // namespace
}  // namespace vantry
