// The export sheet's texts from the controller's export fields, and which keys work in
// which content.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>

#include <cmath>
#include <limits>

#include "app/shot_states.h"
#include "export/export_sheet.h"
#include "localization/app_language.h"
#include "localization/qt/qt_text.h"
#include "studio/studio.h"

namespace vantry {

// The export outcome fields have no public setters; this executable reaches them directly.
class StudioTestAccess {
 public:
  static void endExport(Studio& s, bool cancelled, std::optional<std::string> failure) {
    s.exportCancelled_ = cancelled;
    s.exportFailure_ = std::move(failure);
    s.setExporting(false);
  }
};

namespace {

struct Chinese : ::testing::Test {
  AppLanguage previous = currentLanguage();
  Chinese() { setCurrentLanguage(AppLanguage::chinese); }
  ~Chinese() override { setCurrentLanguage(previous); }
};

using ExportTexts = Chinese;

TEST_F(ExportTexts, PhaseAndPercentageAtTheExportersStages) {
  EXPECT_EQ(exportPhaseText(0.9399, false), QStringLiteral("正在渲染与编码…"));
  EXPECT_EQ(exportPhaseText(0.94, false), QStringLiteral("正在完成编码…"));
  EXPECT_EQ(exportPhaseText(0.95, false), QStringLiteral("正在合成音频…"));
  EXPECT_EQ(exportPhaseText(0.99, false), QStringLiteral("正在保存视频…"));
  EXPECT_EQ(exportPhaseText(std::nan(""), false), QStringLiteral("正在渲染与编码…"));
  EXPECT_EQ(exportPhaseText(0.99, true), QStringLiteral("正在取消，请稍候…"));
  EXPECT_EQ(exportPercent(0), 0);
  EXPECT_EQ(exportPercent(0.427), 42);
  EXPECT_EQ(exportPercent(1), 99);
  EXPECT_EQ(exportPercent(std::nan("")), 0);
}

TEST_F(ExportTexts, RemainingTimeRulesAndDurations) {
  EXPECT_EQ(exportRemainingText(0.5, 2.9, false), QStringLiteral("计算中…"));
  EXPECT_EQ(exportRemainingText(0.01, 60, false), QStringLiteral("计算中…"));
  EXPECT_EQ(exportRemainingText(0.94, 60, false), QStringLiteral("正在收尾…"));
  EXPECT_EQ(exportRemainingText(std::nan(""), 60, false), QStringLiteral("正在收尾…"));
  EXPECT_EQ(exportRemainingText(0.5, 60, true), QStringLiteral("正在取消…"));
  EXPECT_EQ(exportRemainingText(0.25, 10, false), QStringLiteral("0:30"));

  EXPECT_EQ(exportTime(0), QStringLiteral("0:00"));
  EXPECT_EQ(exportTime(59.9), QStringLiteral("0:59"));
  EXPECT_EQ(exportTime(75), QStringLiteral("1:15"));
  EXPECT_EQ(exportTime(3725), QStringLiteral("1:02:05"));
  EXPECT_EQ(exportTime(-4), QStringLiteral("0:00"));
  EXPECT_EQ(exportTime(std::numeric_limits<double>::infinity()), QStringLiteral("0:00"));
  // Huge finite values are capped instead of overflowing the conversion.
  EXPECT_EQ(exportTime(1e300), exportTime(1e9));
  EXPECT_EQ(exportTime(1e9), QStringLiteral("277777:46:40"));
}

struct Sheet : Chinese {
  Studio studio{offscreenStudioServices()};
  ExportSheet sheet{studio};
  void key(int k) {
    QKeyEvent event(QEvent::KeyPress, k, Qt::NoModifier);
    QCoreApplication::sendEvent(&sheet, &event);
  }
};

TEST_F(Sheet, KeysByContentAndNoneWhileExporting) {
  studio.demo();
  studio.exportMovie();
  sheet.refreshNow();
  ASSERT_TRUE(studio.showingExport());
  EXPECT_EQ(sheet.content(), ExportSheet::Content::settings);

  studio.setExporting(true);
  sheet.refreshNow();
  EXPECT_EQ(sheet.content(), ExportSheet::Content::progress);
  key(Qt::Key_Escape);
  key(Qt::Key_Return);
  sheet.reject();
  EXPECT_TRUE(studio.showingExport());
  EXPECT_TRUE(studio.exporting());
  EXPECT_FALSE(sheet.control<QWidget>("close")->isEnabled());

  // A cancelled export is titled as cancelled even with a failure text; Return retries.
  StudioTestAccess::endExport(studio, true, std::string("磁盘已满"));
  sheet.refreshNow();
  EXPECT_EQ(sheet.content(), ExportSheet::Content::failure);
  EXPECT_EQ(sheet.title(), QStringLiteral("已取消导出"));
  key(Qt::Key_Return);
  sheet.refreshNow();
  EXPECT_EQ(sheet.content(), ExportSheet::Content::settings);
  EXPECT_EQ(sheet.title(), QStringLiteral("导出视频"));

  key(Qt::Key_Escape);
  EXPECT_FALSE(studio.showingExport());
}

}  // namespace
}  // namespace vantry
