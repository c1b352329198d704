// The window follows the controller's setup and export flags: the display overlays for
// display mode, a sheet for window mode, the export sheet; a sheet closed by the window
// system asks the controller to dismiss it, one closed for the controller does not.
#include <gtest/gtest.h>

#include <QDialog>

#include <vector>

#include <QApplication>

#include "studio/capture_fakes.h"
#include "window_fixture.h"

namespace vantry {
namespace {

using testing::WindowFixture;

struct Recorder {
  std::vector<bool> overlays;
  int windowSheets = 0;
  int exportSheets = 0;

  StudioWindowParts parts() {
    StudioWindowParts p;
    p.displayOverlay = [this](Studio&, bool shown) { overlays.push_back(shown); };
    p.windowSheet = [this](Studio&, QWidget* parent) {
      ++windowSheets;
      auto* d = new QDialog(parent);
      d->setAttribute(Qt::WA_DontShowOnScreen);
      return d;
    };
    p.exportSheet = [this](Studio&, QWidget* parent) {
      ++exportSheets;
      auto* d = new QDialog(parent);
      d->setAttribute(Qt::WA_DontShowOnScreen);
      return d;
    };
    return p;
  }
};

TEST(Sheets, SetupModeSwitchesBetweenOverlaysAndTheWindowSheet) {
  Recorder r;
  WindowFixture f(r.parts());
  EXPECT_TRUE(r.overlays.empty());  // not run for the initial value
  f.s().setShowingRecordingSetup(true);
  f.settle();
  EXPECT_EQ(r.overlays, std::vector<bool>{true});
  EXPECT_EQ(f.window->windowSheet(), nullptr);

  f.s().setSetupMode(RecordingSource::window);
  f.settle();
  EXPECT_EQ(r.overlays, (std::vector<bool>{true, false}));
  ASSERT_NE(f.window->windowSheet(), nullptr);
  EXPECT_TRUE(f.window->windowSheet()->isVisible());

  f.s().setSetupMode(RecordingSource::display);
  f.settle();
  EXPECT_EQ(r.overlays, (std::vector<bool>{true, false, true}));
  EXPECT_EQ(f.window->windowSheet(), nullptr);
  // Closed for the controller: no dismissal was asked, the setup is still open.
  EXPECT_TRUE(f.s().showingRecordingSetup());

  f.s().setShowingRecordingSetup(false);
  f.settle();
  EXPECT_EQ(r.overlays.back(), false);
}

TEST(Sheets, ExportSheetClosedByTheWindowSystemAsksToDismiss) {
  Recorder r;
  WindowFixture f(r.parts());
  f.demo();
  f.s().setShowingExport(true);
  f.settle();
  ASSERT_NE(f.window->exportSheet(), nullptr);
  EXPECT_EQ(r.exportSheets, 1);
  // While exporting the controller refuses the dismissal, so the sheet comes back.
  f.s().setExporting(true);
  f.window->exportSheet()->reject();
  f.settle();
  EXPECT_TRUE(f.s().showingExport());
  ASSERT_NE(f.window->exportSheet(), nullptr);
  EXPECT_EQ(r.exportSheets, 2);
  // The flag falls: the sheet closes.
  f.s().setExporting(false);
  f.s().setShowingExport(false);
  f.settle();
  EXPECT_EQ(f.window->exportSheet(), nullptr);
}

TEST(Sheets, TheWindowTakesTheKeyboardBackWhenTheOverlaysGo) {
  // The overlays take the keyboard while they show; once they go, the window's shortcuts
  // (stop the recording) must reach it again.
  QWidget overlay;
  StudioWindowParts parts;
  parts.displayOverlay = [&overlay](Studio&, bool shown) {
    if (shown) {
      overlay.show();
      overlay.activateWindow();
    } else {
      overlay.hide();
    }
  };
  testing::WindowFixture f(std::move(parts));
  // Activation needs a window the platform shows (the offscreen platform draws nowhere).
  f.window->hide();
  f.window->setAttribute(Qt::WA_DontShowOnScreen, false);
  f.window->show();
  f.window->activateWindow();
  f.s().setShowingRecordingSetup(true);
  f.settle();
  ASSERT_TRUE(testing::waitUntil([&] { return QApplication::activeWindow() == &overlay; }));
  f.s().setShowingRecordingSetup(false);
  f.settle();
  EXPECT_TRUE(testing::waitUntil([&] { return QApplication::activeWindow() == f.window.get(); }));
}

}  // namespace
}  // namespace vantry
