#pragma once

// Many published changes in one event-loop turn redraw a view once: request() only marks it
// dirty, and the refresh runs when the loop comes round.

#include <QObject>

#include <functional>

namespace vantry {

class CoalescedRefresh : public QObject {
  Q_OBJECT

 public:
  CoalescedRefresh(QObject* owner, std::function<void()> refresh);

  ~CoalescedRefresh() override;

  void request();
  // Runs a pending refresh now (tests, and views that must be current before painting).
  void flush();
  bool pending() const { return pending_; }
  // Runs every pending refresh now: a window about to paint brings its views up to date.
  // True when there was one.
  static bool flushPending();

 private:
  std::function<void()> refresh_;
  bool pending_ = false;
};

}  // namespace vantry
