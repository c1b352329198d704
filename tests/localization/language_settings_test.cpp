#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>

#include "language_scope.h"
#include "localization/localization.h"
#include "localization/qt/language_settings.h"
#include "localization/qt/qt_text.h"

namespace vantry {
namespace {

QSettings applicationSettings() {
  return QSettings(QStringLiteral("Vantry"), QStringLiteral("Vantry"));
}

// The shared settings are created from the stored value on first use: in a program of its
// own, as another test may have used them first in this one.
TEST(LanguageSettings, StartsFromTheStoredLanguage) {
  if (!qEnvironmentVariableIsSet("VANTRY_FIRST_USE")) {
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VANTRY_FIRST_USE"), QStringLiteral("1"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=LanguageSettings.StartsFromTheStoredLanguage")});
    ASSERT_TRUE(child.waitForFinished(60000));
    const std::string output = QString::fromLocal8Bit(child.readAll()).toStdString();
    EXPECT_EQ(child.exitCode(), 0) << output;
    EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
    return;
  }
  {
    QSettings stored = applicationSettings();
    stored.setValue(QStringLiteral("interfaceLanguage"), QStringLiteral("chinese"));
  }
  setCurrentLanguage(AppLanguage::english);
  LanguageSettings& settings = LanguageSettings::shared();
  EXPECT_EQ(settings.selected(), AppLanguage::chinese);
  EXPECT_EQ(currentLanguage(), AppLanguage::chinese);
  EXPECT_EQ(&settings, &LanguageSettings::shared());
  settings.setSelected(AppLanguage::english);
}

TEST(AppLanguage, CasesAndTheirValues) {
  ASSERT_EQ(AppLanguage::allCases.size(), 2u);
  EXPECT_EQ(AppLanguage::allCases[0], AppLanguage::english);
  EXPECT_EQ(AppLanguage::allCases[1], AppLanguage::chinese);
  EXPECT_EQ(AppLanguage(AppLanguage::english).rawValue(), "english");
  EXPECT_EQ(AppLanguage(AppLanguage::chinese).rawValue(), "chinese");
  EXPECT_EQ(AppLanguage(AppLanguage::english).label(), "English");
  EXPECT_EQ(AppLanguage(AppLanguage::chinese).label(), "中文");
  EXPECT_EQ(AppLanguage(AppLanguage::english).localeIdentifier(), "en");
  EXPECT_EQ(AppLanguage(AppLanguage::chinese).localeIdentifier(), "zh_Hans");
  EXPECT_EQ(AppLanguage::preferenceKey, "interfaceLanguage");
  EXPECT_EQ(AppLanguage::fromRawValue("chinese"), AppLanguage(AppLanguage::chinese));
  EXPECT_EQ(AppLanguage::fromRawValue("Chinese"), std::nullopt);
  EXPECT_EQ(AppLanguage::fromRawValue(""), std::nullopt);
  EXPECT_EQ(qtLocale(AppLanguage::chinese).script(), QLocale::SimplifiedHanScript);
  EXPECT_EQ(qtLocale(AppLanguage::english).language(), QLocale::English);
}

TEST(AppLanguage, LoadsChineseOnlyForExactlyChinese) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  QSettings store(folder.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
  const QString key = QStringLiteral("interfaceLanguage");
  EXPECT_EQ(AppLanguage::load(store), AppLanguage::english);  // nothing stored
  store.setValue(key, QStringLiteral("chinese"));
  EXPECT_EQ(AppLanguage::load(store), AppLanguage::chinese);
  for (const QVariant& other :
       {QVariant(QStringLiteral("Chinese")), QVariant(QStringLiteral(" chinese")),
        QVariant(QStringLiteral("zh_Hans")), QVariant(QStringLiteral("english")), QVariant(1),
        QVariant(true), QVariant(QStringList{QStringLiteral("chinese")}),
        QVariant(QByteArray("chinese"))}) {
    store.setValue(key, other);
    EXPECT_EQ(AppLanguage::load(store), AppLanguage::english) << other.toString().toStdString();
  }
  store.remove(key);
  EXPECT_EQ(AppLanguage::load(store), AppLanguage::english);

  AppLanguage(AppLanguage::chinese).save(store);
  EXPECT_EQ(store.value(key), QVariant(QStringLiteral("chinese")));
  store.sync();
  QSettings reread(folder.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
  EXPECT_EQ(AppLanguage::load(reread), AppLanguage::chinese);
}

TEST(LanguageSettings, EveryAssignmentIsStoredAndAnnounced) {
  LanguageSettings& settings = LanguageSettings::shared();
  int announced = 0;
  auto counter =
      QObject::connect(&settings, &LanguageSettings::changed, [&announced] { ++announced; });

  settings.setSelected(AppLanguage::chinese);
  EXPECT_EQ(announced, 1);
  EXPECT_EQ(settings.selected(), AppLanguage::chinese);
  EXPECT_EQ(currentLanguage(), AppLanguage::chinese);
  EXPECT_EQ(applicationSettings().value(QStringLiteral("interfaceLanguage")).toString(),
            QStringLiteral("chinese"));
  EXPECT_EQ(L("设置"), "设置");

  // The same value again still writes the setting and tells the observers.
  applicationSettings().remove(QStringLiteral("interfaceLanguage"));
  settings.setSelected(AppLanguage::chinese);
  EXPECT_EQ(announced, 2);
  EXPECT_EQ(applicationSettings().value(QStringLiteral("interfaceLanguage")).toString(),
            QStringLiteral("chinese"));
  EXPECT_EQ(AppLanguage::load(), AppLanguage::chinese);

  settings.setSelected(AppLanguage::english);
  EXPECT_EQ(announced, 3);
  EXPECT_EQ(currentLanguage(), AppLanguage::english);
  EXPECT_EQ(AppLanguage::load(), AppLanguage::english);
  EXPECT_EQ(L("设置"), "Settings");
  QObject::disconnect(counter);
}

TEST(LanguageSettings, ObserversTranslateInTheNewLanguage) {
  LanguageSettings& settings = LanguageSettings::shared();
  settings.setSelected(AppLanguage::english);
  QString seen;
  auto connection =
      QObject::connect(&settings, &LanguageSettings::changed, [&seen] { seen = QL("语言"); });
  settings.setSelected(AppLanguage::chinese);
  EXPECT_EQ(seen, QStringLiteral("语言"));
  settings.setSelected(AppLanguage::english);
  EXPECT_EQ(seen, QStringLiteral("Language"));
  QObject::disconnect(connection);
}

TEST(LanguageSettings, QtTextsTakeQtArguments) {
  LanguageScope english(AppLanguage::english);
  EXPECT_EQ(QL("显示器 {0}，{1}", 1, QStringLiteral("内置屏幕")),
            QStringLiteral("Display 1, 内置屏幕"));
  EXPECT_EQ(QLF("%.1f 秒", 2.5), QStringLiteral("2.5 s"));
  EXPECT_EQ(QLM(QStringLiteral("播放失败：boom")), QStringLiteral("Playback failed: boom"));
}

}  // namespace
}  // namespace vantry
