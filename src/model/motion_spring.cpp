#include "model/motion_spring.h"

#include <cmath>

namespace vantry {

void MotionSpring::advance(double target, double frequency, double dt) {
  if (!(dt > 0)) return;
  const double d = value - target;
  const double e = std::exp(-frequency * dt);
  const double h = velocity + frequency * d;
  value = target + e * (d + dt * h);
  velocity = e * (velocity - dt * frequency * h);
}

}  // namespace vantry
