#include "platform/screen_source.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

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
    state.overOwnWindow = state.leftDown && raw->overOwnWindow;
  } else {
    state.location = last_;
    state.live = false;
  }
  return state;
}

int nearestIconSize(const std::vector<std::pair<int, int>>& sizes, int size) {
  int best = -1;
  int bestSide = 0;
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    const int side = std::max(sizes[i].first, sizes[i].second);
    const int distance = std::abs(side - size);
    const int bestDistance = std::abs(bestSide - size);
    if (best < 0 || distance < bestDistance || (distance == bestDistance && side > bestSide)) {
      best = int(i);
      bestSide = side;
    }
  }
  return best;
}

std::optional<WindowIcon> pickWindowIcon(const unsigned long* values, std::size_t count, int size) {
  std::vector<std::pair<int, int>> sizes;
  std::vector<std::size_t> starts;
  for (std::size_t at = 0; count - at >= 2;) {
    const unsigned long w = values[at];
    const unsigned long h = values[at + 1];
    const std::size_t remaining = count - at - 2;
    // Division instead of w * h: hostile sides must not overflow the product.
    if (w == 0 || h == 0 || w > remaining || h > remaining / w) break;
    if (w <= unsigned(kMaxWindowIconSide) && h <= unsigned(kMaxWindowIconSide)) {
      sizes.emplace_back(int(w), int(h));
      starts.push_back(at + 2);
    }
    at += 2 + w * h;
  }
  const int chosen = nearestIconSize(sizes, size);
  if (chosen < 0) return std::nullopt;
  WindowIcon icon;
  icon.width = sizes[chosen].first;
  icon.height = sizes[chosen].second;
  const unsigned long* pixels = values + starts[chosen];
  icon.argb.resize(std::size_t(icon.width) * std::size_t(icon.height));
  for (std::size_t i = 0; i < icon.argb.size(); ++i)
    icon.argb[i] = std::uint32_t(pixels[i] & 0xFFFFFFFFu);
  return icon;
}

}  // namespace vantry::platform
