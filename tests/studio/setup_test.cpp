// Live preview setup, teardown and the capture source lists, over a scripted capture.
#include <gtest/gtest.h>

#include "capture_fakes.h"
#include "fakes.h"
#include "localization/localization.h"

namespace vantry {
namespace {

using testing::FakeCapture;
using testing::Harness;
using testing::picture;
using testing::waitUntil;

struct SetupFixture : ::testing::Test {
  Harness h;
  std::shared_ptr<FakeCapture> capture = std::make_shared<FakeCapture>();
  std::unique_ptr<Studio> studio;

  void SetUp() override {
    auto services = h.services();
    services.capture = capture;
    studio = std::make_unique<Studio>(std::move(services));
  }
  void settle() { StudioTestAccess::settle(*studio); }
  std::vector<std::string> calls() { return capture->log.snapshot(); }
  // Launches the live preview and delivers both first frames.
  void ready() {
    studio->launchPreview();
    settle();
    capture->previews.back()->frame();
    if (studio->useCamera()) capture->cameras.back()->frame();
    settle();
  }
};

TEST_F(SetupFixture, LaunchStartsTheDisplayAndCameraPreviewsOnceAndWaitsForBothFrames) {
  studio->launchPreview();
  EXPECT_TRUE(studio->preparing());
  settle();
  EXPECT_EQ(calls(), (std::vector<std::string>{"preview1.start 7", "camera1.prepare"}));
  EXPECT_TRUE(studio->preparing());

  capture->previews[0]->frame();
  settle();
  EXPECT_TRUE(studio->preparing()) << "the camera is wanted and has not shown a frame";
  EXPECT_FALSE(studio->canStartRecording());
  capture->cameras[0]->frame();
  settle();
  EXPECT_FALSE(studio->preparing());
  EXPECT_FALSE(studio->setupError());
  EXPECT_TRUE(studio->canStartRecording());

  studio->launchPreview();
  settle();
  EXPECT_EQ(calls().size(), 2u) << "a second launch does nothing";
}

TEST_F(SetupFixture, WithoutTheCameraOneScreenFrameIsEnoughAndThePresenterLayoutIsLeft) {
  studio->launchPreview();
  settle();
  studio->setFullPresenter(true);
  studio->setUseCamera(false);
  EXPECT_FALSE(studio->fullPresenter());
  settle();
  // The first setup's preview and camera stop before the new preview starts.
  EXPECT_EQ(calls(),
            (std::vector<std::string>{"preview1.start 7", "camera1.prepare", "preview1.stop",
                                      "camera1.stop", "preview2.start 7"}));
  capture->previews[1]->frame();
  settle();
  EXPECT_FALSE(studio->preparing());
  EXPECT_TRUE(studio->canStartRecording());
}

TEST_F(SetupFixture, ASupersededSetupIsInertAndTheNextOneWaitsForIt) {
  capture->onPreview = [](testing::FakePreview& p) { p.gate.close(); };
  studio->launchPreview();
  // The first preview is still starting when the second setup is asked for.
  while (capture->previews.empty())
    std::this_thread::yield();
  auto first = capture->previews[0];
  first->gate.awaitArrival();
  capture->onPreview = nullptr;
  studio->setSelectedWindowID(42);
  studio->prepareRecording();
  first->frame();
  first->fail("late failure");
  first->gate.open();
  settle();
  EXPECT_EQ(calls(), (std::vector<std::string>{"preview1.start 7", "preview1.stop",
                                               "preview2.start 7 window 42", "camera1.prepare"}));
  EXPECT_TRUE(studio->liveScreenImage().isNull()) << "a frame of the old setup";
  EXPECT_FALSE(studio->setupError()) << "an error of the old setup";
  EXPECT_TRUE(studio->preparing());

  capture->previews[1]->frame();
  capture->cameras[0]->frame();
  settle();
  EXPECT_FALSE(studio->preparing());
  EXPECT_TRUE(studio->canStartRecording());
}

TEST_F(SetupFixture, FailuresGiveTheirTextsAndEndTheWaitAtOnce) {
  capture->onPreview = [](testing::FakePreview& p) { p.startError = "没有显示器"; };
  capture->onCamera = [](testing::FakeCamera& c) { c.prepareError = "摄像头被占用"; };
  studio->launchPreview();
  settle();
  EXPECT_FALSE(studio->preparing());
  EXPECT_EQ(*studio->setupError(),
            L("屏幕预览失败：") + "没有显示器" + L("。请检查屏幕录制权限。") + "\n摄像头被占用");
  EXPECT_EQ(calls().back(), "camera1.prepare") << "the camera is prepared all the same";

  // A missing camera alone.
  capture->onPreview = nullptr;
  studio->prepareRecording();
  settle();
  EXPECT_EQ(*studio->setupError(), "摄像头被占用");

  // A stream that fails later.
  capture->onCamera = nullptr;
  studio->prepareRecording();
  settle();
  capture->previews.back()->frame();
  capture->cameras.back()->frame();
  settle();
  EXPECT_FALSE(studio->setupError());
  capture->previews.back()->fail("显示器已断开");
  settle();
  EXPECT_EQ(*studio->setupError(), "显示器已断开");
  EXPECT_FALSE(studio->canStartRecording());
}

TEST_F(SetupFixture, AReasonEndingInAFullStopIsNotFollowedByASecondOne) {
  for (const char* reason : {"所选屏幕已断开，请重新选择。", "The display was disconnected."}) {
    capture->onPreview = [reason](testing::FakePreview& p) { p.startError = reason; };
    studio->prepareRecording();
    settle();
    ASSERT_TRUE(studio->setupError());
    const std::string text = *studio->setupError();
    EXPECT_EQ(text.find("。。"), std::string::npos) << text;
    EXPECT_EQ(text.find(".."), std::string::npos) << text;
    EXPECT_NE(text.find(std::string(reason).substr(0, 12)), std::string::npos) << text;
  }
}

TEST_F(SetupFixture, NoCameraFrameEndsInTheMissingFramesTextAfterEightyPasses) {
  StudioTestAccess::setWaitInterval(*studio, 1);
  studio->launchPreview();
  settle();
  capture->previews[0]->frame();
  ASSERT_TRUE(waitUntil([&] { return !studio->preparing(); }));
  EXPECT_EQ(*studio->setupError(),
            L("未收到实时画面。请检查所选屏幕、摄像头和系统权限，再点击重新预览。"));
  EXPECT_FALSE(studio->canStartRecording());
}

TEST_F(SetupFixture, ATeardownEndingAfterANewerSetupLeavesThatSetupAlone) {
  ready();
  studio->cancelRecordingSetup();
  EXPECT_FALSE(studio->standby());
  studio->record();  // shows the setup over the (demonstration) project
  ASSERT_TRUE(studio->showingRecordingSetup());
  studio->prepareRecording();
  settle();
  EXPECT_TRUE(studio->preparing()) << "the teardown's end must not clear the newer setup";
  EXPECT_TRUE(studio->liveScreenImage().isNull());
  capture->previews.back()->frame();
  capture->cameras.back()->frame();
  settle();
  EXPECT_TRUE(studio->canStartRecording());
}

TEST_F(SetupFixture, DismissingKeepsTheLivePreviewOnlyInStandby) {
  ready();
  studio->record();
  studio->dismissRecordingSetup();
  settle();
  EXPECT_TRUE(studio->standby());
  EXPECT_FALSE(studio->liveScreenImage().isNull()) << "standby keeps its preview";

  studio->cancelRecordingSetup();
  settle();
  studio->record();
  studio->prepareRecording();
  settle();
  capture->previews.back()->frame();
  settle();
  const auto before = calls().size();
  studio->dismissRecordingSetup();
  settle();
  EXPECT_FALSE(studio->showingRecordingSetup());
  EXPECT_TRUE(studio->liveScreenImage().isNull());
  EXPECT_FALSE(studio->preparing());
  auto after = calls();
  ASSERT_EQ(after.size(), before + 2);
  EXPECT_EQ(after[before], "preview2.stop");
}

TEST_F(SetupFixture, NothingStartsWhileBusyOrOutsideTheSetup) {
  ready();
  const auto generation = StudioTestAccess::setupGeneration(*studio);
  studio->setBusy(true);
  studio->prepareRecording();
  studio->setUseCamera(false);
  studio->cancelRecordingSetup();
  EXPECT_EQ(StudioTestAccess::setupGeneration(*studio), generation);
  EXPECT_TRUE(studio->useCamera());
  studio->setBusy(false);
  studio->cancelRecordingSetup();
  settle();
  const auto before = calls().size();
  studio->prepareRecording();
  settle();
  EXPECT_EQ(calls().size(), before) << "neither standby nor the setup is shown";
}

TEST_F(SetupFixture, SourcesKeepOrdinaryTitledWindowsOfOtherApplicationsSorted) {
  platform::ApplicationInfo editor{"org.editor", "Editor", 10};
  platform::ApplicationInfo browser{"org.browser", "Browser", 11};
  auto window = [](platform::WindowId id, std::string title, platform::ApplicationInfo app,
                   double w = 800, double h = 600, int layer = 0) {
    platform::WindowInfo info;
    info.id = id;
    info.title = std::move(title);
    info.application = std::move(app);
    info.frame = {0, 0, w, h};
    info.layer = layer;
    return info;
  };
  capture->content.displays = {{7, "DP-1", {0, 0, 1920, 1080}, true, 1}};
  capture->content.applications = {editor, browser};
  capture->content.windows = {
      window(1, "b.txt", editor),
      window(2, "Home", browser),
      window(3, "a.txt", editor),
      window(4, "Settings", capture->own),
      window(5, "Panel", browser, 800, 600, 2),
      window(6, "Narrow", browser, 100, 600),
      window(7, "Flat", browser, 800, 80),
      window(8, "", editor),
      window(9, "Loose", {}),
  };
  capture->windowIcons[2] = picture(16, 16);
  studio->refreshCaptureSources();
  EXPECT_TRUE(studio->loadingSources());
  settle();
  EXPECT_FALSE(studio->loadingSources());
  std::vector<platform::WindowId> ids;
  for (const auto& w : studio->captureWindows())
    ids.push_back(w.id);
  // "Loose" has no application and sorts by its title alone.
  EXPECT_EQ(ids, (std::vector<platform::WindowId>{2, 3, 1, 9}));
  ASSERT_EQ(studio->displays().size(), 1u);
  EXPECT_FALSE(studio->captureWindowIcon(2).isNull());
  EXPECT_TRUE(studio->captureWindowIcon(3).isNull());
  EXPECT_EQ(capture->iconReads, 4) << "the listed windows only";
  EXPECT_EQ(capture->iconSize, 24) << "the list's 24 points at one pixel per point";

  // A known window keeps its icon; the others are asked again.
  capture->windowIcons[2] = picture(32, 32);
  capture->windowIcons[3] = picture(16, 16);
  studio->refreshCaptureSources();
  settle();
  EXPECT_EQ(capture->iconReads, 7);
  EXPECT_EQ(studio->captureWindowIcon(2).width(), 16);
  EXPECT_FALSE(studio->captureWindowIcon(3).isNull());

  capture->contentError = "无法连接显示服务器";
  studio->refreshCaptureSources();
  settle();
  EXPECT_EQ(*studio->sourceListError(), "无法连接显示服务器");
  EXPECT_EQ(studio->captureWindows().size(), 4u) << "the lists keep their contents";
}

TEST_F(SetupFixture, PermissionSettingsOpenTheDesktopHelp) {
  struct Desktop : testing::FakeDesktop {
    int help = 0;
    void openPermissionHelp() override { ++help; }
  };
  auto desktop = std::make_shared<Desktop>();
  auto services = h.services();
  services.desktop = desktop;
  services.capture = capture;
  Studio other(std::move(services));
  other.openScreenPermissionSettings();
  EXPECT_EQ(desktop->help, 1);
}

}  // namespace
}  // namespace vantry
