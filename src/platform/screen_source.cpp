#include "platform/screen_source.h"

#include <chrono>

namespace vantry::platform {

double hostTime() {
  // steady_clock is CLOCK_MONOTONIC on Linux.
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

PointerState PointerSource::read() {
  PointerState state;
  if (auto raw = query()) {
    last_ = raw->location;
    state.location = raw->location;
    state.pressesSinceLastRead = raw->presses;
    state.leftDown = raw->leftDown || raw->presses > 0;
  } else {
    state.location = last_;
    state.live = false;
  }
  return state;
}

}  // namespace vantry::platform
