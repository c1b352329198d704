// The voice companion and recorder with a source the test drives: an idle source gives no
// timing origin until sound comes, and a voice file that cannot be made says so in the
// user's language.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "capture/camera_companion.h"
#include "capture/microphone_recorder.h"
#include "platform/audio_source.h"
#include "platform/screen_source.h"
#include "platform/studio_error.h"
#include "support/temp_dir.h"

using namespace vantry;

namespace {

// Sends nothing until the test calls send().
struct DrivenSource : platform::AudioSource {
  ChunkHandler chunks;
  void start(ChunkHandler c, ErrorHandler) override { chunks = std::move(c); }
  void stop() override { chunks = nullptr; }
  int sampleRate() const override { return 48000; }
};

TEST(VoiceCompanion, AnIdleSourceGivesNoOriginUntilSoundComes) {
  test::TempDir dir("vantry-voice");
  DrivenSource* source = nullptr;
  VoiceCompanion voice([&] {
    auto s = std::make_unique<DrivenSource>();
    source = s.get();
    return s;
  });
  voice.prepare(dir.path.string());
  voice.begin();
  const double begun = *voice.audioStartedAt();
  CaptureTimings timings;
  voice.tick(begun + 1.2, timings);  // more than a second, but nothing heard yet
  EXPECT_FALSE(timings.count("audioOriginFromCurrentTime"));
  EXPECT_FALSE(timings.count("audioCurrentTime"));

  // Two seconds of sound from a stream that started half a second before the file.
  std::vector<float> zeros(480, 0.0f);
  const double origin = begun - 0.5;
  for (uint64_t i = 0; i < 96000; i += 480) {
    platform::AudioChunk c;
    c.samples = zeros.data();
    c.count = zeros.size();
    c.firstIndex = i;
    c.firstSampleTime = origin + double(i) / 48000;
    c.arrivalTime = c.firstSampleTime + 0.012;
    source->chunks(c);
  }
  voice.tick(begun + 1.6, timings);
  ASSERT_TRUE(timings.count("audioOriginFromCurrentTime"));
  EXPECT_NEAR(timings.at("audioCurrentTime"), 1.5, 1e-3);
  // The file's time 0 is the instant it was begun, not the tick.
  EXPECT_NEAR(timings.at("audioOriginFromCurrentTime"), begun + 0.1, 1e-3);
  voice.stop();
}

TEST(MicrophoneRecorder, AVoiceFileThatCannotBeMadeSaysSoInTheUsersLanguage) {
  MicrophoneRecorder mic([] { return std::make_unique<DrivenSource>(); });
  try {
    mic.prepare("/nonexistent-vantry-folder/voice.m4a");
    FAIL() << "prepare() should fail";
  } catch (const StudioError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Could not write the voice file. (", 0), 0u) << e.what();
  }
}

}  // namespace
