// The camera as part of a screen recording on the synthetic screen: start order, undo on
// failure, the camera movie, the project's camera and sound fields and the timing keys.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "capture/camera_companion.h"
#include "capture/display_recorder.h"
#include "capture/mic_media.h"
#include "localization/localization.h"
#include "platform/pulse_tone.h"
#include "platform/studio_error.h"
#include "platform/synthetic/synthetic_camera.h"
#include "platform/synthetic/synthetic_screen.h"
#include "synthetic_display_fixture.h"

using namespace vantry;
namespace fs = std::filesystem;
using platform::SyntheticCamera;
using platform::synthetic::SyntheticScreenCapture;

namespace {

void sleepFor(double seconds) {
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

using test::readJson;

struct CameraRecording : test::SyntheticDisplayRecording {
  SyntheticCamera* camera = nullptr;
  int camerasMade = 0;

  std::shared_ptr<CameraRecorder> cameraRecorder(SyntheticCamera::Options o = {}) {
    return std::make_shared<CameraRecorder>([this, o] {
      ++camerasMade;
      auto c = std::make_unique<SyntheticCamera>(o);
      camera = c.get();
      return c;
    });
  }
};

}  // namespace

TEST_F(CameraRecording, CameraAndMicrophoneShareTheCameraMovie) {
  test::PrivateSoundServer server;
  if (!server.ok()) GTEST_SKIP() << "no sound server can be started here";
  auto prepared = cameraRecorder();
  prepared->preparePreview();  // the setup's live preview
  DisplayRecorder recorder(env());
  recorder.start(7, std::nullopt, makeRecordingCompanions(true, true, prepared));
  sleepFor(2.0);
  const Clip clip = recorder.stop();
  EXPECT_EQ(camerasMade, 1) << "the prepared camera is reused";
  EXPECT_FALSE(camera->isRunning()) << "and stopped with the recording";

  const fs::path folder = recorder.folder();
  const std::string moviePath = (folder / "camera.mov").string();
  EXPECT_FALSE(fs::exists(folder / "voice.m4a"));
  const auto facts = test::probeMedia(moviePath);
  ASSERT_TRUE(facts.video.present);
  EXPECT_EQ(facts.video.codec, "h264");
  EXPECT_EQ(facts.video.width, 1280);
  EXPECT_EQ(facts.video.height, 720);
  ASSERT_TRUE(facts.audio.present);
  EXPECT_EQ(facts.audio.codec, "aac");
  EXPECT_EQ(facts.audio.sampleRate, 48000);
  EXPECT_EQ(facts.audio.channels, 1);

  ASSERT_TRUE(clip.cameraPath);
  EXPECT_EQ(*clip.cameraPath, moviePath);
  EXPECT_EQ(clip.audioPath, clip.cameraPath);
  ASSERT_TRUE(clip.cameraOffset);
  EXPECT_EQ(clip.audioOffset, clip.cameraOffset);

  const auto project = readJson(folder / "project.json");
  ASSERT_TRUE(project.is_object());
  EXPECT_EQ(project["cameraPath"], moviePath);
  EXPECT_EQ(project["audioPath"], moviePath);
  const auto timing = readJson(folder / "capture-timing.json");
  ASSERT_TRUE(timing.contains("cameraFirstSampleHostTime"));
  ASSERT_TRUE(timing.contains("cameraNotificationHostTime"));
  EXPECT_FALSE(timing.contains("audioRecordCalledHostTime"));
  EXPECT_FALSE(timing.contains("audioOriginFromCurrentTime"));
  // The offset runs from the camera file's start to the screen's time 0.
  const double startClock = timing["screenFirstPTS"].get<double>();
  EXPECT_NEAR(project["cameraOffset"].get<double>(),
              startClock - timing["cameraFirstSampleHostTime"].get<double>(), 1e-6);
  // The camera was armed before the screen stream started: its file began first.
  EXPECT_GT(*clip.cameraOffset, 0.0);
  EXPECT_LT(*clip.cameraOffset, 2.0);
}

TEST_F(CameraRecording, CameraWithoutMicrophoneHasNoSound) {
  DisplayRecorder recorder(env());
  recorder.start(7, std::nullopt, makeRecordingCompanions(true, false, cameraRecorder()));
  sleepFor(1.0);
  const Clip clip = recorder.stop();
  const fs::path folder = recorder.folder();
  const auto facts = test::probeMedia((folder / "camera.mov").string());
  EXPECT_TRUE(facts.video.present);
  EXPECT_FALSE(facts.audio.present);
  EXPECT_TRUE(clip.cameraPath);
  EXPECT_TRUE(clip.cameraOffset);
  EXPECT_FALSE(clip.audioPath);
  EXPECT_FALSE(clip.audioOffset);
  EXPECT_FALSE(fs::exists(folder / "voice.m4a"));
  // The camera movie lasts about as long as the screen recording.
  EXPECT_NEAR(facts.video.duration, clip.duration, 0.5);
}

TEST_F(CameraRecording, NoCameraFailsWithItsMessageAndWritesNoProject) {
  SyntheticCamera::Options o;
  o.failOpen = true;
  o.openFailure = platform::CameraFailure::NoDevice;
  DisplayRecorder recorder(env());
  std::string message;
  try {
    recorder.start(7, std::nullopt, makeRecordingCompanions(true, true, cameraRecorder(o)));
  } catch (const StudioError& e) {
    message = e.what();
  }
  EXPECT_EQ(message, L("没有找到摄像头。可关闭摄像头后继续录屏。"));
  EXPECT_EQ(screen->runningStreams(), 0) << "the screen stream never started";
  for (const auto& folder : folders()) {
    EXPECT_FALSE(fs::exists(folder / "project.json"));
    EXPECT_FALSE(fs::exists(folder / "capture-timing.json"));
  }
}

TEST_F(CameraRecording, MachineWithoutACameraDeviceSaysSo) {
  if (fs::exists("/dev/video0")) GTEST_SKIP() << "this machine has a camera";
  unsetenv("VANTRY_SYNTHETIC_CAMERA");
  DisplayRecorder recorder(env());
  std::string message;
  try {
    recorder.start(7, std::nullopt, makeRecordingCompanions(true, false));
  } catch (const StudioError& e) {
    message = e.what();
  }
  EXPECT_EQ(message, "No camera found. You can turn off the camera and continue recording.");
  for (const auto& folder : folders())
    EXPECT_FALSE(fs::exists(folder / "project.json"));
}

TEST_F(CameraRecording, PreparedCameraIsLeftAloneWhenTheCameraIsOff) {
  auto prepared = cameraRecorder();
  prepared->preparePreview();
  DisplayRecorder recorder(env());
  recorder.start(7, std::nullopt, makeRecordingCompanions(false, false, prepared));
  sleepFor(0.3);
  const Clip clip = recorder.stop();
  EXPECT_TRUE(camera->isRunning()) << "neither started nor stopped";
  EXPECT_FALSE(prepared->startedAt());
  EXPECT_FALSE(clip.cameraPath);
  EXPECT_FALSE(clip.audioPath);
  EXPECT_FALSE(fs::exists(fs::path(recorder.folder()) / "camera.mov"));
  const auto timing = readJson(fs::path(recorder.folder()) / "capture-timing.json");
  EXPECT_EQ(timing.size(), 2u) << timing.dump();
  prepared->stopPreview();
}

TEST_F(CameraRecording, AScreenFailureAfterTheCameraStartedStopsTheCameraAgain) {
  screen->setStreamFault(SyntheticScreenCapture::StreamFault::failToStart);
  auto prepared = cameraRecorder();
  DisplayRecorder recorder(env());
  EXPECT_ANY_THROW(recorder.start(7, std::nullopt, makeRecordingCompanions(true, false, prepared)));
  ASSERT_NE(camera, nullptr);
  EXPECT_FALSE(camera->isRunning());
  // Nothing was recorded: the folder of the start that failed is gone with the camera's
  // first frames.
  EXPECT_TRUE(folders().empty());
}

TEST_F(CameraRecording, AnUnreadableCameraMovieKeepsTheScreenRecordingAndWarns) {
  DisplayRecorder recorder(env());
  recorder.start(7, std::nullopt, makeRecordingCompanions(true, false, cameraRecorder()));
  sleepFor(1.0);
  // The camera file is wiped under the writer (a failing disk, another program): once its
  // head has reached the disk, which a busy machine's encoder may take longer than a second
  // to bring about (until then the wipe would find nothing to destroy).
  const fs::path moviePath = fs::path(recorder.folder()) / "camera.mov";
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (fs::file_size(moviePath) == 0 && std::chrono::steady_clock::now() < giveUp)
    sleepFor(0.01);
  ASSERT_GT(fs::file_size(moviePath), 0u);
  fs::resize_file(moviePath, 0);
  sleepFor(0.5);
  Clip clip;
  ASSERT_NO_THROW(clip = recorder.stop());
  EXPECT_FALSE(recorder.warning().empty());
  EXPECT_FALSE(clip.cameraPath) << "a camera movie that cannot be read is left out";
  EXPECT_FALSE(clip.cameraOffset);
  EXPECT_GT(clip.duration, 1.0);
  EXPECT_FALSE(clip.samples.empty()) << "the pointer samples are kept";
  EXPECT_TRUE(fs::exists(fs::path(recorder.folder()) / "project.json"));
  EXPECT_TRUE(fs::exists(moviePath)) << "nothing is deleted";
}
