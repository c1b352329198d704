// The microphone alone beside a screen recording, recorded for real from the test
// script's sound server: "voice.m4a", the offsets in "project.json", the timing keys, and
// a tone played at a known instant found where it belongs.
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
#include "platform/synthetic/synthetic_screen.h"
#include "synthetic_display_fixture.h"

using namespace vantry;
namespace fs = std::filesystem;
using platform::synthetic::SyntheticScreenCapture;

namespace {

using test::readJson;

struct VoiceRecording : test::SyntheticDisplayRecording {};

}  // namespace

TEST_F(VoiceRecording, VoiceFileOffsetsAndAToneInItsPlace) {
  test::PrivateSoundServer server;
  if (!server.ok()) GTEST_SKIP() << "no sound server can be started here";
  test::TonePlayer player;
  DisplayRecorder recorder(env());
  recorder.start(7, std::nullopt, makeRecordingCompanions(false, true));
  // An idle null sink takes a second or two to deliver its first sound.
  std::this_thread::sleep_for(std::chrono::milliseconds(3500));
  const double onset = player.playTone(0.2);
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  const Clip clip = recorder.stop();
  EXPECT_TRUE(recorder.warning().empty()) << recorder.warning();

  const fs::path folder = recorder.folder();
  const std::string voicePath = (folder / "voice.m4a").string();
  EXPECT_FALSE(fs::exists(folder / "camera.mov"));
  const auto facts = test::probeMedia(voicePath);
  ASSERT_TRUE(facts.audio.present);
  EXPECT_FALSE(facts.video.present);
  EXPECT_EQ(facts.audio.codec, "aac");
  EXPECT_EQ(facts.audio.sampleRate, 48000);
  EXPECT_EQ(facts.audio.channels, 1);
  EXPECT_NEAR(facts.audio.start + facts.audio.duration, clip.duration, 0.3);

  // The document: the voice file and its offset; no camera.
  const auto project = readJson(folder / "project.json");
  ASSERT_TRUE(project.is_object());
  EXPECT_EQ(project["audioPath"], voicePath);
  EXPECT_TRUE(!project.contains("cameraPath") || project["cameraPath"].is_null());
  EXPECT_TRUE(!project.contains("cameraOffset") || project["cameraOffset"].is_null());
  ASSERT_TRUE(project["audioOffset"].is_number());

  const auto timing = readJson(folder / "capture-timing.json");
  ASSERT_TRUE(timing.contains("audioRecordCalledHostTime"));
  ASSERT_TRUE(timing.contains("audioOriginFromCurrentTime"));
  ASSERT_TRUE(timing.contains("audioCurrentTime"));
  EXPECT_FALSE(timing.contains("cameraFirstSampleHostTime"));
  const double startClock = timing["screenFirstPTS"].get<double>();
  const double audioStartedAt = timing["audioRecordCalledHostTime"].get<double>();
  const double audioOffset = project["audioOffset"].get<double>();
  EXPECT_NEAR(audioOffset, startClock - audioStartedAt, 1e-6);
  EXPECT_LT(std::abs(audioOffset), 1.0);
  // One second in, the file's position is at most the time since its start (less while
  // the first sound is on its way), so the instant it names is not before the start.
  const double origin = timing["audioOriginFromCurrentTime"].get<double>();
  EXPECT_GE(origin, audioStartedAt - 0.01);
  EXPECT_LE(origin, audioStartedAt + 1.2);
  // The position is read at the first tick after a second that finds sound in the file,
  // which a slow sound server may deliver late: it only has to be there.
  EXPECT_GT(timing["audioCurrentTime"].get<double>(), 0.0);

  // The tone, played at a known host-clock instant, sits at that instant in the file:
  // file time t is screen time t - audioOffset.
  const auto sound = test::decodeSound(voicePath);
  const long index = test::firstLoudSample(sound.samples);
  ASSERT_GE(index, 0) << "the tone is not in the file";
  const double screenTime = sound.start + double(index) / sound.sampleRate - audioOffset;
  EXPECT_NEAR(startClock + screenTime, onset, 0.060)
      << "off by " << (startClock + screenTime - onset) * 1000 << " ms";
}

TEST_F(VoiceRecording, NoSoundServerStopsTheStartAndWritesNoProject) {
  const test::ScopedEnv noServer("PULSE_SERVER", "unix:/nonexistent/vantry-no-server");
  DisplayRecorder recorder(env());
  std::string message;
  try {
    recorder.start(7, std::nullopt, makeRecordingCompanions(false, true));
  } catch (const StudioError& e) {
    message = e.what();
  }
  EXPECT_EQ(message, L("没有找到麦克风。"));
  EXPECT_EQ(screen->runningStreams(), 0);
  if (fs::exists(root / "Recordings")) {
    for (const auto& e : fs::directory_iterator(root / "Recordings")) {
      EXPECT_FALSE(fs::exists(e.path() / "project.json"));
      EXPECT_FALSE(fs::exists(e.path() / "voice.m4a"));
    }
  }
}
