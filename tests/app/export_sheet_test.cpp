// The export sheet's texts from the controller's export fields, and which keys work in
// which content.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>
#include <QTimer>

#include <cmath>
#include <limits>

#include "app/shot_states.h"
#include "export_sheet/export_sheet.h"
#include "localization/app_language.h"
#include "localization/qt/language_settings.h"
#include "localization/qt/qt_text.h"
#include "studio/studio.h"
#include "studio/studio_services.h"
#include "window_fixture.h"

namespace vantry {

// The export outcome fields have no public setters; this executable reaches them directly.
class StudioTestAccess {
 public:
  static void endExport(Studio& s, bool cancelled, std::optional<std::string> failure) {
    s.exportCancelled_ = cancelled;
    s.exportFailure_ = std::move(failure);
    s.setExporting(false);
  }
  static void exported(Studio& s, std::string movie) {
    s.exportResultURL_ = std::move(movie);
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

TEST(ExportSheetTexts, SizesInSIUnitsAndTheHomeFolderAsTilde) {
  const AppLanguage previous = currentLanguage();
  setCurrentLanguage(AppLanguage::english);
  EXPECT_EQ(exportSizeText(1'500'000), QStringLiteral("1.5 MB"));
  setCurrentLanguage(previous);
  const QString home = QDir::homePath();
  EXPECT_EQ(homeAbbreviated(home + QStringLiteral("/Movies")), QStringLiteral("~/Movies"));
  EXPECT_EQ(homeAbbreviated(home), QStringLiteral("~"));
  // A neighbour whose name only starts like the home folder keeps its path.
  EXPECT_EQ(homeAbbreviated(home + QStringLiteral("x/a")), home + QStringLiteral("x/a"));
}

struct Sheet : Chinese {
  Studio studio{offscreenStudioServices()};
  ExportSheet sheet{studio};
  void key(int k) {
    QKeyEvent event(QEvent::KeyPress, k, Qt::NoModifier);
    QCoreApplication::sendEvent(&sheet, &event);
  }
};

TEST_F(Sheet, ASegmentClickWritesTheOptionAndTheHintAndEstimateFollowAtOnce) {
  studio.demo();
  studio.exportMovie();
  sheet.show();
  sheet.refreshNow();
  const QString hint = sheet.control<QLabel>("hint")->text();
  const QString estimate = sheet.control<QLabel>("estimate")->text();
  auto* encoding = sheet.control<QWidget>("encoding");
  ASSERT_GT(encoding->width(), 100);
  // The right half is HEVC.
  QTest::mouseClick(encoding, Qt::LeftButton, {}, QPoint(encoding->width() * 3 / 4, 14));
  EXPECT_EQ(studio.exportOptions().encoding, ExportOptions::Encoding::hevc);
  sheet.refreshNow();
  EXPECT_NE(sheet.control<QLabel>("hint")->text(), hint);
  EXPECT_NE(sheet.control<QLabel>("estimate")->text(), estimate);
  EXPECT_EQ(sheet.width(), 600);
}

// "Estimated Remaining Calculating…" read as one phrase: each value stands apart from its
// label, in the brighter colour of the text.
TEST_F(Sheet, TimingValuesReadApartFromTheirLabels) {
  studio.demo();
  studio.exportMovie();
  studio.setExporting(true);
  studio.setExportProgress(0.005);
  sheet.show();
  sheet.refreshNow();
  for (const auto& [label, value] :
       {std::pair{"elapsedTitle", "elapsed"}, std::pair{"remainingTitle", "remaining"}}) {
    auto* title = sheet.control<QLabel>(label);
    auto* shown = sheet.control<QLabel>(value);
    ASSERT_TRUE(title && shown) << label;
    EXPECT_GE(shown->geometry().left(), title->geometry().right() + 4) << label;
    EXPECT_GT(shown->palette().color(QPalette::WindowText).lightness(),
              title->palette().color(QPalette::WindowText).lightness() + 40)
        << label;
  }
  EXPECT_EQ(sheet.control<QLabel>("remainingTitle")->text(), QStringLiteral("预计剩余"));
  EXPECT_EQ(sheet.control<QLabel>("remaining")->text(), QStringLiteral("计算中…"));
}

TEST_F(Sheet, KeysByContentAndNoneWhileExporting) {
  studio.demo();
  studio.exportMovie();
  sheet.refreshNow();
  ASSERT_TRUE(studio.showingExport());
  EXPECT_EQ(sheet.content(), ExportSheet::Content::settings);

  EXPECT_FALSE(sheet.timingRuns());

  studio.setExporting(true);
  sheet.refreshNow();
  EXPECT_EQ(sheet.content(), ExportSheet::Content::progress);
  EXPECT_TRUE(sheet.timingRuns());
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
  EXPECT_FALSE(sheet.timingRuns());
  key(Qt::Key_Return);
  sheet.refreshNow();
  EXPECT_EQ(sheet.content(), ExportSheet::Content::settings);
  EXPECT_EQ(sheet.title(), QStringLiteral("导出视频"));

  key(Qt::Key_Escape);
  EXPECT_FALSE(studio.showingExport());
}

using testing::pressTab;

bool tabTo(const QString& name) {
  for (int presses = 0; presses < 12; ++presses)
    if (pressTab() == name) return true;
  return false;
}

// Tab reaches the five choices in order, and the arrows change the one it lights.
TEST_F(Sheet, TabReachesEveryChoiceAndTheArrowsChangeIt) {
  studio.demo();
  studio.exportMovie();
  sheet.show();
  sheet.refreshNow();
  QApplication::setActiveWindow(&sheet);
  ASSERT_EQ(QApplication::focusWidget(), &sheet) << "no control is lit before Tab";
  QStringList lit;
  for (int i = 0; i < 8; ++i)
    lit << pressTab();
  EXPECT_EQ(lit, QStringList({"close", "format", "encoding", "resolution", "frameRate", "quality",
                              "dismiss", "start"}));
  using O = ExportOptions;
  EXPECT_EQ(pressTab(Qt::ShiftModifier), "dismiss");
  EXPECT_EQ(pressTab(Qt::ShiftModifier), "quality");
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
  EXPECT_EQ(studio.exportOptions().quality, O::Quality::high);
  EXPECT_EQ(pressTab(Qt::ShiftModifier), "frameRate");
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Left);
  EXPECT_EQ(studio.exportOptions().framesPerSecond, O::FrameRate::fps30);
  EXPECT_EQ(pressTab(Qt::ShiftModifier), "resolution");
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);  // past the last: stays
  EXPECT_EQ(studio.exportOptions().resolution, O::Resolution::p2160);
  EXPECT_EQ(pressTab(Qt::ShiftModifier), "encoding");
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
  EXPECT_EQ(studio.exportOptions().encoding, O::Encoding::hevc);
  EXPECT_EQ(pressTab(Qt::ShiftModifier), "format");
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
  EXPECT_EQ(studio.exportOptions().format, O::Format::mov);
  sheet.refreshNow();
  EXPECT_EQ(sheet.control<QLabel>("hint")->text(),
            QStringLiteral("HEVC 通常能用更小的文件保持清晰度，但部分旧设备和网站可能不支持。"));
}

// Records what the sheet asks of the desktop.
class RecordingDesktop final : public StudioDesktop {
 public:
  std::vector<std::string> revealed, opened;
  bool opens = true;  // false: no file manager and no default application
  void openFolder(const std::string&, DesktopDone done) override { done(opens); }
  void revealFile(const std::string& path, DesktopDone done) override {
    revealed.push_back(path);
    done(opens);
  }
  void openFile(const std::string& path, DesktopDone done) override {
    opened.push_back(path);
    done(opens);
  }
  void openPermissionHelp() override {}
};

StudioServices recordingServices(std::shared_ptr<RecordingDesktop> desktop) {
  StudioServices services = offscreenStudioServices();
  services.desktop = std::move(desktop);
  return services;
}

// Return presses the button Tab lit, and elsewhere stays the default action: Cancel lit,
// it cancels (it began the export); on the finished page the lit reveal reveals (it closed
// the sheet), and a lit button that goes with its page lights nothing after it.
using SheetKeys = Chinese;

TEST_F(SheetKeys, ReturnPressesTheLitButton) {
  auto desktop = std::make_shared<RecordingDesktop>();
  Studio studio(recordingServices(desktop));
  ExportSheet sheet(studio);
  studio.demo();
  studio.exportMovie();
  sheet.show();
  sheet.refreshNow();
  QApplication::setActiveWindow(&sheet);
  ASSERT_TRUE(tabTo("dismiss"));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  EXPECT_FALSE(studio.showingExport()) << "Return on the lit Cancel did not cancel";

  studio.exportMovie();
  StudioTestAccess::exported(studio, "/tmp/exports/Vantry Demo.mp4");
  sheet.refreshNow();
  ASSERT_EQ(sheet.content(), ExportSheet::Content::success);
  ASSERT_TRUE(tabTo("reveal"));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  EXPECT_EQ(desktop->revealed, std::vector<std::string>{"/tmp/exports/Vantry Demo.mp4"});
  EXPECT_TRUE(studio.showingExport());

  EXPECT_EQ(pressTab(Qt::ShiftModifier), "again");
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  sheet.refreshNow();
  EXPECT_EQ(sheet.content(), ExportSheet::Content::settings);
  EXPECT_EQ(QApplication::focusWidget(), &sheet);
  // Nothing lit: Return is the default action again.
  QTest::keyClick(&sheet, Qt::Key_Return);
  EXPECT_TRUE(studio.showingExport());
  QTest::keyClick(&sheet, Qt::Key_Escape);
  EXPECT_FALSE(studio.showingExport());
}

using ExportResult = Chinese;

TEST_F(ExportResult, SuccessShowsAStillOfTheExportedMovieAndOpensOrRevealsIt) {
  auto desktop = std::make_shared<RecordingDesktop>();
  Studio studio(recordingServices(desktop));
  studio.demo();
  studio.setPlaying(false);
  Clip clip = studio.clip();
  clip.duration = 1;  // a short movie of the demonstration
  studio.setClip(clip);
  ExportOptions options = studio.exportOptions();
  options.resolution = ExportOptions::Resolution::p720;
  options.framesPerSecond = ExportOptions::FrameRate::fps30;
  studio.setExportOptions(options);
  QTemporaryDir folder;
  const std::string movie = QDir(folder.path()).filePath(QStringLiteral("still.mp4")).toStdString();
  studio.beginExportTo(movie);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !studio.exporting(); }, 120000));
  ASSERT_EQ(studio.exportResultURL(), std::optional<std::string>(movie))
      << studio.exportFailure().value_or("");

  ExportSheet sheet(studio);
  sheet.refreshNow();
  EXPECT_EQ(sheet.content(), ExportSheet::Content::success);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !sheet.thumbnail().isNull(); }, 30000));
  EXPECT_EQ(sheet.thumbnail().size(), QSize(576, 324));
  EXPECT_TRUE(sheet.control<QLabel>("details")->text().contains(QStringLiteral(" · ")));

  sheet.control<QAbstractButton>("reveal")->click();
  EXPECT_EQ(desktop->revealed, std::vector<std::string>{movie});
  auto* box = sheet.control<QWidget>("thumbnail");
  QTest::mouseDClick(box, Qt::LeftButton);
  EXPECT_EQ(desktop->opened, std::vector<std::string>{movie});
  EXPECT_FALSE(studio.error());

  // A desktop that opens nothing: the person learns where the movie is.
  desktop->opens = false;
  sheet.control<QAbstractButton>("reveal")->click();
  ASSERT_TRUE(studio.error());
  EXPECT_NE(studio.error()->find("无法在文件管理器中显示 " + movie), std::string::npos)
      << *studio.error();
  studio.setError(std::nullopt);
  QTest::mouseDClick(box, Qt::LeftButton);
  ASSERT_TRUE(studio.error());
  EXPECT_NE(studio.error()->find("无法播放 " + movie), std::string::npos) << *studio.error();

  // A still that arrives after the success content left is dropped.
  ExportSheet late(studio);
  late.refreshNow();
  studio.resetExportResult();
  late.refreshNow();
  QThreadPool::globalInstance()->waitForDone();
  QCoreApplication::processEvents();
  EXPECT_EQ(late.content(), ExportSheet::Content::settings);
  EXPECT_TRUE(late.thumbnail().isNull());
}

// Catches what the desktop would open.
class UrlCatcher : public QObject {
  Q_OBJECT

 public:
  QList<QUrl> urls;
 public slots:
  void open(const QUrl& url) { urls << url; }
};

TEST(DesktopReveal, WithoutASessionBusTheFolderOpens) {
  if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) GTEST_SKIP() << "a session bus";
  UrlCatcher catcher;
  QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
  defaultStudioServices().desktop->revealFile("/tmp/exports/movie.mp4", {});
  QCoreApplication::processEvents();
  QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
  EXPECT_EQ(catcher.urls, QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/tmp/exports"))});
}

// The sheet paints its own dark ground: the light text of every content stays readable
// (a ground left to the platform's light window colour hid the title and the file name).
TEST_F(Sheet, DarkGroundUnderTheLightTexts) {
  studio.demo();
  studio.exportMovie();
  sheet.refreshNow();
  sheet.resize(600, 400);
  const QImage shot = sheet.grab().toImage();
  const QColor corner = shot.pixelColor(4, shot.height() / 2);
  EXPECT_LT(corner.lightness(), 40) << corner.name().toStdString();
}

}  // namespace
}  // namespace vantry

#include "export_sheet_test.moc"

namespace vantry {
namespace {

// The save dialog of the export: accepted with "Start Export", offering only the type of
// the chosen format, and the name completed with its extension.
TEST(ExportDestination, AsksWithStartExportForTheChosenFormatOnly) {
  LanguageSettings::shared().setSelected(AppLanguage::english);
  const auto dialogs = defaultStudioServices().dialogs;
  struct Case {
    ExportOptions::Format format;
    QString filter, extension;
  };
  for (const Case& c : {Case{ExportOptions::Format::mp4, "MPEG-4 Movie (*.mp4)", "mp4"},
                        Case{ExportOptions::Format::mov, "QuickTime Movie (*.mov)", "mov"}}) {
    SCOPED_TRACE(c.extension.toStdString());
    ExportOptions options;
    options.format = c.format;
    QString accept;
    QStringList filters;
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      accept = dialog->labelText(QFileDialog::Accept);
      filters = dialog->nameFilters();
      dialog->selectFile("lesson");
      QMetaObject::invokeMethod(dialog, "accept");
    });
    const auto chosen =
        dialogs->chooseExportDestination("Vantry." + c.extension.toStdString(), options);
    EXPECT_EQ(accept, "Start Export");
    EXPECT_EQ(filters, QStringList{c.filter});
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(QFileInfo(QString::fromStdString(*chosen)).fileName(), "lesson." + c.extension);
  }
}

}  // namespace
}  // namespace vantry
