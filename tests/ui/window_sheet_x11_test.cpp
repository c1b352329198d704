// The window sheet on a private X server: the windows of real clients, the application's
// own left out, and icons read from their _NET_WM_ICON as it comes, well formed or not.
#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "platform/x11/x11_screen_capture.h"
#include "setup/window_sheet.h"
#include "studio/capture_fakes.h"
#include "studio/capture_services.h"
#include "studio/fakes.h"
#include "support/temp_dir.h"
// Xlib's macros last.
#include "platform/x11_test_server.h"

namespace vantry {
namespace {

using testing::Harness;
using testing::waitUntil;

// On a private X server: the windows of real clients, the own one left out, and icons read
// from their _NET_WM_ICON as it comes, well formed or not.
TEST(WindowSheetX11, ListsOtherClientsWindowsWithTheirIcons) {
  testing::PrivateXServer x;
  auto setIcon = [&](Window w, const std::vector<unsigned long>& values) {
    XChangeProperty(x.display(), w, XInternAtom(x.display(), "_NET_WM_ICON", False), XA_CARDINAL,
                    32, PropModeReplace, reinterpret_cast<const unsigned char*>(values.data()),
                    int(values.size()));
    XSync(x.display(), False);
  };
  auto square = [](std::vector<unsigned long>& values, unsigned long side, unsigned long argb) {
    values.push_back(side);
    values.push_back(side);
    values.insert(values.end(), side * side, argb);
  };
  testing::OwnConnection ours(x.name());
  testing::ColourWindow own(ours.display(), 0, 0, 300, 200, 0x202020, "Vantry", "VantryOwn");
  // Another program that calls itself ours is offered like any other.
  testing::ColourWindow impostor(x.display(), 100, 100, 300, 200, 0x00ffff, "Impostor", "VantryOwn",
                                 getpid());
  testing::ColourWindow none(x.display(), 20, 20, 300, 200, 0x0000ff, "No icon", "Alpha");
  testing::ColourWindow one(x.display(), 40, 40, 300, 200, 0x00ff00, "One size", "Bravo");
  testing::ColourWindow several(x.display(), 60, 60, 300, 200, 0xff0000, "Several", "Charlie");
  testing::ColourWindow broken(x.display(), 80, 80, 300, 200, 0xffff00, "Broken", "Delta");
  std::vector<unsigned long> values;
  square(values, 16, 0xFFFF0000ul);
  setIcon(one.id(), values);
  values.clear();
  square(values, 16, 0xFFFF0000ul);
  square(values, 22, 0xFF0000FFul);  // nearest the list's 24 pixels
  square(values, 48, 0xFF00FF00ul);
  setIcon(several.id(), values);
  // Sides whose product overflows, followed by a few values only.
  setIcon(broken.id(), {0xFFFFFFFFul, 0xFFFFFFFFul, 1, 2, 3});

  test::TempDir folder;
  Harness h;
  auto services = h.services();
  services.capture = defaultStudioCapture(
      std::make_shared<platform::x11::X11ScreenCapture>("VantryOwn"), folder.path.string());
  Studio studio(std::move(services));
  studio.setSetupMode(RecordingSource::window);
  WindowSheet sheet(studio);
  sheet.setAttribute(Qt::WA_DontShowOnScreen);
  sheet.show();
  ASSERT_TRUE(waitUntil([&] {
    sheet.refreshNow();
    return !studio.loadingSources() && sheet.rows().size() >= 5;
  }));
  std::map<std::string, QImage> icons;
  for (WindowRow* row : sheet.rows())
    icons[row->window().title] = row->icon();
  EXPECT_EQ(icons.size(), 5u);
  EXPECT_FALSE(icons.count("Vantry")) << "the application's own window is not offered";
  EXPECT_TRUE(icons.count("Impostor"));
  EXPECT_TRUE(icons.at("No icon").isNull());
  EXPECT_TRUE(icons.at("Broken").isNull());
  ASSERT_FALSE(icons.at("One size").isNull());
  EXPECT_EQ(icons.at("One size").size(), QSize(24, 24));
  EXPECT_EQ(icons.at("One size").pixelColor(12, 12), QColor(Qt::red));
  ASSERT_FALSE(icons.at("Several").isNull());
  EXPECT_EQ(icons.at("Several").pixelColor(12, 12), QColor(Qt::blue));
}

}  // namespace
}  // namespace vantry
