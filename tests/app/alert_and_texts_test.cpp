// The one alert and the quit alerts, the Linux texts shown in place of rows that point to
// another desktop, the Settings window and the privacy notes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDateTime>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTextLayout>
#include <QTimer>
#include <QTranslator>
#include <QTreeView>

#include <cerrno>
#include <memory>

#include "app/desktop_help.h"
#include "app/error_alert.h"
#include "app/qt_translation.h"
#include "app/quit_flow.h"
#include "localization/localization.h"
#include "localization/platform_texts.h"
#include "localization/qt/language_settings.h"
#include "localization/qt/qt_text.h"
#include "localization/user_message.h"
#include "studio/studio_services.h"
#include "support/xcb_child.h"
#include "support/xvfb.h"
#include "window_fixture.h"

namespace vantry {
namespace {

using testing::WindowFixture;

TEST(QtTexts, QtsOwnDialogsSpeakChineseOnlyInTheChineseInterface) {
  const QLocale before;
  {
    QTranslator english;
    EXPECT_FALSE(installQtTranslation(AppLanguage::english, english));
    EXPECT_EQ(QLocale().language(), QLocale::English);
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Cancel");
  }
  QTranslator chinese;
  ASSERT_TRUE(installQtTranslation(AppLanguage::chinese, chinese))
      << "qtbase_zh_CN is missing: install qt6-translations-l10n";
  EXPECT_EQ(QLocale().language(), QLocale::Chinese);
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QString("取消"));
  QCoreApplication::removeTranslator(&chinese);
  QLocale::setDefault(before);
}

// Qt's own texts switch with the language at once, both ways, as the app's own texts do.
TEST(QtTexts, FollowEveryChangeOfTheLanguage) {
  const QLocale before;
  LanguageSettings::shared().setSelected(AppLanguage::english);
  {
    QtTranslation qtTexts;
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Cancel");
    LanguageSettings::shared().setSelected(AppLanguage::chinese);
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QString("取消"));
    EXPECT_EQ(QLocale().language(), QLocale::Chinese);
    LanguageSettings::shared().setSelected(AppLanguage::english);
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Cancel");
    EXPECT_EQ(QLocale().language(), QLocale::English);
  }
  QLocale::setDefault(before);
}

// The file dialog's list in each language: its sizes and dates in the interface language, as
// the dialog's own locale says (Qt's model wrote them in the system's: "0 bytes",
// "14 Mar 2025 09:30:00"), and a folder's type in Chinese.
TEST(QtTexts, TheFileDialogListsInTheInterfaceLanguage) {
  const QLocale before;
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  QDir(folder.path()).mkpath(QStringLiteral("Recording 1"));
  QFile empty(QDir(folder.path()).filePath(QStringLiteral("edit.json")));
  ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
  ASSERT_TRUE(empty.setFileTime(QDateTime(QDate(2025, 3, 14), QTime(9, 30)),
                                QFileDevice::FileModificationTime));
  empty.close();
  struct Expected {
    AppLanguage language;
    const char *size, *modified, *folderType;
  };
  for (const Expected& expected :
       {Expected{AppLanguage::english, "0 bytes", "3/14/25 9:30 AM", "Folder"},
        Expected{AppLanguage::chinese, "0 字节", "2025/3/14 09:30", "文件夹"}}) {
    SCOPED_TRACE(std::string(expected.language.rawValue()));
    LanguageSettings::shared().setSelected(expected.language);
    QTranslator qtTexts;
    installQtTranslation(expected.language, qtTexts);
    const std::unique_ptr<QFileDialog> dialog = projectFileDialog(nullptr);
    dialog->setAttribute(Qt::WA_DontShowOnScreen);
    dialog->setDirectory(folder.path());
    dialog->show();
    // What the list shows, once the folder is read.
    const auto* list = dialog->findChild<QTreeView*>(QStringLiteral("treeView"));
    ASSERT_NE(list, nullptr);
    const QAbstractItemModel* shown = list->model();
    const QModelIndex root = list->rootIndex();
    ASSERT_TRUE(QTest::qWaitFor([&] { return shown->rowCount(root) == 2; }, 5000));
    for (int row = 0; row < 2; ++row) {
      const QString name = shown->index(row, 0, root).data().toString();
      if (name == "edit.json") {
        EXPECT_EQ(shown->index(row, 1, root).data().toString(), QString(expected.size));
        EXPECT_EQ(shown->index(row, 3, root).data().toString(), QString(expected.modified));
      } else {
        EXPECT_EQ(shown->index(row, 2, root).data().toString(), QString(expected.folderType));
      }
    }
    dialog->close();
    QCoreApplication::removeTranslator(&qtTexts);
  }
  LanguageSettings::shared().setSelected(AppLanguage::english);
  QLocale::setDefault(before);
}

TEST(Alert, ShowsTheErrorAndClosingClearsIt) {
  LanguageSettings::shared().setSelected(AppLanguage::english);
  WindowFixture f;
  f.s().setError(L("编辑未能保存：") + "disk full");
  f.settle();
  QMessageBox* box = f.window->alert()->box();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->text(), "Something Needs Attention");
  EXPECT_EQ(box->informativeText(), "Could not save edits: disk full");
  EXPECT_EQ(box->buttons().size(), 1);
  EXPECT_EQ(f.window->alert()->helpButton(), nullptr);
  // The language switches under an open alert.
  LanguageSettings::shared().setSelected(AppLanguage::chinese);
  f.settle();
  EXPECT_EQ(box->text(), QString("需要处理一下"));
  LanguageSettings::shared().setSelected(AppLanguage::english);
  f.settle();
  box->buttons().front()->click();
  f.settle();
  EXPECT_FALSE(f.s().error().has_value());
  EXPECT_EQ(f.window->alert()->box(), nullptr);
}

TEST(Alert, ScreenAccessErrorOffersTheLinuxHelp) {
  LanguageSettings::shared().setSelected(AppLanguage::english);
  WindowFixture f;
  f.s().setScreenPermissionNeeded(true);
  f.s().setError(
      L("macOS 尚未允许 Vantry 录制屏幕。\n\n1. 打开系统设置 → 隐私与安全性 → "
        "屏幕与系统音频录制。\n2. 打开 Vantry 旁边的开关（不是 Corvane）。\n3. "
        "退出并重新打开 Vantry，再点击开始录屏。\n\n如果列表中没有本应用，可用 + "
        "添加“用户文件夹 → Applications → Vantry.app”。"));
  f.settle();
  QMessageBox* box = f.window->alert()->box();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->text(), "Screen Recording Permission Required");
  EXPECT_FALSE(box->informativeText().contains("macOS"));
  EXPECT_FALSE(box->informativeText().contains("System Settings"));
  EXPECT_TRUE(box->informativeText().contains("X11"));
  ASSERT_NE(f.window->alert()->helpButton(), nullptr);
  EXPECT_EQ(f.window->alert()->helpButton()->text(), "Open Access Help");
  EXPECT_EQ(box->buttons().size(), 2);
}

TEST(Alert, SitsOverTheTopMostModalWindow) {
  WindowFixture f;
  QDialog sheet(f.window.get());
  sheet.setAttribute(Qt::WA_DontShowOnScreen);
  sheet.setWindowModality(Qt::WindowModal);
  sheet.show();
  QApplication::setActiveWindow(&sheet);
  QApplication::processEvents();
  ASSERT_EQ(QApplication::activeModalWidget(), &sheet);
  f.s().setError(std::string("录屏文件无法写入。"));
  f.settle();
  ASSERT_NE(f.window->alert()->box(), nullptr);
  EXPECT_EQ(f.window->alert()->box()->parentWidget(), &sheet);
  f.s().setError(std::nullopt);  // cleared elsewhere: the alert goes, nothing else changes
  f.settle();
  EXPECT_EQ(f.window->alert()->box(), nullptr);
}

// The lines `label` breaks its text into at its width, as a label wraps plain text.
QStringList shownLines(const QLabel& label) {
  QString text = label.text();
  text.replace(u'\n', QChar::LineSeparator);
  QTextLayout layout(text, label.font());
  QTextOption option;
  option.setWrapMode(QTextOption::WordWrap);
  layout.setTextOption(option);
  QStringList lines;
  layout.beginLayout();
  for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
    line.setLineWidth(label.contentsRect().width());
    lines << text.mid(line.textStart(), line.textLength());
  }
  layout.endLayout();
  return lines;
}

// What a window manager's title bar needs for the alert's title: the title in bold, its
// buttons and its icon.
int titleBarWidth(const QMessageBox& box) {
  QFont bold = box.font();
  bold.setBold(true);
  return QFontMetrics(bold).horizontalAdvance(box.windowTitle()) + 150;
}

// `box`, on a 1920 x 1080 screen, is 440 points wide or more, at most half the screen, holds
// its title whole and shows the line with `path` whole.
void expectFits(QMessageBox& box, const QString& path) {
  SCOPED_TRACE(box.windowTitle().toStdString());
  ASSERT_EQ(box.screen()->availableGeometry().width(), 1920);
  EXPECT_GE(box.width(), 440);
  EXPECT_LE(box.width(), 960);
  EXPECT_GE(box.width(), titleBarWidth(box));
  auto* text = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"));
  ASSERT_NE(text, nullptr);
  // The line of the text holding the path is shown whole: short enough for half the screen.
  QString holding;
  for (const QString& line : text->text().split(u'\n'))
    if (line.contains(path)) holding = line;
  const QStringList lines = shownLines(*text);
  EXPECT_TRUE(lines.contains(holding)) << lines.join(QStringLiteral(" / ")).toStdString();
}

// Alerts on a real X server's 1920 x 1080 screen were 198 to 285 points wide: paths broke at
// every slash ("~/" / "damaged/") and window managers cut their titles.
TEST(AlertWidth, OnAFullHdScreen) {
  test::XvfbProcess server(1920, 1080);
  if (server.display().empty()) GTEST_SKIP() << "Xvfb did not start";
  test::expectChildPasses(server.display(), "AlertOnX.*");
}

TEST(AlertOnX, WideEnoughForAPathAndTheTitle) {
  if (QGuiApplication::platformName() != QStringLiteral("xcb"))
    GTEST_SKIP() << "runs in a child on the xcb platform";
  const QString path = QStringLiteral("~/Videos/Lessons/damaged/edit.json");
  for (AppLanguage language : AppLanguage::allCases) {
    LanguageSettings::shared().setSelected(language);
    WindowFixture f;
    f.s().setError(withReason(L("无法打开项目 {0}。", path.toStdString()), systemReason(ENOENT)));
    f.settle();
    ASSERT_NE(f.window->alert()->box(), nullptr);
    expectFits(*f.window->alert()->box(), path);
    // The longest title, and the box built again for its two buttons.
    f.s().setScreenPermissionNeeded(true);
    f.settle();
    ASSERT_NE(f.window->alert()->helpButton(), nullptr);
    expectFits(*f.window->alert()->box(), path);
    f.s().setError(std::nullopt);
    f.settle();

    const QString folder =
        QStringLiteral("~/.local/share/Pexilar/Recordings/3F2A1C4E-5B6D-4E7F-8A9B-0C1D2E3F4A5B");
    auto prompts = messageBoxPrompts({});
    QTimer::singleShot(0, [&folder] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      expectFits(*box, folder);
      QTest::keyClick(box, Qt::Key_Escape);
    });
    EXPECT_EQ(prompts->askKeep(folder, true), QuitPrompts::Keep::cancel);
  }
  LanguageSettings::shared().setSelected(AppLanguage::english);
}

TEST(PlatformTexts, ReplacedRowsShowLinuxTextsInBothLanguages) {
  const auto& catalog = Localizer::catalog();
  for (const PlatformReplacement& row : platformReplacements()) {
    ASSERT_TRUE(catalog.contains(row.original)) << row.original;
    ASSERT_TRUE(catalog.contains(row.replacement)) << row.replacement;
    for (AppLanguage language : AppLanguage::allCases) {
      const std::string shown = Localizer::message(platformMessage(row.original), language);
      for (const char* place : {"System Settings", "系统设置", "macOS", "Finder", "访达",
                                "Applications", "Privacy & Security"}) {
        EXPECT_EQ(shown.find(place), std::string::npos) << shown;
      }
    }
  }
  // A composed message keeps its other fragments; the English form is replaced as well.
  const std::string composed = L("屏幕预览失败：") + L("打开系统设置");
  LanguageSettings::shared().setSelected(AppLanguage::english);
  EXPECT_EQ(shownMessage(composed), "Screen preview failed: Open Access Help");
  EXPECT_EQ(shownMessage("Show in Finder"), "Show in File Manager");
  LanguageSettings::shared().setSelected(AppLanguage::chinese);
  EXPECT_EQ(shownMessage(composed), "屏幕预览失败：打开权限帮助");
  LanguageSettings::shared().setSelected(AppLanguage::english);
}

// Closes the access help and lets it go, so that the next test opens a new one.
void closeHelp(QWidget* help) {
  help->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Vantry refuses Xwayland, so no text sends a Wayland session there: each says to log in to
// an X11 session, as the message of a missing display does.
TEST(PlatformTexts, AWaylandSessionIsToldToLogInToX11) {
  for (AppLanguage language : AppLanguage::allCases) {
    LanguageSettings::shared().setSelected(language);
    const bool english = language == AppLanguage::english;
    QStringList texts;
    for (const PlatformReplacement& row : platformReplacements())
      texts << QString::fromStdString(shownMessage(row.original));
    QWidget* help = showAccessHelp();
    for (const QLabel* label : help->findChildren<QLabel*>())
      texts << label->text();
    closeHelp(help);
    int wayland = 0;
    for (const QString& text : texts) {
      if (!text.contains("Wayland")) continue;
      ++wayland;
      EXPECT_TRUE(text.contains(english ? "log in to an X11 session" : "登录 X11 会话",
                                Qt::CaseInsensitive))
          << text.toStdString();
      EXPECT_FALSE(text.contains(english ? "needs Xwayland" : "需要 Xwayland"))
          << text.toStdString();
    }
    EXPECT_EQ(wayland, 3);  // the two rows of display access and the help's display paragraph
  }
  LanguageSettings::shared().setSelected(AppLanguage::english);
}

// The help's command keeps a line of its own: wrapped with its sentence, it broke at its
// hyphen ("sudo usermod -" / "aG video").
TEST(AccessHelp, TheVideoGroupCommandStaysWhole) {
  QWidget* help = showAccessHelp();
  QApplication::processEvents();
  auto* command = help->findChild<QLabel*>(QStringLiteral("videoGroupCommand"));
  ASSERT_NE(command, nullptr);
  EXPECT_EQ(command->text(), "sudo usermod -aG video $USER");
  EXPECT_FALSE(command->wordWrap());
  EXPECT_GE(command->width(), command->sizeHint().width());
  EXPECT_GE(help->width(), 440);
  for (const QLabel* label : help->findChildren<QLabel*>())
    if (label != command) {
      EXPECT_FALSE(label->text().contains("usermod")) << label->text().toStdString();
    }
  closeHelp(help);
}

TEST(Settings, OneWindowRaisedWhenOpenAgain) {
  SettingsWindow settings;
  settings.open();
  QWidget* first = settings.window();
  ASSERT_NE(first, nullptr);
  first->setAttribute(Qt::WA_DontShowOnScreen);
  EXPECT_TRUE(first->isWindow());
  settings.open();
  EXPECT_EQ(settings.window(), first);
  first->close();
  QApplication::processEvents();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(settings.window(), nullptr);
}

TEST(PrivacyNotes, FoundInTheBuildTreeForBothLanguages) {
  const QString chinese = privacyNotesPath(AppLanguage::chinese);
  const QString english = privacyNotesPath(AppLanguage::english);
  ASSERT_FALSE(chinese.isEmpty());
  ASSERT_FALSE(english.isEmpty());
  EXPECT_TRUE(chinese.endsWith("/vantry/Privacy.txt"));
  EXPECT_TRUE(english.endsWith("/vantry/Privacy-en.txt"));
  EXPECT_GT(QFileInfo(english).size(), 100);
}

}  // namespace
}  // namespace vantry
