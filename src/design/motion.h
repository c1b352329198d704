#pragma once

// Small animation helpers for the custom-painted controls: eased or spring-driven scalars
// and endlessly repeating phases. A process-wide switch freezes every animation at its end
// value so screenshots and tests are deterministic.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

namespace vantry {

// Frozen animations jump straight to their targets and repeating ones rest at their end
// value. Also switched on by the environment variable VANTRY_FREEZE_ANIMATIONS=1.
bool animationsFrozen();
void setAnimationsFrozen(bool frozen);
// Runs every animation `factor` times slower: a test on a loaded machine then still sees the
// frames between the ends of a short one.
void setAnimationsSlowedBy(double factor);

struct Curve {
  enum class Kind { easeOut, easeInOut, spring };
  Kind kind = Kind::easeOut;
  double duration = 0.12;  // seconds, for the eased kinds
  double response = 0.3;   // seconds per undamped oscillation, for springs
  double damping = 0.8;    // damping fraction, for springs

  static Curve easeOut(double seconds) { return {Kind::easeOut, seconds, 0, 0}; }
  static Curve easeInOut(double seconds) { return {Kind::easeInOut, seconds, 0, 0}; }
  static Curve spring(double response, double dampingFraction) {
    return {Kind::spring, 0, response, dampingFraction};
  }
};

// Ease-out and ease-in-out as cubic Béziers (0.0,0.0,0.58,1.0) and (0.42,0.0,0.58,1.0),
// evaluated at progress t in 0...1.
double easeOutAt(double t);
double easeInOutAt(double t);

// Position and velocity of a spring released at displacement x0 (from its rest point) with
// velocity v0, after t seconds.
struct SpringState {
  double position;
  double velocity;
};
SpringState springAt(double response, double damping, double x0, double v0, double t);

// One scalar that moves towards its target along a curve. Emits changed() on every frame
// while it moves; the owner repaints from value().
class Animated : public QObject {
  Q_OBJECT

 public:
  explicit Animated(double initial, QObject* parent = nullptr);

  double value() const { return value_; }
  double target() const { return target_; }
  bool running() const { return timer_.isActive(); }

  void animateTo(double target, const Curve& curve);
  void jumpTo(double target);

 signals:
  void changed();

 private:
  void tick();

  double value_;
  double target_;
  double from_ = 0;
  double velocity_ = 0;  // springs only
  Curve curve_;
  QElapsedTimer clock_;
  QTimer timer_;
};

// An endlessly repeating phase in 0...1 (ease-out without reversing, or ease-in-out with
// reversing). Starts once; stop() only pauses the frames (for a hidden control) and start()
// resumes them. Frozen, it rests at 1.
class Repeating : public QObject {
  Q_OBJECT

 public:
  Repeating(double period, bool autoreverses, QObject* parent = nullptr);

  double phase() const;
  // Milliseconds between frames (16 by default); a slow glow looks the same at 33 and
  // repaints half as often.
  void setFrameInterval(int ms) { timer_.setInterval(ms); }
  void start();
  void stop();
  bool started() const { return started_; }

 signals:
  void changed();

 private:
  double period_;
  bool autoreverses_;
  bool started_ = false;
  QElapsedTimer clock_;
  QTimer timer_;
};

}  // namespace vantry
