// The shots show what the application shows: Qt's own dialogs and the alert in the one dark
// look, the Settings window ticking the language it speaks, the full-screen player without
// its controls, the window sheet with its live picture come, the header recording a display
// with a long name and a window, the display overlay over a 1920 x 1080 desktop.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QHoverEvent>
#include <QImage>
#include <QProcess>
#include <QRadioButton>
#include <QTemporaryDir>

#include "app/header_bar.h"
#include "app/shot_states.h"
#include "app/studio_window.h"
#include "design/language_settings_view.h"
#include "design/view_parts.h"
#include "localization/language_scope.h"
#include "localization/qt/language_settings.h"
#include "localization/qt/qt_text.h"
#include "player/fullscreen_player.h"
#include "setup/window_sheet.h"
#include "studio/studio.h"

namespace vantry {
namespace {

const ShotState& shotState(const std::string& name) {
  for (const ShotState& state : shotStates())
    if (state.name == name) return state;
  throw std::runtime_error("no shot state " + name);
}

// The mean lightness (0...255) of the picture's middle, where a dialog is centred.
int middleLightness(const QImage& picture, QSize area) {
  const QRect middle(
      QPoint((picture.width() - area.width()) / 2, (picture.height() - area.height()) / 2), area);
  long sum = 0, count = 0;
  for (int y = middle.top(); y <= middle.bottom(); y += 3)
    for (int x = middle.left(); x <= middle.right(); x += 3) {
      sum += QColor(picture.pixel(x, y)).lightness();
      ++count;
    }
  return count ? int(sum / count) : 0;
}

TEST(Shots, QtsOwnDialogsAndTheAlertWearTheDarkLook) {
  for (const char* name : {"alert", "file-dialog"}) {
    SCOPED_TRACE(name);
    const RenderedShot shot = renderShot(shotState(name));
    ASSERT_FALSE(shot.picture.isNull());
    // Qt's light default draws these grounds at a lightness above 200.
    EXPECT_LT(middleLightness(shot.picture, QSize(300, 120)), 70);
  }
}

// The shots speak a language without storing it: the Settings picture ticks the language
// its texts are in, not the stored one.
TEST(Shots, SettingsTickTheLanguageTheyAreShownIn) {
  LanguageSettings::shared().setSelected(AppLanguage::english);
  LanguageScope chinese(AppLanguage::chinese);
  LanguageSettingsView view;
  auto* chosen = view.findChild<QRadioButton*>(QStringLiteral("chinese"));
  ASSERT_NE(chosen, nullptr);
  EXPECT_TRUE(chosen->isChecked());
}

// On a real display the pointer over the new window brings the controls back; the hidden
// picture stays hidden.
TEST(Shots, TheHiddenPlayerShowsNoControls) {
  ShotState hidden = shotState("fullscreen-hidden");
  const auto render = hidden.render;
  hidden.render = [render](Studio& s, StudioWindow& w) {
    auto* player = qobject_cast<FullscreenPlayer*>(s.fullscreenController());
    if (player && player->window()) {
      QCoreApplication::postEvent(player->window(),
                                  new QHoverEvent(QEvent::HoverEnter, QPointF(700, 400),
                                                  QPointF(700, 400), QPointF(-1, -1)));
    }
    return render(s, w);
  };
  const RenderedShot shot = renderShot(hidden);
  auto* player = qobject_cast<FullscreenPlayer*>(shot.studio->fullscreenController());
  ASSERT_TRUE(player && player->window());
  EXPECT_FALSE(player->window()->controlsShown());
}

// The sheet gets its live picture at once, as in the application: no state is left
// "Connecting…".
TEST(Shots, TheWindowSheetIsNotLeftConnecting) {
  int sheets = 0;
  for (const ShotState& state : shotStates()) {
    if (state.name.rfind("window-sheet-", 0) != 0) continue;
    SCOPED_TRACE(state.name);
    ++sheets;
    const RenderedShot shot = renderShot(state);
    EXPECT_FALSE(shot.studio->preparing());
    QWidget* sheet = shot.window->windowSheet();
    ASSERT_NE(sheet, nullptr);
    auto* progress = sheet->findChild<QWidget*>(QStringLiteral("progressText"));
    ASSERT_NE(progress, nullptr);
    EXPECT_FALSE(progress->isVisible());
  }
  EXPECT_GE(sheets, 4);
}

// Recording a display named as real ones are, and a window, in both languages: what is
// recorded shows in the title and in the pill.
TEST(Shots, RecordingALongDisplayNameAndAWindow) {
  for (AppLanguage language : AppLanguage::allCases) {
    LanguageScope scope(language);
    for (const char* name : {"recording-long-name", "recording-window"}) {
      SCOPED_TRACE(std::string(name) + " " + std::string(language.rawValue()));
      const RenderedShot shot = renderShot(shotState(name));
      EXPECT_EQ(shot.studio->selectedWindowID().has_value(),
                name == std::string("recording-window"));
      const QString recorded = QString::fromStdString(shot.studio->selectedScreenName());
      EXPECT_TRUE(recorded == "DisplayPort-0" || recorded.startsWith("Terminal · "))
          << recorded.toStdString();
      HeaderBar* header = shot.window->header();
      EXPECT_EQ(header->title(), QL("正在录制 · ") + recorded);
      EXPECT_TRUE(
          header->noticeView()->shownText().startsWith(QL("正在录制：") + recorded.first(4)));
    }
  }
}

// Where the plain offscreen platform is already asked for, as under CTest, the display
// overlay still covers the promised 1920 x 1080 desktop (it came out 800 x 800).
TEST(ShotsTool, TheOverlayCoversAFullHdDesktop) {
  QTemporaryDir out;
  ASSERT_TRUE(out.isValid());
  QProcess tool;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  tool.setProcessEnvironment(environment);
  tool.start(QStringLiteral(VANTRY_TOOL_PATH),
             {"shots", out.path(), "--language", "english", "--state", "overlay-choosing"});
  ASSERT_TRUE(tool.waitForFinished(120000));
  EXPECT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
  EXPECT_EQ(QImage(out.filePath("english/overlay-choosing.png")).size(), QSize(1920, 1080));
}

}  // namespace
}  // namespace vantry
