// The camera recorder on the synthetic camera: preview, armed start, the camera movie and
// the failures a real device shows (missing, busy, silent, unplugged).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>

#include "capture/camera_recorder.h"
#include "capture/mic_media.h"
#include "localization/localization.h"
#include "platform/screen_source.h"
#include "platform/studio_error.h"
#include "platform/synthetic/synthetic_camera.h"
#include "support/temp_dir.h"

using namespace vantry;
using platform::SyntheticCamera;

namespace {

struct TempDir : vantry::test::TempDir {
  TempDir() : vantry::test::TempDir("vantry-camera") {}
  std::string file(const char* name) const { return (path / name).string(); }
};

// A recorder on a synthetic camera; `made` counts how often a device was made.
struct Rig {
  SyntheticCamera::Options options;
  SyntheticCamera* camera = nullptr;
  int made = 0;
  std::unique_ptr<CameraRecorder> recorder;

  explicit Rig(SyntheticCamera::Options o = {}) : options(o) {
    recorder = std::make_unique<CameraRecorder>([this] {
      ++made;
      auto c = std::make_unique<SyntheticCamera>(options);
      camera = c.get();
      return c;
    });
  }
};

std::string messageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const StudioError& e) {
    return e.what();
  }
  return "";
}

void sleepFor(double seconds) {
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

// Waits until `condition` holds, at most `seconds`: test machines may be busy.
template <typename F>
bool waitFor(F condition, double seconds = 5) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    sleepFor(0.01);
  }
  return true;
}

}  // namespace

TEST(CameraRecorder, RecordsFromTheArmingFrameIntoCameraMov) {
  TempDir dir;
  Rig rig;
  std::atomic<int> previewFrames{0};
  std::atomic<int> wrongSize{0};
  rig.recorder->setOnFrame([&](const QImage& image) {
    if (image.width() != 1280 || image.height() != 720) ++wrongSize;
    ++previewFrames;
  });
  rig.recorder->preparePreview();
  EXPECT_TRUE(waitFor([&] { return previewFrames.load() > 2; }));
  EXPECT_FALSE(rig.recorder->startedAt());

  const double before = platform::hostTime();
  rig.recorder->start(dir.file("camera.mov"), false);
  const double after = platform::hostTime();
  ASSERT_TRUE(rig.recorder->startedAt());
  // The first frame after arming starts the file: its capture instant lies within start().
  EXPECT_GE(*rig.recorder->startedAt(), before);
  EXPECT_LE(*rig.recorder->startedAt(), after);
  EXPECT_EQ(rig.recorder->firstSampleHostTime(), rig.recorder->startedAt());
  ASSERT_TRUE(rig.recorder->startNotificationHostTime());
  EXPECT_GE(*rig.recorder->startNotificationHostTime(), *rig.recorder->startedAt());

  const int beforeRecording = previewFrames.load();
  sleepFor(1.0);
  EXPECT_TRUE(waitFor([&] { return previewFrames.load() > beforeRecording + 10; }))
      << "the preview keeps flowing";
  const double recorded = platform::hostTime() - *rig.recorder->startedAt();
  rig.recorder->stop();
  EXPECT_FALSE(rig.camera->isRunning());
  EXPECT_EQ(wrongSize.load(), 0);

  const auto facts = test::probeMedia(dir.file("camera.mov"));
  ASSERT_TRUE(facts.opened);
  EXPECT_TRUE(facts.container.find("mov") != std::string::npos);
  ASSERT_TRUE(facts.video.present);
  EXPECT_EQ(facts.video.codec, "h264");
  EXPECT_EQ(facts.video.width, 1280);
  EXPECT_EQ(facts.video.height, 720);
  EXPECT_FALSE(facts.audio.present) << "no microphone asked for";
  EXPECT_NEAR(facts.video.start, 0.0, 1e-3);
  EXPECT_GT(facts.video.duration, 0.8);
  EXPECT_LT(facts.video.duration, recorded + 0.1);
  EXPECT_GE(facts.video.packets, 10);  // 30 a second when the machine is not busy
}

TEST(CameraRecorder, StartPreparesThePreviewWhenItDoesNotRun) {
  TempDir dir;
  Rig rig;
  rig.recorder->start(dir.file("camera.mov"), false);
  EXPECT_EQ(rig.made, 1);
  EXPECT_TRUE(rig.camera->isRunning());
  sleepFor(0.3);
  rig.recorder->stop();
  EXPECT_TRUE(test::probeMedia(dir.file("camera.mov")).video.present);
}

TEST(CameraRecorder, DeviceFailuresGiveTheirMessages) {
  struct Case {
    platform::CameraFailure failure;
    const char* key;
  } cases[] = {
      {platform::CameraFailure::NoDevice, "没有找到摄像头。可关闭摄像头后继续录屏。"},
      {platform::CameraFailure::AccessDenied,
       "摄像头权限未开启。请在系统设置 → 隐私与安全性 → 摄像头中允许 Vantry。"},
      {platform::CameraFailure::Busy, "摄像头未能启动，请检查设备是否被其他应用占用。"},
  };
  for (const auto& c : cases) {
    SyntheticCamera::Options o;
    o.failOpen = true;
    o.openFailure = c.failure;
    Rig rig(o);
    EXPECT_EQ(messageOf([&] { rig.recorder->preparePreview(); }), L(c.key));
  }
  // English unless Chinese is chosen.
  SyntheticCamera::Options o;
  o.failOpen = true;
  Rig rig(o);
  EXPECT_EQ(messageOf([&] { rig.recorder->preparePreview(); }),
            "No camera found. You can turn off the camera and continue recording.");
}

TEST(CameraRecorder, SecondPrepareAfterAFailurePartWayReusesTheDevice) {
  SyntheticCamera::Options o;
  o.failingStarts = 1;  // opened, then refused to stream: a camera held elsewhere
  Rig rig(o);
  EXPECT_EQ(messageOf([&] { rig.recorder->preparePreview(); }),
            L("摄像头未能启动，请检查设备是否被其他应用占用。"));
  EXPECT_EQ(messageOf([&] { rig.recorder->preparePreview(); }), "");
  EXPECT_EQ(rig.made, 1);
  EXPECT_EQ(rig.camera->openCount(), 1);
  EXPECT_TRUE(rig.camera->isRunning());
  // And once more while it runs: nothing is added or restarted.
  rig.recorder->preparePreview();
  EXPECT_EQ(rig.camera->openCount(), 1);
}

TEST(CameraRecorder, SilentCameraTimesOutOnceAndALateFrameStartsNothing) {
  TempDir dir;
  SyntheticCamera::Options o;
  // The first frame comes long after the timeout, even when opening the file is slow on a
  // busy machine.
  o.firstFrameDelay = 2.5;
  Rig rig(o);
  rig.recorder->setStartTimeout(0.4);
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(messageOf([&] { rig.recorder->start(dir.file("camera.mov"), false); }),
            L("等待摄像头首帧超时，请重新录制。"));
  // Given up before the first frame came: one timeout, not a wait for the frame.
  EXPECT_EQ(rig.camera->framesDelivered(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
  EXPECT_TRUE(waitFor([&] { return rig.camera->framesDelivered() > 2; }));  // frames now come
  EXPECT_FALSE(rig.recorder->startedAt());
  EXPECT_EQ(messageOf([&] { rig.recorder->stop(); }), "");
  EXPECT_FALSE(rig.camera->isRunning());
}

TEST(CameraRecorder, UnpluggedCameraKeepsWhatWasRecordedAndWarns) {
  TempDir dir;
  Rig rig;
  rig.recorder->start(dir.file("camera.mov"), false);
  rig.camera->vanishAfter(20);
  ASSERT_TRUE(waitFor([&] { return !rig.recorder->losses().empty(); }));
  EXPECT_EQ(messageOf([&] { rig.recorder->stop(); }), "");
  const auto losses = rig.recorder->losses();
  ASSERT_EQ(losses.size(), 1u);
  EXPECT_EQ(losses[0].what, LostInput::cameraDevice);
  // Kept up to its last picture, which came after the start.
  EXPECT_GE(losses[0].keptUntil, *rig.recorder->startedAt());
  EXPECT_LE(losses[0].keptUntil, platform::hostTime());
  const auto facts = test::probeMedia(dir.file("camera.mov"));
  ASSERT_TRUE(facts.video.present);
  // What came before the camera left is kept; a loaded machine's encoder may have dropped
  // most of the pictures, so only their presence is certain.
  EXPECT_GE(facts.video.packets, 1);
  EXPECT_LE(facts.video.packets, 30);
}

// A new 3.6 MB buffer for every frame left hundreds of megabytes with the allocator after
// each recording. Frame buffers are reused: however slowly the preview lets go of its
// pictures, the camera holds at most kBuffers of them, and never writes into one still held.
TEST(CameraRecorder, FrameBuffersAreReusedAndNeverOverwrittenWhileHeld) {
  SyntheticCamera::Options o;
  o.framesPerSecond = 120;
  Rig rig(o);
  using Clock = std::chrono::steady_clock;
  struct Held {
    QImage image;
    QImage copy;  // made when it came
    Clock::time_point until;
  };
  std::mutex mutex;
  std::deque<Held> held;
  std::set<const uchar*> buffers;
  int overwritten = 0;
  int frames = 0;
  rig.recorder->setOnFrame([&](const QImage& image) {
    std::lock_guard lock(mutex);
    ++frames;
    buffers.insert(image.constBits());
    // The preview keeps every picture for half a second: dozens at a time.
    held.push_back({image, image.copy(0, 0, 64, 8), Clock::now() + std::chrono::milliseconds(500)});
  });
  rig.recorder->preparePreview();
  ASSERT_TRUE(waitFor(
      [&] {
        std::lock_guard lock(mutex);
        while (!held.empty() && held.front().until <= Clock::now()) {
          if (held.front().image.copy(0, 0, 64, 8) != held.front().copy) ++overwritten;
          held.pop_front();
        }
        return frames >= 60;
      },
      20));
  rig.recorder->stopPreview();
  std::lock_guard lock(mutex);
  EXPECT_LE(buffers.size(), CameraRecorder::kBuffers);
  EXPECT_EQ(overwritten, 0);
  held.clear();
}

TEST(CameraRecorder, StoppingWithoutARecordingOnlyStopsTheCamera) {
  Rig rig;
  rig.recorder->stopPreview();  // nothing runs yet: harmless
  rig.recorder->preparePreview();
  EXPECT_EQ(messageOf([&] { rig.recorder->stop(); }), "");
  EXPECT_FALSE(rig.camera->isRunning());
  rig.recorder->stopPreview();
  EXPECT_FALSE(rig.recorder->startedAt());
}

TEST(CameraRecorder, UnwritableFileFailsTheStartAndReleasesNothingTwice) {
  Rig rig;
  const std::string message =
      messageOf([&] { rig.recorder->start("/nonexistent-folder/camera.mov", false); });
  EXPECT_EQ(message,
            "Could not write the camera recording /nonexistent-folder/camera.mov. It is missing. "
            "Check the disk and the recordings folder, then record again.");
  EXPECT_FALSE(rig.recorder->startedAt());
  rig.recorder->stop();
}
