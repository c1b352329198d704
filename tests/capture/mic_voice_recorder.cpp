// "voice.m4a" recorded for real from the test script's sound server, and a server that dies
// part way.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "capture/mic_media.h"
#include "capture/microphone_recorder.h"
#include "localization/language_scope.h"
#include "localization/localization.h"
#include "platform/pulse_tone.h"
#include "platform/screen_source.h"
#include "platform/studio_error.h"
#include "support/temp_dir.h"

using namespace vantry;

namespace {
struct TempDir : vantry::test::TempDir {
  TempDir() : vantry::test::TempDir("vantry-voice") {}
};
}  // namespace

TEST(MicrophoneRecorder, VoiceFileStartsAtTheRecordInstant) {
  test::PrivateSoundServer server;
  if (!server.ok()) GTEST_SKIP() << "no sound server can be started here";
  TempDir dir;
  const std::string path = (dir.path / "voice.m4a").string();
  test::TonePlayer player;
  MicrophoneRecorder mic;
  mic.prepare(path);
  const double begin = platform::hostTime();
  ASSERT_TRUE(mic.record(begin));
  EXPECT_EQ(mic.startedAt(), begin);
  // An idle null sink takes a second or two to deliver its first sound; the tone comes
  // once the stream has settled.
  std::this_thread::sleep_for(std::chrono::milliseconds(3500));
  const double onset = player.playTone(0.2);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const double end = platform::hostTime();
  EXPECT_FALSE(mic.stop());

  const auto facts = test::probeMedia(path);
  ASSERT_TRUE(facts.audio.present);
  EXPECT_FALSE(facts.video.present);
  EXPECT_EQ(facts.audio.codec, "aac");
  EXPECT_EQ(facts.audio.sampleRate, 48000);
  EXPECT_EQ(facts.audio.channels, 1);
  EXPECT_NEAR(facts.audio.start + facts.audio.duration, end - begin, 0.3);

  const auto sound = test::decodeSound(path);
  const long index = test::firstLoudSample(sound.samples);
  ASSERT_GE(index, 0) << "the tone is not in the file";
  const double heard = begin + sound.start + double(index) / sound.sampleRate;
  EXPECT_NEAR(heard, onset, 0.060) << "off by " << (heard - onset) * 1000 << " ms";
}

TEST(MicrophoneRecorder, NoSoundServerMeansNoMicrophoneAndNoFile) {
  TempDir dir;
  const std::string path = (dir.path / "voice.m4a").string();
  const test::ScopedEnv noServer("PULSE_SERVER", "unix:/nonexistent/vantry-no-server");
  std::string message;
  {
    MicrophoneRecorder mic;
    try {
      mic.prepare(path);
    } catch (const StudioError& e) {
      message = e.what();
    }
  }
  EXPECT_EQ(message, L("没有找到麦克风。"));
  EXPECT_FALSE(std::filesystem::exists(path));
}

// The sound server is killed part way: the warning is ours, in the interface language, and
// the server's own words follow on a line of their own.
TEST(MicrophoneRecorder, ASoundServerKilledPartWayIsToldInTheUsersLanguage) {
  for (const AppLanguage language : {AppLanguage::english, AppLanguage::chinese}) {
    LanguageScope scope(language);
    test::PrivateSoundServer server;
    if (!server.ok()) GTEST_SKIP() << "no sound server can be started here";
    TempDir dir;
    MicrophoneRecorder mic;
    mic.prepare((dir.path / "voice.m4a").string());
    const double begin = platform::hostTime();
    ASSERT_TRUE(mic.record(begin));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    server.kill();
    for (int i = 0; i < 500 && !mic.loss(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(mic.loss());
    const std::optional<std::string> warning = mic.stop();
    ASSERT_TRUE(warning);
    const std::size_t line = warning->find('\n');
    ASSERT_NE(line, std::string::npos) << *warning;
    const std::string ours = warning->substr(0, line);
    if (language == AppLanguage::english) {
      EXPECT_EQ(ours.rfind("The microphone was lost during the recording. The sound server "
                           "stopped. Kept ",
                           0),
                0u)
          << ours;
      EXPECT_TRUE(ours.ends_with(
          " of the sound. Check the microphone and the sound server, then record again."))
          << ours;
    } else {
      EXPECT_EQ(ours.rfind("麦克风在录制中断开了。声音服务已停止。已保留", 0), 0u) << ours;
      EXPECT_TRUE(ours.ends_with("的声音。请检查麦克风和声音服务，然后重新录制。")) << ours;
    }
    EXPECT_EQ(warning->substr(line + 1), "Connection terminated");
  }
}
