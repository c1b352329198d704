// The camera movie with the microphone's track, recorded for real from the test script's
// sound server (a null sink whose monitor is the default source).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "capture/camera_recorder.h"
#include "capture/mic_media.h"
#include "platform/pulse_tone.h"
#include "platform/screen_source.h"
#include "platform/synthetic/synthetic_camera.h"

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
