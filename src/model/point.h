// A point of two doubles: frame fractions (0..1) or canvas coordinates, by context.
#pragma once

namespace vantry {

struct Point {
  double x = 0;
  double y = 0;

  friend bool operator==(const Point&, const Point&) = default;
};

}  // namespace vantry
