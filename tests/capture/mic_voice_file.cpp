// A sound written to "voice.m4a" decodes at the time it was written: the AAC encoder's
// start-up samples are signalled in the finished file, not played as a delay.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "capture/mic_media.h"
#include "platform/ffmpeg/movie_writer.h"
#include "platform/pulse_tone.h"

using namespace vantry;

TEST(VoiceFile, ASoundDecodesAtTheTimeItWasWritten) {
  char pattern[] = "/tmp/vantry-voice-file-XXXXXX";
  const std::filesystem::path dir = mkdtemp(pattern);
  for (const bool crashSafe : {true, false}) {
    const std::string path = (dir / (crashSafe ? "safe.m4a" : "plain.m4a")).string();
    MovieWriterSettings settings;
    settings.path = path;
    settings.container = "ipod";
    settings.audio = AudioTrackSettings{};
    settings.crashSafe = crashSafe;
    MovieWriter writer(settings);
    ASSERT_TRUE(writer.start()) << writer.error();
    // Silence, then a loud block from 0.100 s on, then silence: one second in all.
    std::vector<float> pcm(48000, 0.0f);
    for (int i = 4800; i < 9600; ++i)
      pcm[i] = (i % 2) ? 0.8f : -0.8f;
    for (int at = 0; at < 48000; at += 480) {
      ASSERT_TRUE(writer.appendAudio(pcm.data() + at, 480, at / 48000.0));
    }
    ASSERT_TRUE(writer.finish()) << writer.error();

    const auto sound = test::decodeSound(path);
    const long index = test::firstLoudSample(sound.samples, 0.3f);
    ASSERT_GE(index, 0);
    const double at = sound.start + double(index) / sound.sampleRate;
    EXPECT_NEAR(at, 0.100, 0.002) << (crashSafe ? "fragmented, then rewritten" : "plain file");
  }
  std::filesystem::remove_all(dir);
}
