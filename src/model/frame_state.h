// The camera state of one output frame: what every composed picture is drawn from.
#pragma once

#include "model/point.h"

namespace vantry {

struct FrameState {
  double zoom = 1;          // magnification, at least 1 in produced states
  Point center{0.5, 0.5};   // centre of the visible part, 0..1 of the captured frame
  Point pointer{0.5, 0.5};  // smoothed pointer, same coordinates
  double pulse = -1;        // seconds since the zoom's click or start; negative: none
  double presenterMix = 0;  // 0 = camera bubble, 1 = camera fills the frame

  friend bool operator==(const FrameState&, const FrameState&) = default;
};

}  // namespace vantry
