// A project's camera motion baked once: one FrameState per 1/60 s of source time, looked
// up by time. A pure function of the document and the settings, so preview and export
// show the same motion frame for frame.
#pragma once

#include <cstddef>
#include <vector>

#include "model/clip.h"
#include "model/frame_state.h"

namespace vantry {

struct MotionTimeline {
  static constexpr double fps = 60;
  // A hand-edited duration can ask for any number of frames; past a day of recording
  // the table stops growing.
  static constexpr std::size_t kMaxFrames = 24 * 60 * 60 * 60 + 1;

  // Frame i stands for source time i/60 s; never empty.
  std::vector<FrameState> frames;

  // One neutral frame.
  MotionTimeline();
  MotionTimeline(const Clip& clip, const EditSettings& settings);

  // Number of frames for a source duration: ceil(duration · 60) + 1, at least one,
  // capped at kMaxFrames; a duration that is not finite gives one frame.
  static std::size_t frameCount(double duration);

  // The state at a source time, interpolated between neighbouring frames. The pulse
  // keeps counting seconds between frames; presenterMix is 0.
  FrameState state(double at) const;
};

}  // namespace vantry
