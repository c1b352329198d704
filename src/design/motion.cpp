#include "design/motion.h"

#include <QtGlobal>

#include <atomic>
#include <cmath>
#include <numbers>

namespace vantry {

namespace {

std::atomic<int>& frozenFlag() {
  static std::atomic<int> flag{qEnvironmentVariableIntValue("VANTRY_FREEZE_ANIMATIONS") != 0};
  return flag;
}

constexpr int kFrameMs = 16;

std::atomic<double> gSlowdown{1.0};

// Seconds of animation time since `clock` started.
double animationSeconds(const QElapsedTimer& clock) {
  return clock.nsecsElapsed() / 1e9 / gSlowdown.load();
}

// x(t) of a cubic Bézier with P0 = 0 and P3 = 1.
double bezier(double a, double b, double t) {
  const double u = 1 - t;
  return 3 * u * u * t * a + 3 * u * t * t * b + t * t * t;
}

double solveBezier(double x1, double y1, double x2, double y2, double x) {
  if (x <= 0) return 0;
  if (x >= 1) return 1;
  double lo = 0, hi = 1, t = x;
  for (int i = 0; i < 40; ++i) {
    t = (lo + hi) / 2;
    if (bezier(x1, x2, t) < x) {
      lo = t;
    } else {
      hi = t;
    }
  }
  return bezier(y1, y2, t);
}

}  // namespace

bool animationsFrozen() {
  return frozenFlag().load() != 0;
}
void setAnimationsFrozen(bool frozen) {
  frozenFlag().store(frozen ? 1 : 0);
}
void setAnimationsSlowedBy(double factor) {
  gSlowdown.store(factor > 0 ? factor : 1.0);
}

double easeOutAt(double t) {
  return solveBezier(0.0, 0.0, 0.58, 1.0, t);
}
double easeInOutAt(double t) {
  return solveBezier(0.42, 0.0, 0.58, 1.0, t);
}

SpringState springAt(double response, double damping, double x0, double v0, double t) {
  const double w0 = 2 * std::numbers::pi / std::max(response, 1e-3);
  const double z = std::max(damping, 0.0);
  if (z < 1) {
    const double wd = w0 * std::sqrt(1 - z * z);
    const double e = std::exp(-z * w0 * t);
    const double a = x0;
    const double b = (v0 + z * w0 * x0) / wd;
    const double c = std::cos(wd * t), s = std::sin(wd * t);
    const double x = e * (a * c + b * s);
    const double v = e * ((-z * w0) * (a * c + b * s) + (-a * wd * s + b * wd * c));
    return {x, v};
  }
  // Critically damped (over-damped springs are treated alike; none are used).
  const double e = std::exp(-w0 * t);
  const double b = v0 + w0 * x0;
  return {e * (x0 + b * t), e * (b - w0 * (x0 + b * t))};
}

Animated::Animated(double initial, QObject* parent)
    : QObject(parent), value_(initial), target_(initial) {
  timer_.setTimerType(Qt::PreciseTimer);
  timer_.setInterval(kFrameMs);
  connect(&timer_, &QTimer::timeout, this, &Animated::tick);
}

void Animated::jumpTo(double target) {
  timer_.stop();
  velocity_ = 0;
  target_ = target;
  if (value_ != target) {
    value_ = target;
    emit changed();
  }
}

void Animated::animateTo(double target, const Curve& curve) {
  if (animationsFrozen()) {
    jumpTo(target);
    return;
  }
  if (target == target_ && (running() || value_ == target)) return;
  if (running() && curve_.kind == Curve::Kind::spring && curve.kind == Curve::Kind::spring) {
    // Retargeting a moving spring keeps its momentum.
    const double t = animationSeconds(clock_);
    velocity_ = springAt(curve_.response, curve_.damping, from_ - target_, velocity_, t).velocity;
  } else if (curve.kind != Curve::Kind::spring) {
    velocity_ = 0;
  }
  target_ = target;
  from_ = value_;
  curve_ = curve;
  clock_.start();
  if (!timer_.isActive()) timer_.start();
}

void Animated::tick() {
  const double t = animationSeconds(clock_);
  bool done = false;
  if (curve_.kind == Curve::Kind::spring) {
    const SpringState s = springAt(curve_.response, curve_.damping, from_ - target_, velocity_, t);
    const double scale = std::max(std::abs(from_ - target_), 1e-9);
    value_ = target_ + s.position;
    done = std::abs(s.position) < 1e-3 * scale && std::abs(s.velocity) < 1e-2 * scale;
  } else {
    const double p = curve_.duration > 0 ? std::min(t / curve_.duration, 1.0) : 1.0;
    const double e = curve_.kind == Curve::Kind::easeOut ? easeOutAt(p) : easeInOutAt(p);
    value_ = from_ + (target_ - from_) * e;
    done = p >= 1.0;
  }
  if (done) {
    value_ = target_;
    velocity_ = 0;
    timer_.stop();
  }
  emit changed();
}

Repeating::Repeating(double period, bool autoreverses, QObject* parent)
    : QObject(parent), period_(period), autoreverses_(autoreverses) {
  timer_.setTimerType(Qt::PreciseTimer);
  timer_.setInterval(kFrameMs);
  connect(&timer_, &QTimer::timeout, this, &Repeating::changed);
}

double Repeating::phase() const {
  if (!started_) return 0;
  if (animationsFrozen()) return 1;
  const double t = animationSeconds(clock_) / period_;
  if (!autoreverses_) return easeOutAt(t - std::floor(t));
  const double cycle = std::fmod(t, 2.0);
  const double p = cycle <= 1.0 ? cycle : 2.0 - cycle;
  return easeInOutAt(p);
}

void Repeating::start() {
  if (!started_) {
    started_ = true;
    clock_.start();
  }
  if (!animationsFrozen() && !timer_.isActive()) timer_.start();
  emit changed();
}

void Repeating::stop() {
  timer_.stop();
}

}  // namespace vantry
