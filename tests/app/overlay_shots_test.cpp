// The display overlay's shot states reach the state they are named after and render it.
#include <gtest/gtest.h>

#include <QImage>

#include "app/shot_states.h"
#include "app/studio_window.h"
#include "setup/overlay_controller.h"
#include "studio/studio.h"

namespace vantry {
namespace {

TEST(OverlayShots, EachStateShowsItsOwnCard) {
  auto& overlay = RecordingOverlayController::shared();
  std::vector<QImage> images;
  for (const ShotState& state : overlayShotStates()) {
    SCOPED_TRACE(state.name);
    Studio studio(offscreenStudioServices());
    StudioWindowParts parts = StudioWindowParts::standard();
    parts.launchPreview = false;
    StudioWindow window(studio, parts);
    window.setAttribute(Qt::WA_DontShowOnScreen);
    window.show();
    state.apply(studio, window);
    ASSERT_TRUE(state.render);
    images.push_back(state.render(studio, window));
    EXPECT_FALSE(images.back().isNull());
    if (state.name == "overlay-choosing") {
      EXPECT_TRUE(overlay.hovered());
      EXPECT_FALSE(overlay.pending());
    } else if (state.name == "overlay-connecting") {
      EXPECT_TRUE(overlay.pending());
      EXPECT_FALSE(overlay.countdown());
    } else if (state.name == "overlay-countdown") {
      EXPECT_EQ(overlay.countdown(), 3);
    } else if (state.name == "overlay-message") {
      EXPECT_TRUE(overlay.message());
      EXPECT_FALSE(overlay.pending());
    }
  }
  ASSERT_EQ(images.size(), 5u);
  for (std::size_t i = 0; i < images.size(); ++i)
    for (std::size_t j = i + 1; j < images.size(); ++j)
      EXPECT_NE(images[i], images[j]) << i << " " << j;
}

}  // namespace
}  // namespace vantry
