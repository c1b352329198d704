// The shots show what the application shows: Qt's own dialogs and the alert in the one dark
// look, the Settings window ticking the language it speaks, the full-screen player without
// its controls, the window sheet with its live picture come.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QHoverEvent>
#include <QImage>
#include <QRadioButton>

#include "app/shot_states.h"
#include "app/studio_window.h"
#include "design/language_settings_view.h"
#include "localization/language_scope.h"
#include "localization/qt/language_settings.h"
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

}  // namespace
}  // namespace vantry
