// The live camera motion, stepped by the frame clock on every tick. The baked timeline
// of a finished project uses the same springs, frequencies and output rules.
#pragma once

#include <optional>

#include "model/clip.h"
#include "model/frame_state.h"
#include "model/motion_spring.h"

namespace vantry {

namespace motion {

// Frequencies of the camera springs, in radians per second. The smoothness is clamped
// to 0..1 first: a hand-edited value past 1.8 would give a zero or negative frequency
// and the springs would run away.
double zoomFrequency(double smoothness);
double panFrequency(double smoothness);
inline constexpr double kPointerFrequency = 36;

// The zoom a target amount stands for: a non-finite amount is ignored (the fallback
// applies), and a finite one is capped so the spring arithmetic stays finite.
std::optional<double> usableAmount(std::optional<double> amount);
// The settings' zoom amount, or the default one when the stored value is unusable.
double settingsAmount(const EditSettings& settings);

// Pan target of one coordinate: two units per frame from the centre, saturating a
// quarter frame from either edge.
double panTarget(double position);

// The frame of a zoom z and pans: the visible window of size 1/z stays in the frame.
FrameState frameFor(double zoomValue, double panX, double panY, Point pointer, double pulse);

}  // namespace motion

struct MotionEngine {
  MotionSpring zoom{1, 0};
  MotionSpring panX{0, 0};
  MotionSpring panY{0, 0};
  MotionSpring pointerX{0.5, 0};
  MotionSpring pointerY{0.5, 0};
  bool initialized = false;

  // One tick of live motion. `active` is true while a live click's zoom is held; `pulse`
  // is passed through; `amount`, when given, replaces the settings' zoom amount.
  FrameState advance(Point pointer, Point focus, bool active, double pulse,
                     const EditSettings& settings, double dt,
                     std::optional<double> amount = std::nullopt);
};

}  // namespace vantry
