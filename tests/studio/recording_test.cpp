// Recording start and stop over a scripted capture: what the controller publishes, what
// it writes beside the recording, and the order of capture calls.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>

#include "capture_fakes.h"
#include "fakes.h"
#include "localization/localization.h"
#include "model/document_json.h"

namespace vantry {
namespace {

using testing::FakeCapture;
using testing::FakeRecording;
using testing::Harness;
using testing::picture;

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct RecordingFixture : ::testing::Test {
  Harness h;
  std::shared_ptr<FakeCapture> capture = std::make_shared<FakeCapture>();
  std::unique_ptr<Studio> studio;
  QTemporaryDir dir;
  std::string folder;
  std::optional<std::string> stopError;  // of the next recording

  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    folder = dir.filePath("rec").toStdString();
    std::filesystem::create_directories(folder);
    auto services = h.services();
    services.capture = capture;
    studio = std::make_unique<Studio>(std::move(services));
    // What the recorder hands back: a short recording with two clicks.
    capture->onRecording = [this](FakeRecording& r) {
      r.result = recordedClip();
      r.stopError = stopError;
    };
  }
  void TearDown() override { studio.reset(); }

  Clip recordedClip() const {
    Clip clip;
    clip.title = "Recording";
    clip.duration = 12;
    clip.screenPath = folder + "/screen.mp4";
    clip.cameraPath = folder + "/camera.mov";
    clip.width = 1920;
    clip.height = 1080;
    std::vector<PointerSample> samples;
    for (int i = 0; i < 600; ++i)
      samples.push_back({i / 50.0, 0.3, 0.4, (i == 100 || i == 400)});
    clip.samples = std::move(samples);
    return clip;
  }
  void settle() { StudioTestAccess::settle(*studio); }
  std::vector<std::string> calls() { return capture->log.snapshot(); }
  void ready() {
    studio->launchPreview();
    settle();
    capture->previews.back()->frame();
    if (studio->useCamera()) capture->cameras.back()->frame();
    settle();
    ASSERT_TRUE(studio->canStartRecording());
  }
  // A project open before the recording, with its own edit file in "old"; the folder.
  std::string openOldProject() {
    const std::string old = dir.filePath("old").toStdString();
    std::filesystem::create_directories(old);
    Clip project = recordedClip();
    project.screenPath = old + "/screen.mp4";
    EXPECT_TRUE(studio->load(project));
    studio->setProjectURL(old + "/edit.json");
    return old;
  }
  void startRecording() {
    ready();
    studio->startPreparedRecording();
    EXPECT_TRUE(studio->busy());
    settle();
    ASSERT_TRUE(studio->recording());
  }
};

TEST_F(RecordingFixture, StartStopsThePreviewHandsOverTheCameraAndShowsTheNotice) {
  h.screens->names[7] = "内置显示器";
  studio->setFullPresenter(true);
  startRecording();
  const auto log = calls();
  ASSERT_GE(log.size(), 4u);
  EXPECT_EQ(log[2], "preview1.stop");
  EXPECT_EQ(log[3], "recording.start 7 camera mic prepared1");
  EXPECT_FALSE(studio->busy());
  EXPECT_FALSE(studio->standby());
  EXPECT_FALSE(studio->showingRecordingSetup());
  EXPECT_TRUE(studio->settings().showCamera);
  EXPECT_EQ(studio->notice(),
            L("正在录制：") + "内置显示器" + L(" · 本窗口不会被录入 · 画面为实时预览"));

  // The camera keeps feeding the picture while recording; so does the recorder.
  capture->cameras[0]->frame(picture(8, 8, Qt::yellow));
  capture->recordings[0]->frame(picture(20, 20));
  settle();
  EXPECT_EQ(studio->liveCameraImage().size(), QSize(8, 8));
  EXPECT_EQ(studio->liveScreenImage().size(), QSize(20, 20));

  // Starting again while recording is refused; record() stops.
  studio->startPreparedRecording();
  studio->record();
  EXPECT_TRUE(studio->busy());
  settle();
  EXPECT_FALSE(studio->recording());
  ASSERT_TRUE(studio->clip().presenterEvents);
  ASSERT_EQ(studio->clip().presenterEvents->size(), 1u);
  EXPECT_EQ((*studio->clip().presenterEvents)[0].time, 0);
  EXPECT_TRUE((*studio->clip().presenterEvents)[0].fullScreen);
}

TEST_F(RecordingFixture, StopOpensTheRecordingAndSavesItsEditBesideIt) {
  startRecording();
  auto settings = studio->settings();
  settings.padding = 0.05;
  studio->setSettings(settings);
  studio->stop();
  studio->stop();  // a second stop while stopping is refused
  settle();
  EXPECT_EQ(capture->recordings[0]->stops.load(), 1);
  EXPECT_FALSE(studio->recording());
  EXPECT_FALSE(studio->busy());
  EXPECT_EQ(studio->notice(), L("已保存原始录屏与鼠标轨迹 · 调整效果后导出"));
  EXPECT_FALSE(studio->error());
  ASSERT_TRUE(studio->projectURL());
  EXPECT_EQ(*studio->projectURL(), folder + "/edit.json");
  ASSERT_TRUE(std::filesystem::exists(folder + "/edit.json"));
  const Clip saved = decodeClipFile(folder + "/edit.json");
  ASSERT_TRUE(saved.zoomEventsOverride);
  const auto automatic = recordedClip().defaultZoomEvents();
  ASSERT_FALSE(automatic.empty());
  ASSERT_EQ(saved.zoomEventsOverride->size(), automatic.size());
  for (size_t i = 0; i < automatic.size(); ++i) {
    EXPECT_EQ((*saved.zoomEventsOverride)[i].start, automatic[i].start);
    EXPECT_EQ((*saved.zoomEventsOverride)[i].end, automatic[i].end);
  }
  ASSERT_TRUE(saved.savedSettings);
  EXPECT_EQ(saved.savedSettings->padding, 0.05);
  EXPECT_TRUE(studio->settings().showCamera) << "a camera file was recorded";

  // A frame of the finished recorder changes nothing.
  const QImage before = studio->liveScreenImage();
  capture->recordings[0]->frame(picture(99, 99));
  settle();
  EXPECT_EQ(studio->liveScreenImage().size(), before.size());
  studio->stop();
  settle();
  EXPECT_EQ(capture->recordings[0]->stops.load(), 1) << "no recording, no stop";
}

TEST_F(RecordingFixture, WithoutACameraFileTheCameraIsHidden) {
  capture->onRecording = [this](FakeRecording& r) {
    r.result = recordedClip();
    r.result.cameraPath.reset();
  };
  startRecording();
  studio->stop();
  settle();
  EXPECT_FALSE(studio->settings().showCamera);
}

TEST_F(RecordingFixture, AFailedStartStopsTheCameraAndReportsInTheSetup) {
  capture->onRecording = [](FakeRecording& r) { r.startError = "无法创建录屏文件夹"; };
  ready();
  studio->startPreparedRecording();
  settle();
  EXPECT_FALSE(studio->busy());
  EXPECT_FALSE(studio->recording());
  EXPECT_EQ(*studio->setupError(), "无法创建录屏文件夹");
  EXPECT_TRUE(studio->liveScreenImage().isNull());
  EXPECT_TRUE(studio->liveCameraImage().isNull());
  EXPECT_EQ(calls().back(), "camera1.stop");
  EXPECT_FALSE(studio->canStartRecording());
}

TEST_F(RecordingFixture, FailuresWhileRecordingShowAtOnceAndAKeptWarningAfterTheStop) {
  capture->onRecording = [this](FakeRecording& r) {
    r.result = recordedClip();
    r.warningText = "录屏文件部分写入失败";
  };
  startRecording();
  capture->recordings[0]->onFailure("磁盘已满");
  settle();
  EXPECT_EQ(studio->notice(), "磁盘已满");
  studio->stop();
  settle();
  ASSERT_TRUE(studio->error());
  EXPECT_EQ(*studio->error(), "录屏文件部分写入失败");
}

// The kept-recording warning used to replace the alert that the new edit file could not be
// written.
TEST_F(RecordingFixture, AKeptWarningDoesNotHideAnEditFileThatCannotBeWritten) {
  capture->onRecording = [this](FakeRecording& r) {
    r.result = recordedClip();
    r.warningText = "录屏文件部分写入失败";
  };
  std::filesystem::create_directories(folder + "/edit.json");  // a folder in its place
  startRecording();
  studio->stop();
  settle();
  ASSERT_TRUE(studio->error());
  EXPECT_EQ(studio->error()->rfind(L("编辑未能保存："), 0), 0u) << *studio->error();
  EXPECT_TRUE(studio->error()->ends_with("\n录屏文件部分写入失败")) << *studio->error();
}

TEST_F(RecordingFixture, ALostStreamStopsLikeTheUser) {
  startRecording();
  capture->recordings[0]->onEnded();
  capture->recordings[0]->onEnded();
  settle();
  EXPECT_FALSE(studio->recording());
  EXPECT_EQ(capture->recordings[0]->stops.load(), 1);
  EXPECT_EQ(*studio->projectURL(), folder + "/edit.json");
}

TEST_F(RecordingFixture, AFailedLoadLeavesTheRecordersProjectAsWritten) {
  h.unreadable.insert(folder + "/screen.mp4");
  const std::string projectJson = "{\"written\": \"by the recorder\"}";
  std::ofstream(folder + "/project.json") << projectJson;
  startRecording();
  studio->stop();
  settle();
  ASSERT_TRUE(studio->error());
  EXPECT_FALSE(std::filesystem::exists(folder + "/edit.json"));
  EXPECT_EQ(readFile(folder + "/project.json"), projectJson);
  EXPECT_NE(studio->projectURL().value_or(""), folder + "/edit.json");
}

TEST_F(RecordingFixture, ARecordingOverAnOpenProjectLeavesThatProjectAlone) {
  // An open project with its own edit file.
  const std::string old = dir.filePath("old").toStdString();
  std::filesystem::create_directories(old);
  Clip project = recordedClip();
  project.screenPath = old + "/screen.mp4";
  project.cameraPath.reset();
  ASSERT_TRUE(studio->load(project));
  studio->setProjectURL(old + "/edit.json");
  ASSERT_TRUE(studio->saveNow());
  const std::string written = readFile(old + "/edit.json");
  const auto projectSettings = studio->settings();
  stopError = "无法完成录屏文件";

  studio->record();
  studio->prepareRecording();
  settle();
  capture->previews.back()->frame();
  capture->cameras.back()->frame();
  settle();
  studio->startPreparedRecording();
  settle();
  ASSERT_TRUE(studio->recording());
  EXPECT_FALSE(studio->projectURL());
  auto settings = studio->settings();
  settings.background = 3;
  studio->setSettings(settings);

  // A failed stop puts the project back as it was.
  studio->stop();
  settle();
  ASSERT_TRUE(studio->error());
  EXPECT_EQ(*studio->error(), "无法完成录屏文件");
  EXPECT_FALSE(studio->recording());
  EXPECT_EQ(studio->projectURL().value_or(""), old + "/edit.json");
  EXPECT_EQ(studio->settings(), projectSettings);
  studio->saveNow();
  EXPECT_EQ(readFile(old + "/edit.json"), written);
}

TEST_F(RecordingFixture, ASuccessfulStopNeverWritesIntoThePreviousProject) {
  const std::string old = openOldProject();
  ASSERT_TRUE(studio->saveNow());
  const std::string written = readFile(old + "/edit.json");

  studio->record();
  studio->prepareRecording();
  settle();
  capture->previews.back()->frame();
  capture->cameras.back()->frame();
  settle();
  studio->startPreparedRecording();
  settle();
  auto settings = studio->settings();
  settings.background = 2;
  studio->setSettings(settings);
  studio->stop();
  settle();
  EXPECT_EQ(*studio->projectURL(), folder + "/edit.json");
  EXPECT_EQ(readFile(old + "/edit.json"), written);
}

// Starting a recording leaves the project; record() used to walk past a failed save.
TEST_F(RecordingFixture, ANewRecordingIsRefusedWhileTheEditsCannotBeSaved) {
  ASSERT_TRUE(studio->load(recordedClip()));
  const std::string unwritable = dir.filePath("missing/edit.json").toStdString();
  studio->setProjectURL(unwritable);
  studio->seek(5);
  studio->split();
  studio->record();
  ASSERT_TRUE(studio->error());
  EXPECT_EQ(studio->error()->rfind(L("编辑未能保存："), 0), 0u);
  EXPECT_FALSE(studio->showingRecordingSetup());
  EXPECT_EQ(studio->projectURL(), unwritable);
  EXPECT_EQ(studio->clip().ranges().size(), 2u);
  studio->setProjectURL(std::nullopt);
}

// An edit made while the recording setup was shown over a project, followed within the
// autosave's delay by the start, used to be dropped with its pending autosave when the
// start set the project aside.
TEST_F(RecordingFixture, AnEditJustBeforeTheStartIsWrittenAndAFailedWriteRefusesTheStart) {
  auto services = h.services();
  services.capture = capture;
  services.autosaveDelayMs = 60000;  // the start comes first, however slow the machine
  studio = std::make_unique<Studio>(std::move(services));
  const std::string old = openOldProject();
  studio->record();
  ASSERT_TRUE(studio->showingRecordingSetup());
  studio->prepareRecording();
  settle();
  capture->previews.back()->frame();
  capture->cameras.back()->frame();
  settle();
  studio->seek(5);
  studio->split();
  ASSERT_TRUE(StudioTestAccess::savePending(*studio));

  // The write fails: the start is refused with the save alert, the project stays open.
  const std::string unwritable = dir.filePath("missing/edit.json").toStdString();
  studio->setProjectURL(unwritable);
  studio->startPreparedRecording();
  EXPECT_FALSE(studio->busy());
  settle();
  EXPECT_FALSE(studio->recording());
  ASSERT_TRUE(studio->error());
  EXPECT_EQ(studio->error()->rfind(L("编辑未能保存："), 0), 0u);
  EXPECT_EQ(studio->projectURL(), unwritable);
  EXPECT_TRUE(studio->canStartRecording()) << "the previews still run";
  EXPECT_TRUE(capture->recordings.empty());

  studio->setProjectURL(old + "/edit.json");
  studio->setPresenter(true);
  ASSERT_TRUE(StudioTestAccess::savePending(*studio));
  studio->startPreparedRecording();
  settle();
  ASSERT_TRUE(studio->recording());
  const Clip written = decodeClipFile(old + "/edit.json");
  EXPECT_EQ(written.ranges().size(), 2u);
  EXPECT_TRUE(written.presenterEvents == studio->clip().presenterEvents);
  studio->stop();
  settle();
  EXPECT_EQ(*studio->projectURL(), folder + "/edit.json");
}

// The stopped recording's movies are opened on a worker; the stop lasts until the project
// is open and saved, which the quit flow waits for.
TEST_F(RecordingFixture, TheStoppedRecordingOpensAsideAndTheStopEndsWhenItIsOpen) {
  testing::OpenGate gate;
  h.opening = [&gate](const std::string& path) { gate.pass(path); };
  startRecording();
  capture->recordings[0]->frame(picture(20, 20));
  settle();
  gate.hold(folder + "/screen.mp4");
  studio->stop();
  ASSERT_TRUE(testing::runUntil([&] { return gate.holding(); })) << "not opened aside";
  // Still stopping, the last live picture shown: nothing of the old project flashes up.
  EXPECT_TRUE(studio->busy());
  EXPECT_TRUE(studio->recording());
  EXPECT_FALSE(studio->liveScreenImage().isNull());
  EXPECT_FALSE(studio->projectURL());
  EXPECT_NE(studio->clip().title, "Recording");
  gate.release();
  settle();
  EXPECT_FALSE(studio->busy());
  EXPECT_FALSE(studio->recording());
  EXPECT_EQ(studio->clip().title, "Recording");
  EXPECT_EQ(studio->projectURL(), folder + "/edit.json");
  EXPECT_EQ(decodeClipFile(folder + "/edit.json").title, "Recording");
  EXPECT_EQ(studio->notice(), L("已保存原始录屏与鼠标轨迹 · 调整效果后导出"));
}

}  // namespace
}  // namespace vantry
