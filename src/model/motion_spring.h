// A critically damped spring: the one motion rule behind every camera move.
#pragma once

namespace vantry {

struct MotionSpring {
  double value = 0;
  double velocity = 0;

  // Exact solution of x'' = -2w·x' - w²·(x - target) over dt, so the result does not
  // depend on how the time is cut into ticks. A dt that is not positive (or NaN) does
  // nothing.
  void advance(double target, double frequency, double dt);
};

}  // namespace vantry
