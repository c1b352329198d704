// Memory added by 100 copies of a one-hour document (the undo stack), against the
// same copies made with their pointer tracks unshared.
#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <vector>

#include "model/clip.h"

namespace {

// Large blocks come from mmap and are counted apart from the arena.
std::size_t heapInUse() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

vantry::Clip oneHourClip() {
  vantry::Clip clip;
  clip.title = "One hour";
  clip.duration = 3600;
  std::vector<vantry::PointerSample> samples;
  samples.reserve(216000);
  for (int i = 0; i < 216000; ++i) {
    const double t = i / 60.0;
    samples.push_back({t, 0.5 + 0.4 * ((i % 600) / 600.0), 0.5, i % 300 == 0});
  }
  clip.samples = std::move(samples);
  clip.zoomEventsOverride = clip.defaultZoomEvents();
  clip.presenterEvents = std::vector<vantry::PresenterEvent>{{vantry::Uuid::random(), 0, false}};
  for (int i = 1; i < 40; ++i)
    clip.split(i * 90.0);
  return clip;
}

}  // namespace

int main() {
  const vantry::Clip clip = oneHourClip();
  constexpr int kCopies = 100;

  std::vector<vantry::Clip> undo;
  undo.reserve(kCopies);
  const std::size_t before = heapInUse();
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kCopies; ++i)
    undo.push_back(clip);
  const auto end = std::chrono::steady_clock::now();
  const double shared = static_cast<double>(heapInUse() - before) / (1024.0 * 1024.0);

  std::vector<vantry::Clip> deep;
  deep.reserve(kCopies);
  const std::size_t beforeDeep = heapInUse();
  for (int i = 0; i < kCopies; ++i) {
    deep.push_back(clip);
    deep.back().samples.edit();  // forces a private copy of the track
  }
  const double unshared = static_cast<double>(heapInUse() - beforeDeep) / (1024.0 * 1024.0);

  const double us = std::chrono::duration<double, std::micro>(end - start).count() / kCopies;
  std::printf("one-hour clip: %zu samples, %zu zoom events, %zu kept ranges\n", clip.samples.size(),
              clip.zoomEventsOverride->size(), clip.keptRanges->size());
  std::printf("100 copies, shared track:   %8.3f MB  (%.1f us per copy)\n", shared, us);
  std::printf("100 copies, unshared track: %8.3f MB  (baseline)\n", unshared);
  std::printf("ratio shared/unshared: %.4f  (target: under 10 MB)\n", shared / unshared);
  return shared < 10 ? 0 : 1;
}
