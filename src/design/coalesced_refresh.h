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

  void request();
  // Runs a pending refresh now (tests, and views that must be current before painting).
  void flush();
  bool pending() const { return pending_; }

 private:
  std::function<void()> refresh_;
  bool pending_ = false;
};

}  // namespace vantry
