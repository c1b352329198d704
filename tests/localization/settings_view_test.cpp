#include <gtest/gtest.h>

#include <QLabel>
#include <QLocale>
#include <QRadioButton>
#include <QSettings>
#include <QStyle>
#include <QStyleOptionButton>

#include "design/language_settings_view.h"
#include "design/theme.h"
#include "localization/localization.h"
#include "localization/qt/language_settings.h"

namespace vantry {
namespace {

QString textOf(const QWidget& view, const char* name) {
  const auto* label = view.findChild<QLabel*>(QString::fromLatin1(name));
  return label ? label->text() : QStringLiteral("<missing>");
}

TEST(LanguageSettingsView, ShowsAndChangesTheLanguage) {
  LanguageSettings::shared().setSelected(AppLanguage::english);
  LanguageSettingsView view;
  view.show();
  EXPECT_EQ(textOf(view, "title"), QStringLiteral("Settings"));
  EXPECT_EQ(textOf(view, "languageHeading"), QStringLiteral("Language"));
  EXPECT_EQ(textOf(view, "caption"),
            QStringLiteral("Choose the interface language. Changes apply immediately and are "
                           "remembered next time."));
  auto* english = view.findChild<QRadioButton*>(QStringLiteral("english"));
  auto* chinese = view.findChild<QRadioButton*>(QStringLiteral("chinese"));
  ASSERT_TRUE(english && chinese);
  EXPECT_TRUE(english->isChecked());
  EXPECT_EQ(english->text(), QStringLiteral("English"));
  EXPECT_EQ(chinese->text(), QStringLiteral("中文"));

  chinese->click();
  EXPECT_EQ(LanguageSettings::shared().selected(), AppLanguage::chinese);
  EXPECT_EQ(QSettings(QStringLiteral("Vantry"), QStringLiteral("Vantry"))
                .value(QStringLiteral("interfaceLanguage"))
                .toString(),
            QStringLiteral("chinese"));
  EXPECT_EQ(textOf(view, "title"), QStringLiteral("设置"));
  EXPECT_EQ(textOf(view, "caption"),
            QStringLiteral("选择界面语言。更改立即生效，并在下次打开时保留。"));
  EXPECT_EQ(chinese->text(), QStringLiteral("中文"));  // labels are never translated
  EXPECT_EQ(view.locale().script(), QLocale::SimplifiedHanScript);

  // A change made elsewhere reaches the open view.
  LanguageSettings::shared().setSelected(AppLanguage::english);
  EXPECT_TRUE(english->isChecked());
  EXPECT_EQ(textOf(view, "languageHeading"), QStringLiteral("Language"));
}

TEST(LanguageSettingsView, DarkFixedWidthPanel) {
  LanguageSettingsView view;
  view.adjustSize();
  EXPECT_EQ(view.width(), 480);
  EXPECT_EQ(view.palette().color(QPalette::Window), ink);
  EXPECT_EQ(ink, QColor(0x07, 0x09, 0x0F));
  EXPECT_EQ(view.palette().color(QPalette::WindowText), QColor(Qt::white));
  // The caption wraps inside the width instead of widening the panel.
  const auto* caption = view.findChild<QLabel*>(QStringLiteral("caption"));
  ASSERT_TRUE(caption);
  EXPECT_TRUE(caption->wordWrap());
  EXPECT_LE(caption->geometry().right(), 480 - 28);
  EXPECT_GE(caption->geometry().bottom(),
            caption->geometry().top() + caption->heightForWidth(caption->width()) - 1);
  EXPECT_LE(caption->geometry().bottom(), view.height() - 28);
}

}  // namespace
}  // namespace vantry

namespace vantry {
namespace {

// The language not chosen still shows its round mark on the dark ground, and the chosen one
// its dot in the accent.
TEST(LanguageSettingsView, BothRadioMarksStandOutOnTheDarkGround) {
  LanguageSettings::shared().setSelected(AppLanguage::english);
  LanguageSettingsView view;
  view.adjustSize();
  const QImage picture = view.grab().toImage();
  auto brightest = [&](const char* name,
                       QStyle::SubElement part = QStyle::SE_RadioButtonIndicator) {
    const auto* radio = view.findChild<QRadioButton*>(QString::fromLatin1(name));
    QStyleOptionButton option;
    option.initFrom(radio);
    option.text = radio->text();
    const QRect mark = radio->style()
                           ->subElementRect(part, &option, radio)
                           .translated(radio->mapTo(&view, QPoint(0, 0)));
    int best = 0;
    for (int y = mark.top(); y <= mark.bottom(); ++y)
      for (int x = mark.left(); x <= mark.right(); ++x)
        best = std::max(best, picture.pixelColor(x, y).lightness());
    return best;
  };
  EXPECT_GT(brightest("chinese"), 110) << "the unchosen language's mark is lost in the ground";
  EXPECT_GT(brightest("english"), 110);
  // The names beside the marks stay light.
  EXPECT_GT(brightest("english", QStyle::SE_RadioButtonContents), 180);
  EXPECT_GT(brightest("chinese", QStyle::SE_RadioButtonContents), 180);
}

}  // namespace
}  // namespace vantry
