// Bakes the motion timeline of a one-hour recording (216,000 pointer samples, a click
// every 5 s) and prints the time per hour of recording. Target: under 30 ms on one core.
// Baseline in the same run: one plain copy of the sample track.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

#include "model/motion_timeline.h"

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

vantry::Clip oneHour() {
  std::vector<vantry::PointerSample> samples;
  samples.reserve(216000);
  for (int i = 0; i < 216000; ++i) {
    const double t = i / 60.0;
    samples.push_back(
        {t, 0.5 + 0.4 * std::sin(t * 0.7), 0.5 + 0.4 * std::cos(t * 0.45), i % 300 == 0});
  }
  vantry::Clip clip;
  clip.title = "bench";
  clip.duration = 3600;
  clip.samples = std::move(samples);
  return clip;
}

}  // namespace

int main() {
  const vantry::Clip clip = oneHour();
  const vantry::EditSettings settings;
  constexpr int kRuns = 15;

  std::vector<double> bake;
  std::vector<double> copy;
  double checksum = 0;
  for (int r = 0; r < kRuns; ++r) {
    auto start = Clock::now();
    const vantry::MotionTimeline timeline(clip, settings);
    bake.push_back(millisecondsSince(start));
    checksum += timeline.frames[timeline.frames.size() / 2].zoom;

    start = Clock::now();
    const std::vector<vantry::PointerSample> samples = clip.samples.get();
    copy.push_back(millisecondsSince(start));
    checksum += samples[samples.size() / 3].x;
  }
  std::sort(bake.begin(), bake.end());
  std::sort(copy.begin(), copy.end());
  const double median = bake[kRuns / 2];
  std::printf("bake one hour (216,001 frames, 720 clicks): median %.2f ms, best %.2f ms per hour\n",
              median, bake.front());
  std::printf("baseline copy of the 216,000 samples: median %.2f ms; bake/copy %.1fx\n",
              copy[kRuns / 2], median / copy[kRuns / 2]);
  std::printf("target < 30 ms: %s (checksum %.3f)\n", median < 30 ? "met" : "MISSED", checksum);
  return 0;
}
