#include <algorithm>
#include <cmath>
#include <cstdio>

#include "studio/studio.h"

namespace vantry {

std::string clock(double seconds) {
  // Negative and non-finite values show as zero; huge ones are capped well inside the
  // integer range (a million hours still prints).
  constexpr double cap = 3.6e9;
  double s = std::isfinite(seconds) && seconds > 0 ? std::min(seconds, cap) : 0.0;
  auto n = static_cast<long long>(s);
  char text[32];
  std::snprintf(text, sizeof text, "%02lld:%02lld", n / 60, n % 60);
  return text;
}

}  // namespace vantry
