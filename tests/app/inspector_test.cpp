// The inspector column on a real controller: undo steps of slider drags, the marks and texts
// it computes from the settings, and the writes its switches and buttons make.

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include <QImage>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>

#include "design/buttons.h"
#include "design/motion.h"
#include "design/neon_slider.h"
#include "design/neon_switch.h"
#include "inspector/inspector_column.h"
#include "inspector/inspector_sections.h"
#include "localization/app_language.h"
#include "localization/qt/language_settings.h"
#include "localization/qt/qt_text.h"
#include "window_fixture.h"

namespace vantry {
namespace {

struct Inspector : ::testing::Test {
  testing::WindowFixture f{StudioWindowParts::standard()};
  InspectorColumn* column() { return f.window->findChild<InspectorColumn*>(); }
  template <typename T>
  T* control(const char* name) {
    column()->refreshNow();
    auto* found = column()->control<T>(name);
    EXPECT_NE(found, nullptr) << name;
    return found;
  }
  void selectFirstZoom() {
    f.project();
    f.s().selectZoom(f.s().clip().zoomEvents().front().id);
    f.settle();
  }
  // A drag as the slider reports it: the press, the values it passes, the release.
  static void drag(NeonSlider* slider, std::initializer_list<double> values) {
    emit slider->editingChanged(true);
    for (double v : values)
      emit slider->valueChanged(v);
    emit slider->editingChanged(false);
  }
};

TEST_F(Inspector, ZoomSliderDragTakesOneUndoStepAndAPressWithoutChangeNone) {
  selectFirstZoom();
  ASSERT_TRUE(control<QWidget>("selectedZoom")->isVisibleTo(column()));
  auto* slider = control<NeonSlider>("zoomAmount");
  const auto id = f.s().selectedZoom()->id;
  const double before = slider->value();

  drag(slider, {2.5, 2.55, 2.6});
  EXPECT_EQ(f.s().undoStack().size(), 1u);
  EXPECT_DOUBLE_EQ(*f.s().selectedZoom()->amount, 2.6);
  EXPECT_EQ(control<QLabel>("zoomBadge")->text(), QL("独立设置"));

  f.s().undoEdit();
  EXPECT_EQ(f.s().redoStack().size(), 1u);
  EXPECT_FALSE(f.s().selectedZoom() && f.s().selectedZoom()->amount);
  f.s().selectZoom(id);
  // A press that changes nothing keeps the history, the redo stack included.
  drag(slider, {before});
  EXPECT_EQ(f.s().undoStack().size(), 0u);
  EXPECT_EQ(f.s().redoStack().size(), 1u);
}

TEST_F(Inspector, SelectedZoomCardFollowsTheBlockAndHidesWhileLive) {
  selectFirstZoom();
  EXPECT_EQ(control<QLabel>("zoomBadge")->text(), QL("跟随默认"));
  EXPECT_FALSE(control<GlassButton>("zoomUseDefault")->isEnabled());
  control<GlassButton>("zoomUseDefault")->click();
  EXPECT_TRUE(f.s().undoStack().empty());
  f.s().setStandby(true);
  EXPECT_FALSE(control<QWidget>("selectedZoom")->isVisibleTo(column()));
}

TEST_F(Inspector, CameraSyncGoesThroughTheControllerWithOneStepPerDrag) {
  f.project();
  Clip clip = f.s().clip();
  clip.cameraPath = "camera.mov";
  f.s().setClip(clip);
  column()->setTab(InspectorTab::presenter);
  ASSERT_TRUE(control<QWidget>("cameraSync")->isVisibleTo(column()));
  auto* slider = control<NeonSlider>("syncSlider");

  drag(slider, {0});  // none counts as 0: nothing changes
  EXPECT_TRUE(f.s().undoStack().empty());
  drag(slider, {-0.1, -0.2, -0.25});
  EXPECT_EQ(f.s().undoStack().size(), 1u);
  EXPECT_DOUBLE_EQ(*f.s().clip().cameraSyncAdjustment, -0.25);

  f.s().setExporting(true);
  drag(slider, {0.5});
  control<GlassButton>("syncReset")->click();
  EXPECT_DOUBLE_EQ(*f.s().clip().cameraSyncAdjustment, -0.25);
  EXPECT_EQ(f.s().undoStack().size(), 1u);
  f.s().setExporting(false);
  control<GlassButton>("syncReset")->click();
  EXPECT_FALSE(f.s().clip().cameraSyncAdjustment);
  EXPECT_EQ(f.s().undoStack().size(), 2u);
  // Nothing left to reset: the press is still one undo step.
  control<GlassButton>("syncReset")->click();
  EXPECT_EQ(f.s().undoStack().size(), 3u);
  f.s().undoEdit();
  EXPECT_FALSE(f.s().clip().cameraSyncAdjustment);
}

TEST_F(Inspector, TheChosenCornerWearsThePresenterTrackWithAMintGlow) {
  f.project();
  column()->setTab(InspectorTab::presenter);
  control<QAbstractButton>("corner_topLeft")->click();
  f.settle();
  auto* corner = control<QAbstractButton>("corner_topLeft");
  QWidget* frame = corner->parentWidget();
  const QImage picture = f.window->grab().toImage();
  const QRect face = corner->geometry().translated(frame->mapTo(f.window.get(), QPoint(0, 0)));
  // Low on the face, away from the symbol: the track's darker green, not cyan.
  const QColor low = picture.pixelColor(face.left() + 6, face.bottom() - 4);
  EXPECT_GT(low.green(), low.blue() + 15) << low.name().toStdString();
  // Just outside the face: the mint glow over the dark frame.
  const QColor glow = picture.pixelColor(face.right() + 3, face.center().y());
  const QColor plain = picture.pixelColor(
      frame->mapTo(f.window.get(), QPoint(frame->width() / 2, 0)).x(), face.center().y());
  EXPECT_GT(glow.green(), plain.green() + 12)
      << glow.name().toStdString() << " beside " << plain.name().toStdString();
}

TEST_F(Inspector, APaddingPresetGlidesToItsValue) {
  f.project();
  column()->setTab(InspectorTab::canvas);
  EditSettings s = f.s().settings();
  s.padding = 0;
  f.s().setSettings(s);
  setAnimationsFrozen(false);
  // Slowed, so that a loaded machine's late frames still fall between the two ends.
  setAnimationsSlowedBy(10);
  std::vector<double> passed;
  QObject::connect(f.studio.get(), &Studio::changed,
                   [&] { passed.push_back(f.s().settings().padding); });
  control<GlassButton>("paddingPreset3")->click();
  EXPECT_LT(f.s().settings().padding, 0.05) << "the preset jumped";
  EXPECT_TRUE(QTest::qWaitFor([&] { return f.s().settings().padding == 0.05; }, 20000));
  setAnimationsSlowedBy(1);
  setAnimationsFrozen(true);
  EXPECT_TRUE(std::any_of(passed.begin(), passed.end(), [](double p) {
    return p > 0.005 && p < 0.045;
  })) << "no padding between the two";
}

TEST_F(Inspector, TextsAndMarksComputedFromTheSettings) {
  const AppLanguage previous = currentLanguage();
  setCurrentLanguage(AppLanguage::chinese);
  EXPECT_EQ(cameraSyncText(0.0), QStringLiteral("画面提前 0 ms"));
  EXPECT_EQ(cameraSyncText(std::nullopt), QStringLiteral("画面提前 0 ms"));
  EXPECT_EQ(cameraSyncText(-0.25), QStringLiteral("画面延后 250 ms"));
  EXPECT_EQ(cameraSyncText(0.004), QStringLiteral("画面提前 4 ms"));
  EXPECT_EQ(paddingText(0.0004), QStringLiteral("铺满"));
  EXPECT_EQ(paddingText(0.0005), QStringLiteral("0.1%"));
  setCurrentLanguage(previous);

  column()->setTab(InspectorTab::canvas);
  auto marked = [this](double padding) {
    EditSettings s = f.s().settings();
    s.padding = padding;
    f.s().setSettings(s);
    std::vector<int> on;
    for (int i = 0; i < 4; ++i) {
      const QByteArray name = "paddingPreset" + QByteArray::number(i);
      if (control<GlassButton>(name.constData())->buttonStyle().active) on.push_back(i);
    }
    return on;
  };
  EXPECT_EQ(marked(0.0152), std::vector<int>{1});
  EXPECT_EQ(marked(0.0156), std::vector<int>{});
  EXPECT_EQ(marked(0.0004), std::vector<int>{0});

  auto swatchesOn = [this](std::int64_t background) {
    EditSettings s = f.s().settings();
    s.background = background;
    f.s().setSettings(s);
    int on = 0;
    for (const char* name : {"swatch0", "swatch1", "swatch2"})
      on += control<QAbstractButton>(name)->isChecked();
    return on;
  };
  EXPECT_EQ(swatchesOn(2), 1);
  EXPECT_TRUE(control<QAbstractButton>("swatch2")->isChecked());
  EXPECT_EQ(swatchesOn(3), 0);
  EXPECT_EQ(swatchesOn(-1), 0);
  control<QAbstractButton>("swatch0")->click();
  EXPECT_EQ(f.s().settings().background, 0);
}

TEST_F(Inspector, MirroringBecomesExplicitAndACornerClearsTheCustomPosition) {
  f.project();
  column()->setTab(InspectorTab::presenter);
  EditSettings s = f.s().settings();
  s.mirrorCamera.reset();
  s.cameraPosition = Point{0.3, 0.4};
  f.s().setSettings(s);
  auto* mirror = control<NeonSwitch>("mirrorCamera");
  EXPECT_TRUE(mirror->isChecked());
  mirror->click();
  EXPECT_EQ(f.s().settings().mirrorCamera, std::optional<bool>(false));
  control<NeonSwitch>("mirrorCamera")->click();
  EXPECT_EQ(f.s().settings().mirrorCamera, std::optional<bool>(true));

  EXPECT_FALSE(control<QAbstractButton>("corner_topLeft")->isChecked());
  EXPECT_EQ(control<QLabel>("cornerText")->text(), QL("自定义位置 · 可在预览中拖动人物"));
  control<QAbstractButton>("corner_topLeft")->click();
  EXPECT_EQ(f.s().settings().corner, CameraCorner::topLeft);
  EXPECT_FALSE(f.s().settings().cameraPosition);
  EXPECT_TRUE(control<QAbstractButton>("corner_topLeft")->isChecked());
  EXPECT_FALSE(control<QAbstractButton>("corner_bottomRight")->isChecked());
}

TEST_F(Inspector, ANewLanguageRetitlesTheColumnAtOnceOnTheSameTabWithWorkingControls) {
  f.project();
  LanguageSettings::shared().setSelected(AppLanguage::chinese);
  column()->setTab(InspectorTab::cursor);
  EXPECT_EQ(control<NeonSwitch>("showCursor")->text(), QStringLiteral("显示指针"));
  LanguageSettings::shared().setSelected(AppLanguage::english);
  EXPECT_EQ(column()->tab(), InspectorTab::cursor);
  EXPECT_TRUE(column()->tabPage(InspectorTab::cursor)->isVisibleTo(column()));
  EXPECT_FALSE(column()->tabPage(InspectorTab::motion)->isVisibleTo(column()));
  NeonSwitch* cursor = control<NeonSwitch>("showCursor");
  EXPECT_EQ(cursor->text(), QStringLiteral("Show Cursor"));
  // The rebuilt switch follows and writes the settings like the first one.
  const bool before = f.s().settings().showCursor;
  EXPECT_EQ(cursor->isChecked(), before);
  cursor->click();
  EXPECT_EQ(f.s().settings().showCursor, !before);
  column()->refreshNow();
  EXPECT_EQ(cursor->isChecked(), !before);
}

TEST_F(Inspector, FooterShowsTheExportOnlyWhileItRuns) {
  f.project();
  EXPECT_FALSE(control<QWidget>("exportProgress")->isVisibleTo(column()));
  f.s().setExporting(true);
  f.s().setExportProgress(0.004);
  EXPECT_TRUE(control<QWidget>("exportProgress")->isVisibleTo(column()));
  EXPECT_EQ(control<QLabel>("exportPercent")->text(), QStringLiteral("0%"));
  f.s().setExportProgress(1);
  EXPECT_EQ(control<QLabel>("exportPercent")->text(), QStringLiteral("100%"));
  EXPECT_EQ(f.window->inspectorColumn()->width(), StudioWindow::kInspectorWidth);
}

// Tab goes from the tab strip straight to the settings (the scroll area is no stop of its
// own) and brings each one it lights into view; the keys work what it lit.
TEST_F(Inspector, TabReachesEverySettingInViewAndTheKeysWorkIt) {
  using testing::pressTab;
  selectFirstZoom();
  f.window->resize(1250, 560);  // the motion tab runs past the bottom
  f.settle();
  QApplication::setActiveWindow(f.window.get());
  auto* scroll = control<QScrollArea>("tabScroll");
  const auto reach = [&](const char* from) {
    control<QWidget>(from)->setFocus(Qt::TabFocusReason);
    QStringList lit;
    for (QString name; (name = pressTab()) != "revealRecordings" && lit.size() < 20;) {
      lit << name;
      QWidget* control = QApplication::focusWidget();
      if (scroll->isAncestorOf(control)) {
        EXPECT_EQ(control->visibleRegion().boundingRect(), control->rect()) << name.toStdString();
      }
    }
    return lit;
  };
  EXPECT_EQ(reach("tab0"), QStringList({"tab1", "tab2", "tab3", "zoomAmount", "zoomPresets",
                                        "zoomRemove", "zoomEnabled", "follow",
                                        "defaultAmountSlider", "smoothnessSlider", "holdSlider"}));

  auto* smoothness = control<NeonSlider>("smoothnessSlider");
  QTest::keyClick(smoothness, Qt::Key_End);
  EXPECT_EQ(f.s().settings().smoothness, 1.0);
  QTest::keyClick(smoothness, Qt::Key_Left);
  EXPECT_NEAR(f.s().settings().smoothness, 0.99, 1e-12);
  // The zoom's own level moves by its step, one undo step for a key pressed and let go.
  const double level = control<NeonSlider>("zoomAmount")->value();
  QTest::keyClick(control<NeonSlider>("zoomAmount"), Qt::Key_Right);
  EXPECT_NEAR(f.s().selectedZoom()->amount.value_or(0), level + 0.05, 1e-9);
  EXPECT_EQ(f.s().undoStack().size(), 1u);
  QTest::keyClick(control<QWidget>("zoomPresets"), Qt::Key_Right);  // from none, the first
  EXPECT_EQ(f.s().selectedZoom()->amount, std::optional<double>(1.5));

  column()->setTab(InspectorTab::presenter);
  EXPECT_EQ(reach("tab3"),
            QStringList({"showCamera", "mirrorCamera", "cameraSizeSlider", "corner_topLeft",
                         "corner_topRight", "corner_bottomLeft", "corner_bottomRight"}));
  column()->setTab(InspectorTab::canvas);
  EXPECT_EQ(reach("tab3"),
            QStringList({"swatch0", "swatch1", "swatch2", "paddingSlider", "paddingPreset0",
                         "paddingPreset1", "paddingPreset2", "paddingPreset3"}));
  QTest::keyClick(control<NeonSlider>("paddingSlider"), Qt::Key_Home);
  QTest::keyClick(control<NeonSlider>("paddingSlider"), Qt::Key_PageUp);
  EXPECT_NEAR(f.s().settings().padding, 0.008, 1e-12);  // a tenth of 0...0.08
}

TEST_F(Inspector, ATabFadesInAndTheHiddenBarsStillScrollWithTheWheel) {
  selectFirstZoom();
  setAnimationsFrozen(false);
  column()->setTab(InspectorTab::canvas);
  EXPECT_LT(column()->tabOpacity(), 0.5);
  EXPECT_TRUE(QTest::qWaitFor([this] { return column()->tabOpacity() == 1.0; }, 2000));
  setAnimationsFrozen(true);
  EXPECT_EQ(column()->tabPage(InspectorTab::canvas)->graphicsEffect(), nullptr);

  // The motion tab with a selected zoom is taller than a short window.
  column()->setTab(InspectorTab::motion);
  f.window->resize(1250, 560);
  f.settle();
  auto* scroll = control<QScrollArea>("tabScroll");
  QScrollBar* bar = scroll->verticalScrollBar();
  ASSERT_GT(bar->maximum(), 0);
  EXPECT_FALSE(bar->isVisible());
  const QPointF at(40, 40);
  QWheelEvent wheel(at, scroll->viewport()->mapToGlobal(at), QPoint(), QPoint(0, -120),
                    Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
  QCoreApplication::sendEvent(scroll->viewport(), &wheel);
  EXPECT_GT(bar->value(), 0);
}

}  // namespace
}  // namespace vantry
