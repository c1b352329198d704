#include "model/demo_project.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "localization/localization.h"

namespace vantry {

namespace {

struct Keyframe {
  double time;
  double x;
  double y;
};

constexpr std::array<Keyframe, 12> kKeyframes{{
    {0, 0.32, 0.22},
    {1.2, 0.32, 0.22},
    {2.1, 0.38, 0.40},
    {3.7, 0.68, 0.43},
    {5.2, 0.76, 0.63},
    {6.5, 0.76, 0.63},
    {7.5, 0.37, 0.70},
    {9.0, 0.56, 0.72},
    {10.5, 0.70, 0.33},
    {12.0, 0.70, 0.33},
    {14.0, 0.49, 0.53},
    {16.0, 0.49, 0.53},
}};

constexpr std::array<double, 4> kClickTimes{1.2, 3.7, 6.5, 10.5};

constexpr double kDuration = 16;
constexpr int kSampleCount = 961;  // 0 to 16 s inclusive, 60 a second

PointerSample sampleAt(int i) {
  const double t = i / 60.0;
  std::size_t k = 0;
  for (std::size_t m = 0; m < kKeyframes.size(); ++m) {
    if (kKeyframes[m].time <= t) k = m;
  }
  const std::size_t n = std::min(k + 1, kKeyframes.size() - 1);
  const Keyframe& a = kKeyframes[k];
  const Keyframe& b = kKeyframes[n];
  const double f = a.time < b.time ? (t - a.time) / (b.time - a.time) : 0;
  // Smoothstep: each move starts and stops gently.
  const double s = f * f * (3 - 2 * f);

  PointerSample sample;
  sample.time = t;
  sample.x = a.x + s * (b.x - a.x);
  sample.y = a.y + s * (b.y - a.y);
  for (double c : kClickTimes) {
    if (std::fabs(t - c) < 0.001) sample.clicked = true;
  }
  return sample;
}

}  // namespace

Clip makeDemoClip() {
  std::vector<PointerSample> samples;
  samples.reserve(kSampleCount);
  for (int i = 0; i < kSampleCount; ++i)
    samples.push_back(sampleAt(i));

  Clip clip;
  clip.id = Uuid::random();
  clip.title = L("把注意力，交给镜头");
  clip.duration = kDuration;
  clip.samples = std::move(samples);
  clip.isDemo = true;
  clip.width = 1920;
  clip.height = 1080;
  return clip;
}

}  // namespace vantry
