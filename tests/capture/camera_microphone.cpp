// The camera movie with the microphone's track, recorded for real from the test script's
// sound server (a null sink whose monitor is the default source), and what its warning says
// when a full disk stops it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "capture/camera_companion.h"
#include "capture/camera_recorder.h"
#include "capture/mic_media.h"
#include "platform/pulse_tone.h"
#include "platform/screen_source.h"
#include "platform/synthetic/synthetic_camera.h"
#include "recorder_support.h"
#include "support/small_disk.h"

using namespace vantry;

TEST(CameraRecorderWithMicrophone, SoundTrackLinesUpWithThePicture) {
  test::PrivateSoundServer server;
  if (!server.ok()) GTEST_SKIP() << "no sound server can be started here";
  char pattern[] = "/tmp/vantry-camera-mic-XXXXXX";
  const std::filesystem::path dir = mkdtemp(pattern);
  const std::string path = (dir / "camera.mov").string();

  test::TonePlayer player;
  CameraRecorder recorder([] { return std::make_unique<platform::SyntheticCamera>(); });
  recorder.start(path, true);
  ASSERT_TRUE(recorder.startedAt());
  EXPECT_TRUE(recorder.recordsMicrophone());
  // An idle null sink takes a second or two to deliver its first sound; the tone comes
  // once the stream has settled.
  std::this_thread::sleep_for(std::chrono::milliseconds(3500));
  const double onset = player.playTone(0.2);
  std::this_thread::sleep_for(std::chrono::milliseconds(800));
  recorder.stop();

  const auto facts = test::probeMedia(path);
  ASSERT_TRUE(facts.video.present);
  EXPECT_EQ(facts.video.codec, "h264");
  EXPECT_EQ(facts.video.width, 1280);
  ASSERT_TRUE(facts.audio.present);
  EXPECT_EQ(facts.audio.codec, "aac");
  EXPECT_EQ(facts.audio.sampleRate, 48000);
  EXPECT_EQ(facts.audio.channels, 1);
  EXPECT_NEAR(facts.audio.start + facts.audio.duration, facts.video.duration, 0.3);

  // Both tracks share the camera's time 0 (startedAt): the tone must sit where it was
  // played.
  const auto sound = test::decodeSound(path);
  ASSERT_EQ(sound.sampleRate, 48000);
  const long index = test::firstLoudSample(sound.samples);
  ASSERT_GE(index, 0) << "the tone is not in the file";
  const double heard = *recorder.startedAt() + sound.start + double(index) / sound.sampleRate;
  EXPECT_NEAR(heard, onset, 0.060) << "off by " << (heard - onset) * 1000 << " ms";
  std::filesystem::remove_all(dir);
}

// The camera movie, which also holds the microphone's sound, meets a full disk: the warning
// says what is kept of both, and "nothing" where nothing is.
TEST(CameraRecorderWithMicrophone, AMovieThatCannotBeWrittenSaysWhatOfThePictureAndTheSoundIsKept) {
  test::PrivateSoundServer server;
  if (!server.ok()) GTEST_SKIP() << "no sound server can be started here";
  test::TonePlayer player;  // the sound flows from the first moment
  for (const std::size_t room : {std::size_t(48) << 10, std::size_t(400) << 10}) {
    SCOPED_TRACE(std::to_string(room) + " bytes of room");
    test::RecorderTempDir dir;
    test::SmallDisk disk(dir.path / "small", room);
    if (!disk.mounted()) GTEST_SKIP() << "needs a real file system to fill";
    auto camera = std::make_shared<CameraRecorder>(
        [] { return std::make_unique<platform::SyntheticCamera>(); });
    CameraCompanion companion(camera, true);
    companion.prepare((dir.path / "small").string());
    // Until the disk is full (a slow machine encodes late), and the recorder has met it.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::error_code ec;
    while (std::filesystem::space(dir.path / "small", ec).available >= (16 << 10) &&
           std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_FALSE(companion.stop(camera->startedAt()));
    const std::optional<std::string> warning = companion.finish();
    ASSERT_TRUE(warning);
    const std::string file = "Could not write the camera recording " +
                             (dir.path / "small" / "camera.mov").string() + ". The disk is full. ";
    if (room < (100 << 10)) {
      EXPECT_EQ(*warning, file + "Kept nothing of the camera picture or the sound.");
    } else {
      EXPECT_EQ(warning->rfind(file + "Kept 00:0", 0), 0u) << *warning;
      EXPECT_NE(warning->find(" the sound."), std::string::npos) << *warning;
      EXPECT_EQ(warning->find("nothing"), std::string::npos) << *warning;
    }
  }
}
