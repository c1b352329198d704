#include "platform/screen_source.h"

#include <time.h>

namespace vantry::platform {

double hostTime() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
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
