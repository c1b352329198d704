// The shots show what the application shows: Qt's own dialogs and the alert in the one dark
// look.
#include <gtest/gtest.h>

#include <QImage>

#include "app/shot_states.h"

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

}  // namespace
}  // namespace vantry
