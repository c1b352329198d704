#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "movie_fixtures.h"
#include "platform/ffmpeg/audio_source.h"
#include "platform/ffmpeg/ff_util.h"

namespace vantry {
namespace {

using testing::TempDir;

constexpr int kRate = 48000;

// Copies a sound file into matroska (milliseconds), moving every packet from `from` seconds
// on `shift` milliseconds later, as a damaged file with a hole in its timestamps.
void copyWithJump(const std::string& source, const std::string& dest, double from, int64_t shift) {
  ff::InputFormatPtr in = ff::openInput(source);
  ASSERT_TRUE(in);
  AVFormatContext* raw = nullptr;
  ASSERT_GE(avformat_alloc_output_context2(&raw, nullptr, "matroska", dest.c_str()), 0);
  ff::OutputFormatPtr out(raw);
  AVStream* st = avformat_new_stream(out.get(), nullptr);
  ASSERT_GE(avcodec_parameters_copy(st->codecpar, in->streams[0]->codecpar), 0);
  st->codecpar->codec_tag = 0;
  st->time_base = AVRational{1, 1000};
  ASSERT_GE(avio_open(&out->pb, dest.c_str(), AVIO_FLAG_WRITE), 0);
  ASSERT_GE(avformat_write_header(out.get(), nullptr), 0);
  ff::PacketPtr pkt = ff::makePacket();
  while (av_read_frame(in.get(), pkt.get()) >= 0) {
    av_packet_rescale_ts(pkt.get(), in->streams[0]->time_base, st->time_base);
    if (pkt->pts >= from * 1000) {
      pkt->pts += shift;
      pkt->dts += shift;
    }
    pkt->stream_index = 0;
    ASSERT_GE(av_interleaved_write_frame(out.get(), pkt.get()), 0);
  }
  ASSERT_GE(av_write_trailer(out.get()), 0);
  avio_closep(&out->pb);
}

std::vector<float> readSound(AudioSource& source, double at, double seconds) {
  std::vector<float> out;
  std::string error;
  EXPECT_TRUE(source.read(std::llround(at * kRate), std::llround(seconds * kRate), out, &error))
      << error;
  return out;
}

bool silent(const std::vector<float>& samples, double from, double to) {
  return std::all_of(samples.begin() + std::llround(from * kRate),
                     samples.begin() + std::llround(to * kRate), [](float v) { return v == 0; });
}

// Tone onsets in `samples` at `expected` (seconds), give or take one 5 ms window.
void expectOnsets(const std::vector<float>& samples, std::vector<double> expected, double lag) {
  const std::vector<double> onsets = testing::toneOnsets(samples, kRate);
  ASSERT_EQ(onsets.size(), expected.size());
  for (size_t i = 0; i < onsets.size(); ++i)
    EXPECT_NEAR(onsets[i], expected[i] + lag, 0.006) << i;
}

long peakMemoryKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

class AudioSourceTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    testing::makeToneSound(dir_->file("tones.m4a"), 4, {0.5, 1.5, 2.5, 3.5});
    // The copy loses the encoder's priming, so its sound comes that much later.
    copyWithJump(dir_->file("tones.m4a"), dir_->file("plain.mkv"), 0, 0);
    lag_ = testing::toneOnsets(dir_->file("plain.mkv")).at(0) - 0.5;
  }
  static void TearDownTestSuite() { delete dir_; }
  static TempDir* dir_;
  static double lag_;
};

TempDir* AudioSourceTest::dir_ = nullptr;
double AudioSourceTest::lag_ = 0;

// Packets from 2 s on claim to be hours, or absurdly, later: the sound before the jump is
// intact, the gap is silence that is never made whole, and the sound after it is at its time.
TEST_F(AudioSourceTest, TimestampJumpFarAheadKeepsMemoryBounded) {
  const int64_t hours = int64_t{3} * 3600 * 1000;
  for (int64_t shift : {hours, std::numeric_limits<int64_t>::max() / 2}) {
    SCOPED_TRACE(shift);
    const std::string path = dir_->file("jump.mkv");
    copyWithJump(dir_->file("tones.m4a"), path, 2.0, shift);
    std::string error;
    auto source = AudioSource::open(path, kRate, &error);
    ASSERT_TRUE(source) << error;
    const long before = peakMemoryKiB();

    expectOnsets(readSound(*source, 0, 1.5), {0.5}, lag_);
    // This read ends in the gap: the tone at its start, silence from the jump on.
    const std::vector<float> across = readSound(*source, 1.5, 1.0);
    expectOnsets(across, {0.0}, lag_);
    EXPECT_TRUE(silent(across, 0.51 + lag_, 1.0));
    const std::vector<float> gap = readSound(*source, 2.5, 3.0);
    EXPECT_TRUE(silent(gap, 0, 3.0));
    EXPECT_TRUE(silent(readSound(*source, 3600, 1.0), 0, 1.0));  // sought into the gap
    if (shift == hours) {
      // From a read in the gap on into the sound after it, both tones at their times.
      const std::vector<float> after = readSound(*source, 3 * 3600 + 1.0, 3.0);
      EXPECT_TRUE(silent(after, 0, 0.99));
      expectOnsets(after, {1.5, 2.5}, lag_);
    }
    // Three hours of silence would be 2 GB.
    EXPECT_LT(peakMemoryKiB() - before, 256 * 1024);
  }
}

// A short hole (tens of ms) is filled as it comes: what follows stays in time.
TEST_F(AudioSourceTest, ShortTimestampGapStaysInTime) {
  const std::string path = dir_->file("short-gap.mkv");
  copyWithJump(dir_->file("tones.m4a"), path, 2.0, 60);
  std::string error;
  auto source = AudioSource::open(path, kRate, &error);
  ASSERT_TRUE(source) << error;
  std::vector<float> all;
  for (int second = 0; second < 5; ++second) {
    const std::vector<float> chunk = readSound(*source, second, 1.0);
    all.insert(all.end(), chunk.begin(), chunk.end());
  }
  expectOnsets(all, {0.5, 1.5, 2.56, 3.56}, lag_);
}

}  // namespace
}  // namespace vantry
