// A microphone whose clock runs 200 ppm fast, with jittery timing reports: the voice stays
// within 10 ms of the host clock (and so of the picture) instead of falling 12 ms behind
// each minute. A source that keeps time passes unchanged. (bench_capture measures the
// whole hour.)
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "capture/microphone_track.h"

using namespace vantry;

namespace {

constexpr int kRate = 48000;

// Where the clicks of the source land in the track, seconds.
struct Clicks {
  std::vector<double> at;
  int64_t position = 0;
  double best = 0;
  int64_t bestAt = -1;
  void take(const float* s, int n) {
    for (int i = 0; i < n; ++i, ++position) {
      const double v = std::abs(s[i]);
      if (v > 0.3 && v > best) {
        best = v;
        bestAt = position;
      }
      if (bestAt >= 0 && position - bestAt > 200) {
        at.push_back(double(bestAt) / kRate);
        best = 0;
        bestAt = -1;
      }
    }
  }
};

// Feeds `minutes` of sound from a source whose clock runs `ppm` fast, with a click at every
// 5 + 60k seconds of host time after `begin`, and timing reports off by up to half a
// millisecond either way.
double feedDrifting(MicrophoneTrack& track, double ppm, double minutes, double begin) {
  const double actualRate = kRate * (1 + ppm * 1e-6);
  const double origin = begin - 0.5;  // the stream started half a second before the track
  std::vector<float> buffer(480);
  uint32_t noise = 12345;
  const auto total = uint64_t((minutes * 60 + 0.5) * actualRate);
  int k = 0;
  auto clickIndex = [&](int n) {
    return uint64_t(std::llround((begin + 5 + 60.0 * n - origin) * actualRate));
  };
  uint64_t nextClick = clickIndex(0);
  for (uint64_t i = 0; i < total; i += buffer.size()) {
    std::fill(buffer.begin(), buffer.end(), 0.0f);
    while (nextClick < i + buffer.size()) {
      buffer[nextClick - i] = 1.0f;
      nextClick = clickIndex(++k);
    }
    noise = noise * 1664525u + 1013904223u;
    const double jitter = (double(noise >> 8) / double(1u << 24) - 0.5) * 1e-3;
    platform::AudioChunk c;
    c.samples = buffer.data();
    c.count = buffer.size();
    c.firstIndex = i;
    c.firstSampleTime = origin + double(i) / actualRate + jitter;
    c.arrivalTime = origin + double(i + buffer.size()) / actualRate + 0.002;
    track.add(c);
  }
  return origin;
}

TEST(MicrophoneDrift, AFastSourceStaysWithinTenMillisecondsOfTheHostClock) {
  Clicks clicks;
  MicrophoneTrack track(kRate, [&](const float* s, int n, double) { clicks.take(s, n); });
  const double begin = 1000.0;
  track.begin(begin);
  const double minutes = 20;
  feedDrifting(track, 200, minutes, begin);
  track.flush();

  // Uncorrected, the last click would be 20 x 60 x 200e-6 = 240 ms late.
  ASSERT_EQ(clicks.at.size(), size_t(minutes));
  for (size_t n = 0; n < clicks.at.size(); ++n) {
    const double expected = 5 + 60.0 * double(n);
    EXPECT_NEAR(clicks.at[n], expected, 0.010) << "click " << n;
  }
  EXPECT_NEAR(track.driftRatio(), 1 / 1.0002, 5e-6);
}

TEST(MicrophoneDrift, ASourceThatKeepsTimeIsPassedUnchanged) {
  Clicks clicks;
  std::vector<float> all;
  MicrophoneTrack track(kRate, [&](const float* s, int n, double) {
    clicks.take(s, n);
    all.insert(all.end(), s, s + n);
  });
  const double begin = 1000.0;
  track.begin(begin);
  feedDrifting(track, 0, 3, begin);
  track.flush();
  EXPECT_EQ(track.driftRatio(), 1.0);
  ASSERT_EQ(clicks.at.size(), 3u);
  // Not resampled: every click is one whole sample exactly where it was.
  for (size_t n = 0; n < clicks.at.size(); ++n) {
    const auto at = size_t(std::llround(clicks.at[n] * kRate));
    EXPECT_EQ(all[at], 1.0f);
    EXPECT_NEAR(clicks.at[n], 5 + 60.0 * double(n), 0.0005);  // placed from jittery reports
  }
}

}  // namespace
