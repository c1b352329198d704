// The PulseAudio record stream against the test script's null sink, whose monitor is the
// default source: what is played into the sink is what the microphone hears.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/pulse/pulse_microphone.h"
#include "platform/pulse_tone.h"

using namespace vantry;
using namespace vantry::platform;

namespace {

struct Capture {
  std::mutex mutex;
  std::vector<float> pcm;
  std::vector<double> originEstimates;  // sample-0 instant implied by each chunk
  uint64_t expectedIndex = 0;
  bool contiguous = true;
  int chunks = 0;
  double firstArrival = NAN;

  AudioSource::ChunkHandler handler() {
    return [this](const AudioChunk& c) {
      std::lock_guard lock(mutex);
      if (c.firstIndex != expectedIndex) contiguous = false;
      expectedIndex = c.firstIndex + c.count;
      pcm.insert(pcm.end(), c.samples, c.samples + c.count);
      if (std::isfinite(c.firstSampleTime)) {
        originEstimates.push_back(c.firstSampleTime -
                                  double(c.firstIndex) / PulseMicrophone::kRate);
      }
      if (chunks++ == 0) firstArrival = c.arrivalTime;
    };
  }
};

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? NAN : v[v.size() / 2];
}

// The server's timing settles within a few tenths of a second of the first chunk.
double settledOrigin(const std::vector<double>& estimates) {
  return median(std::vector<double>(estimates.begin() + estimates.size() / 2, estimates.end()));
}

// An idle null sink can take a second or more to deliver the first chunk.
bool waitForChunks(Capture& cap, int n) {
  for (int i = 0; i < 500; ++i) {
    {
      std::lock_guard lock(cap.mutex);
      if (cap.chunks >= n) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

bool startOrSkip(PulseMicrophone& mic, Capture& cap) {
  try {
    mic.start(cap.handler(), {});
    return true;
  } catch (const AudioError& e) {
    if (!std::getenv("PULSE_SERVER")) return false;  // a manual run without the services
    throw;
  }
}

}  // namespace

TEST(PulseMicrophone, RecordsPlayedToneAtItsHostTime) {
  test::PrivateSoundServer server;
  if (!server.ok()) GTEST_SKIP() << "no sound server can be started here";
  test::TonePlayer player;
  PulseMicrophone mic;
  Capture cap;
  if (!startOrSkip(mic, cap)) GTEST_SKIP() << "no sound server";
  ASSERT_TRUE(waitForChunks(cap, 1));
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  const double onset = player.playTone(0.2);
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  mic.stop();

  std::lock_guard lock(cap.mutex);
  EXPECT_TRUE(cap.contiguous);
  ASSERT_FALSE(cap.originEstimates.empty());
  const long index = test::firstLoudSample(cap.pcm);
  ASSERT_GE(index, 0) << "the tone never reached the microphone";
  const double heard = settledOrigin(cap.originEstimates) + double(index) / PulseMicrophone::kRate;
  EXPECT_NEAR(heard, onset, 0.060) << "tone heard " << (heard - onset) * 1000 << " ms off";
  // The recording lasted about as long as we kept it running.
  EXPECT_GT(cap.pcm.size(), size_t(PulseMicrophone::kRate * 0.6));
}

TEST(PulseMicrophone, SampleZeroPrecedesItsArrival) {
  test::PrivateSoundServer server;
  if (!server.ok()) GTEST_SKIP() << "no sound server can be started here";
  test::TonePlayer player;
  PulseMicrophone mic;
  Capture cap;
  if (!startOrSkip(mic, cap)) GTEST_SKIP() << "no sound server";
  ASSERT_TRUE(waitForChunks(cap, 1));
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  mic.stop();
  std::lock_guard lock(cap.mutex);
  EXPECT_TRUE(cap.contiguous);
  ASSERT_GE(cap.originEstimates.size(), 20u);
  // A sample reaches us after it was captured, and not seconds later: a latency added
  // instead of subtracted, or counted in the wrong unit, fails here.
  const double origin = settledOrigin(cap.originEstimates);
  EXPECT_LE(origin, cap.firstArrival + 0.002);
  EXPECT_GT(origin, cap.firstArrival - 1.0);
}

TEST(PulseMicrophone, StopEndsDeliveryAndCanBeRepeated) {
  PulseMicrophone mic;
  Capture cap;
  if (!startOrSkip(mic, cap)) GTEST_SKIP() << "no sound server";
  ASSERT_TRUE(waitForChunks(cap, 2));
  mic.stop();
  int after;
  {
    std::lock_guard lock(cap.mutex);
    after = cap.chunks;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  mic.stop();
  std::lock_guard lock(cap.mutex);
  EXPECT_EQ(cap.chunks, after);
  EXPECT_GT(after, 0);
}

TEST(PulseMicrophone, UnreachableServerIsReportedAsSuch) {
  const test::ScopedEnv noServer("PULSE_SERVER", "unix:/nonexistent/vantry-no-server");
  PulseMicrophone mic;
  bool threw = false;
  try {
    mic.start([](const AudioChunk&) {}, {});
  } catch (const AudioError& e) {
    threw = true;
    EXPECT_EQ(e.kind(), AudioFailure::NoServer);
  }
  EXPECT_TRUE(threw);
}

TEST(PulseMicrophone, MissingSourceIsNoDevice) {
  PulseMicrophone mic("vantry_no_such_source");
  Capture cap;
  try {
    mic.start(cap.handler(), {});
    FAIL() << "a source that does not exist must not record";
  } catch (const AudioError& e) {
    if (e.kind() == AudioFailure::NoServer && !std::getenv("PULSE_SERVER")) GTEST_SKIP();
    EXPECT_EQ(e.kind(), AudioFailure::NoDevice) << e.what();
  }
}
