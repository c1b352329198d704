// The voice companion and recorder with a source the test drives: an idle source gives no
// timing origin until sound comes, and a voice file that cannot be made says so in the
// user's language.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "capture/camera_companion.h"
#include "capture/microphone_recorder.h"
#include "capture/recording_messages.h"
#include "localization/language_scope.h"
#include "platform/audio_source.h"
#include "platform/screen_source.h"
#include "platform/studio_error.h"
#include "support/temp_dir.h"

using namespace vantry;

namespace {

// Sends nothing until the test calls send().
struct DrivenSource : platform::AudioSource {
  ChunkHandler chunks;
  ErrorHandler errors;
  void start(ChunkHandler c, ErrorHandler e) override {
    chunks = std::move(c);
    errors = std::move(e);
  }
  void stop() override { chunks = nullptr; }
  int sampleRate() const override { return 48000; }
  // `seconds` of silence from the stream's start, whose first sample was captured at the
  // host-clock instant `origin`.
  void send(double origin, double seconds) {
    std::vector<float> zeros(480, 0.0f);
    for (uint64_t i = 0; i < uint64_t(seconds * 48000); i += 480) {
      platform::AudioChunk c;
      c.samples = zeros.data();
      c.count = zeros.size();
      c.firstIndex = i;
      c.firstSampleTime = origin + double(i) / 48000;
      c.arrivalTime = c.firstSampleTime + 0.012;
      chunks(c);
    }
  }
};

// A voice file begun on a driven source.
struct BegunVoice : ::testing::Test {
  test::TempDir dir{"vantry-voice"};
  DrivenSource* source = nullptr;
  VoiceCompanion voice{[this] {
    auto s = std::make_unique<DrivenSource>();
    source = s.get();
    return s;
  }};
  double begun = 0;

  void SetUp() override {
    voice.prepare(dir.path.string());
    voice.begin();
    begun = *voice.audioStartedAt();
  }
};

TEST_F(BegunVoice, AnIdleSourceGivesNoOriginUntilSoundComes) {
  CaptureTimings timings;
  voice.tick(begun + 1.2, timings);  // more than a second, but nothing heard yet
  EXPECT_FALSE(timings.count("audioOriginFromCurrentTime"));
  EXPECT_FALSE(timings.count("audioCurrentTime"));

  // Two seconds of sound from a stream that started half a second before the file.
  source->send(begun - 0.5, 2);
  voice.tick(begun + 1.6, timings);
  ASSERT_TRUE(timings.count("audioOriginFromCurrentTime"));
  EXPECT_NEAR(timings.at("audioCurrentTime"), 1.5, 1e-3);
  // The file's time 0 is the instant it was begun, not the tick.
  EXPECT_NEAR(timings.at("audioOriginFromCurrentTime"), begun + 0.1, 1e-3);
  EXPECT_FALSE(voice.stop(begun));
}

TEST(MicrophoneRecorder, AVoiceFileThatCannotBeMadeSaysSoInTheUsersLanguage) {
  MicrophoneRecorder mic([] { return std::make_unique<DrivenSource>(); });
  try {
    mic.prepare("/nonexistent-vantry-folder/voice.m4a");
    FAIL() << "prepare() should fail";
  } catch (const StudioError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Could not write the voice recording /nonexistent-vantry-folder/voice.m4a. It is "
              "missing. Check the disk and the recordings folder, then record again.");
  }
}

// The sound server goes away ten seconds in: the microphone had connected, so the warning
// says that it was lost, why, and how much of the sound the file keeps.
TEST_F(BegunVoice, AMicrophoneLostPartWaySaysWhenAndWhy) {
  source->send(begun - 0.5, 11);
  source->errors(platform::AudioError(platform::AudioFailure::ServerLost, "Connection terminated"));
  // The screen's first frame came a quarter second after the voice file began.
  const auto warning = voice.stop(begun + 0.25);
  ASSERT_TRUE(warning);
  EXPECT_EQ(*warning,
            "The microphone was lost during the recording. The sound server stopped. Kept "
            "00:10 of the sound. Check the microphone and the sound server, then record "
            "again.\nConnection terminated");
  EXPECT_FALSE(voice.finish());
  {
    LanguageScope chinese(AppLanguage::chinese);
    EXPECT_EQ(lostInputMessage(LostInput::microphoneDevice, 10.3, ""),
              "麦克风在录制中断开了。设备已断开或被拔出。已保留 00:10 的声音。请检查麦克风和声音"
              "服务，然后重新录制。");
  }
}

}  // namespace
