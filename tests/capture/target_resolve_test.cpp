// Resolving the user's choice into a capture target.
#include <gtest/gtest.h>

#include "capture/capture_target.h"
#include "localization/localization.h"
#include "platform/studio_error.h"

namespace vantry {
namespace {

using platform::ApplicationInfo;
using platform::ContentFilter;

platform::ShareableContent content() {
  platform::ShareableContent c;
  c.displays = {{7, "DP-1", {0, 0, 2560, 1440}, true, 1.0},
                {9, "HDMI-1", {2560, 0, 1920, 1080}, false, 1.0}};
  c.windows = {{101, "Editor", {"Code", "Code", 300}, {10, 20, 800, 600}, 0, true},
               {102, "Vantry", {"Vantry", "Vantry", 400, true}, {0, 0, 1280, 800}, 0, true},
               {103, "Vantry", {"Vantry", "Vantry", 401, true}, {50, 50, 1280, 800}, 0, true},
               {104, "Collapsed", {"Term", "Term", 500}, {5, 5, 0, 300}, 0, true},
               {105, "Flat", {"Term", "Term", 500}, {5, 5, 300, 0}, 0, true},
               {106, "Vantry", {"Vantry", "Vantry", 400}, {9, 9, 300, 300}, 0, true}};
  c.applications = {{"Code", "Code", 300},
                    {"Vantry", "Vantry", 400, true},
                    {"Vantry", "Vantry", 401, true},
                    {"Term", "Term", 500},
                    {"Vantry", "Vantry", 400}};  // takes our name and pid: not us
  return c;
}

std::string failure(platform::DisplayId display, std::optional<platform::WindowId> window,
                    ApplicationInfo own = {"Vantry", "Vantry", 400, true}) {
  try {
    CaptureTarget::resolve(content(), display, window, own);
  } catch (const StudioError& e) {
    return e.what();
  }
  return "resolved";
}

TEST(CaptureTargetResolve, ADisplayLeavesOutEveryInstanceOfTheApplication) {
  const ApplicationInfo own{"Vantry", "Vantry", 400, true};
  const CaptureTarget t = CaptureTarget::resolve(content(), 9, std::nullopt, own);
  EXPECT_EQ(t.filter.kind, ContentFilter::Kind::display);
  EXPECT_EQ(t.filter.display, 9u);
  EXPECT_EQ(t.rect, (platform::Rect{2560, 0, 1920, 1080}));
  std::vector<std::int64_t> pids;
  for (const auto& app : t.filter.excludedApplications) {
    EXPECT_EQ(app.identifier, "Vantry");
    EXPECT_TRUE(app.thisApplication) << "the one that only takes our name and pid stays in";
    pids.push_back(app.pid);
  }
  EXPECT_NE(std::find(pids.begin(), pids.end(), 400), pids.end());
  EXPECT_NE(std::find(pids.begin(), pids.end(), 401), pids.end());

  // When the backend cannot tell its own, nothing is left out.
  const CaptureTarget bare =
      CaptureTarget::resolve(content(), 7, std::nullopt, {"Vantry", "Vantry", 400});
  EXPECT_TRUE(bare.filter.excludedApplications.empty());
}

TEST(CaptureTargetResolve, AWindowIsCapturedAloneAndTheDisplayPlaysNoPart) {
  const CaptureTarget t = CaptureTarget::resolve(content(), 12345, 101u, {"Vantry", "", 1});
  EXPECT_EQ(t.filter.kind, ContentFilter::Kind::window);
  EXPECT_EQ(t.filter.window, 101u);
  EXPECT_EQ(t.rect, (platform::Rect{10, 20, 800, 600}));
  EXPECT_TRUE(t.filter.excludedApplications.empty());
}

TEST(CaptureTargetResolve, GoneOrEmptySourcesFailWithTheirMessages) {
  for (AppLanguage language : {AppLanguage::chinese, AppLanguage::english}) {
    setCurrentLanguage(language);
    const std::string displayGone = L("所选屏幕已断开，请重新选择。");
    const std::string windowGone = L("所选窗口已关闭，请重新选择。");
    EXPECT_EQ(failure(8, std::nullopt), displayGone);
    EXPECT_EQ(failure(7, 999u), windowGone);
    EXPECT_EQ(failure(7, 104u), windowGone);  // still listed, but no width
    EXPECT_EQ(failure(7, 105u), windowGone);  // no height
  }
  setCurrentLanguage(AppLanguage::english);
  EXPECT_EQ(failure(8, std::nullopt),
            "The selected display was disconnected. Select another display.");
}

}  // namespace
}  // namespace vantry
