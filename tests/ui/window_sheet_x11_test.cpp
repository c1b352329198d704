// The window sheet on a private X server: the windows of real clients, the application's
// own left out, and icons read from their _NET_WM_ICON as it comes, well formed or not.
#include <gtest/gtest.h>

#include <map>
#include <memory>

#include <QLabel>
#include "platform/x11/x11_screen_capture.h"

#include "localization/qt/language_settings.h"
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

// The window sheet over the real capture of the private server, which leaves out the
// windows of class "VantryOwn" as the application's own.
struct SheetOnServer {
  test::TempDir folder;
  Harness h;
  std::unique_ptr<Studio> studio;
  std::unique_ptr<WindowSheet> sheet;
  SheetOnServer() {
    auto services = h.services();
    services.capture = defaultStudioCapture(
        std::make_shared<platform::x11::X11ScreenCapture>("VantryOwn"), folder.path.string());
    studio = std::make_unique<Studio>(std::move(services));
    studio->setSetupMode(RecordingSource::window);
    sheet = std::make_unique<WindowSheet>(*studio);
    sheet->setAttribute(Qt::WA_DontShowOnScreen);
    sheet->show();
  }
  ~SheetOnServer() { sheet.reset(); }
};

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

  SheetOnServer on;
  Studio& studio = *on.studio;
  WindowSheet& sheet = *on.sheet;
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

// An empty list says why: no window manager and no other client's window, no window to
// record under a window manager, or nothing that matches the search.
TEST(WindowSheetX11, AnEmptyListSaysWhy) {
  LanguageSettings::shared().setSelected(AppLanguage::english);
  testing::PrivateXServer x;
  testing::OwnConnection ours(x.name());
  testing::ColourWindow own(ours.display(), 0, 0, 300, 200, 0x202020, "Vantry", "VantryOwn");
  SheetOnServer on;
  Studio& studio = *on.studio;
  WindowSheet& sheet = *on.sheet;
  auto* empty = sheet.control<QLabel>("emptyList");
  ASSERT_NE(empty, nullptr);
  auto listed = [&] {
    return waitUntil([&] {
      sheet.refreshNow();
      return !studio.loadingSources();
    });
  };
  ASSERT_TRUE(listed());
  EXPECT_TRUE(sheet.rows().empty());
  EXPECT_TRUE(empty->isVisible());
  EXPECT_TRUE(empty->text().startsWith("No window manager is running"))
      << empty->text().toStdString();

  // A window manager names its check window on the root.
  const Window check =
      XCreateSimpleWindow(x.display(), DefaultRootWindow(x.display()), 0, 0, 1, 1, 0, 0, 0);
  XChangeProperty(x.display(), DefaultRootWindow(x.display()),
                  XInternAtom(x.display(), "_NET_SUPPORTING_WM_CHECK", False), XA_WINDOW, 32,
                  PropModeReplace, reinterpret_cast<const unsigned char*>(&check), 1);
  XSync(x.display(), False);
  studio.refreshCaptureSources();
  ASSERT_TRUE(listed());
  EXPECT_TRUE(empty->text().startsWith("There are no windows to record"))
      << empty->text().toStdString();

  // Another client's window fills the list; a search that matches nothing empties it again.
  testing::ColourWindow other(x.display(), 40, 40, 300, 200, 0x00ff00, "Editor", "Bravo");
  studio.refreshCaptureSources();
  ASSERT_TRUE(waitUntil([&] {
    sheet.refreshNow();
    return !studio.loadingSources() && sheet.rows().size() == 1;
  }));
  EXPECT_FALSE(empty->isVisible());
  sheet.setQuery("spreadsheet");
  sheet.refreshNow();
  EXPECT_TRUE(empty->isVisible());
  EXPECT_EQ(empty->text(), "No window matches the search.");
}

}  // namespace
}  // namespace vantry
