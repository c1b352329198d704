// Placing microphone samples on the host clock from the sound server's chunk timing.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "capture/microphone_track.h"

using namespace vantry;

namespace {

constexpr int kRate = 1000;  // small numbers keep the arithmetic readable

struct Received {
  std::vector<float> samples;
  std::vector<double> times;  // track time of each call's first sample
};

// Feeds `seconds` of chunks of 10 samples whose values are their stream indices. Each
// chunk's timing report says origin + index / rate, plus `reportError(index)`.
void feed(MicrophoneTrack& track, double origin, uint64_t from, double seconds,
          const std::function<double(uint64_t)>& reportError = {}, bool timed = true,
          double deliveryDelay = 0.02) {
  std::vector<float> buffer(10);
  const uint64_t to = from + uint64_t(seconds * kRate);
  for (uint64_t i = from; i < to; i += 10) {
    for (int k = 0; k < 10; ++k)
      buffer[k] = float(i + k);
    platform::AudioChunk c;
    c.samples = buffer.data();
    c.count = 10;
    c.firstIndex = i;
    const double captured = origin + double(i) / kRate;
    c.firstSampleTime = timed ? captured + (reportError ? reportError(i) : 0.0) : NAN;
    c.arrivalTime = captured + 10.0 / kRate + deliveryDelay;
    track.add(c);
  }
}

MicrophoneTrack::Sink collect(Received& r) {
  return [&r](const float* s, int n, double t) {
    r.times.push_back(t);
    r.samples.insert(r.samples.end(), s, s + n);
  };
}

}  // namespace

TEST(MicrophoneTrack, BeginInstantBecomesSampleZero) {
  Received got;
  MicrophoneTrack track(kRate, collect(got));
  const double origin = 100.0;
  feed(track, origin, 0, 1.5);  // the stream settles before the recording begins
  track.begin(origin + 1.234);  // sample 1234 was captured then
  feed(track, origin, 1500, 1.0);
  track.flush();
  ASSERT_FALSE(got.samples.empty());
  EXPECT_EQ(got.samples.front(), 1234.0f);
  EXPECT_DOUBLE_EQ(got.times.front(), 0.0);
  // Continuous from there to the end: nothing lost, nothing repeated.
  for (size_t i = 1; i < got.samples.size(); ++i)
    ASSERT_EQ(got.samples[i], got.samples[i - 1] + 1);
  EXPECT_EQ(got.samples.back(), 2499.0f);
  EXPECT_NEAR(track.currentTime(), 2.5 - 1.234, 1e-9);
}

TEST(MicrophoneTrack, UnsettledReportsAtTheStreamStartAreNotTrusted) {
  Received got;
  MicrophoneTrack track(kRate, collect(got));
  const double origin = 50.0;
  // The first second reports times 0.3 s too early, as a sound server does while the
  // stream starts; afterwards the reports are right.
  feed(track, origin, 0, 3.0, [](uint64_t i) { return i < kRate ? -0.3 : 0.0; });
  track.begin(origin + 2.0);
  feed(track, origin, 3000, 0.5);
  track.flush();
  ASSERT_FALSE(got.samples.empty());
  EXPECT_EQ(got.samples.front(), 2000.0f);
}

TEST(MicrophoneTrack, BeginBeforeTheClockSettlesWaitsThenPlacesExactly) {
  Received got;
  MicrophoneTrack track(kRate, collect(got));
  const double origin = 10.0;
  track.begin(origin + 0.2);  // the recording begins while the stream is young
  feed(track, origin, 0, 0.8, [](uint64_t) { return 0.05; });  // early reports are off
  EXPECT_TRUE(got.samples.empty()) << "held back until the clock settles";
  feed(track, origin, 800, 1.5);
  EXPECT_FALSE(got.samples.empty());
  track.flush();
  EXPECT_EQ(got.samples.front(), 200.0f);
}

TEST(MicrophoneTrack, StreamThatStartsAfterTheBeginInstantIsPaddedWithSilence) {
  Received got;
  MicrophoneTrack track(kRate, collect(got));
  const double origin = 20.0;
  track.begin(origin - 0.5);  // half a second before the stream's first sample
  feed(track, origin, 0, 2.0);
  track.flush();
  ASSERT_EQ(got.samples.size(), 2500u);
  EXPECT_DOUBLE_EQ(got.times.front(), 0.0);
  EXPECT_EQ(got.samples[0], 0.0f);
  EXPECT_EQ(got.samples[499], 0.0f);
  EXPECT_EQ(got.samples[501], 1.0f);  // stream sample 1 at track time 0.501
  EXPECT_EQ(got.samples.back(), 1999.0f);
  EXPECT_NEAR(track.currentTime(), 2.5, 1e-9);
}

TEST(MicrophoneTrack, WithoutTimingReportsArrivalTimesBoundTheClock) {
  Received got;
  MicrophoneTrack track(kRate, collect(got));
  const double origin = 30.0;
  feed(track, origin, 0, 1.0, {}, /*timed=*/false, /*deliveryDelay=*/0.0);
  track.begin(origin + 0.5);
  feed(track, origin, 1000, 0.3, {}, false, 0.0);
  track.flush();
  ASSERT_FALSE(got.samples.empty());
  EXPECT_NEAR(got.samples.front(), 500.0f, 1.0f);
}

TEST(MicrophoneTrack, GapsBecomeSilenceAndRepeatsAreIgnored) {
  Received got;
  MicrophoneTrack track(kRate, collect(got));
  const double origin = 0.0;
  feed(track, origin, 0, 1.5);
  track.begin(origin + 1.0);
  feed(track, origin, 1600, 0.5);  // 1500..1599 never came
  feed(track, origin, 1700, 0.1);  // already had these
  track.flush();
  // 1000..1499, 100 silent samples, 1600..2099.
  ASSERT_EQ(got.samples.size(), 1100u);
  EXPECT_EQ(got.samples[499], 1499.0f);
  EXPECT_EQ(got.samples[500], 0.0f);
  EXPECT_EQ(got.samples[599], 0.0f);
  EXPECT_EQ(got.samples[600], 1600.0f);
  EXPECT_EQ(got.samples.back(), 2099.0f);
}

TEST(MicrophoneTrack, NothingReachesTheSinkBeforeBeginOrAfterFlush) {
  Received got;
  MicrophoneTrack track(kRate, collect(got));
  feed(track, 0.0, 0, 12.0);  // more than the track holds back
  EXPECT_TRUE(got.samples.empty());
  track.begin(11.5);
  track.flush();
  const size_t n = got.samples.size();
  EXPECT_EQ(n, 500u);
  feed(track, 0.0, 12000, 0.5);
  EXPECT_EQ(got.samples.size(), n);
}

TEST(SampleOriginEstimator, MedianShrugsOffOutliers) {
  SampleOriginEstimator e(kRate);
  EXPECT_FALSE(e.origin());
  std::vector<float> buffer(10, 0.0f);
  for (uint64_t i = 1000; i < 1400; i += 10) {
    platform::AudioChunk c;
    c.samples = buffer.data();
    c.count = 10;
    c.firstIndex = i;
    // Every seventh report is 80 ms late (a scheduling hiccup).
    c.firstSampleTime = 5.0 + double(i) / kRate + (i % 70 == 0 ? 0.08 : 0.0);
    e.add(c);
  }
  EXPECT_TRUE(e.settled());
  ASSERT_TRUE(e.origin());
  EXPECT_NEAR(*e.origin(), 5.0, 1e-9);
}
