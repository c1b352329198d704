#include "design/coalesced_refresh.h"

#include <QMetaObject>

#include <algorithm>
#include <unordered_set>
#include <vector>

namespace vantry {

namespace {

// The refreshes requested and not yet run (main thread).
std::vector<CoalescedRefresh*>& pendingRefreshes() {
  static std::vector<CoalescedRefresh*> pending;
  return pending;
}

void forget(CoalescedRefresh* refresh) {
  auto& pending = pendingRefreshes();
  pending.erase(std::remove(pending.begin(), pending.end(), refresh), pending.end());
}

}  // namespace

CoalescedRefresh::CoalescedRefresh(QObject* owner, std::function<void()> refresh)
    : QObject(owner), refresh_(std::move(refresh)) {}

CoalescedRefresh::~CoalescedRefresh() {
  if (pending_) forget(this);
}

void CoalescedRefresh::request() {
  if (pending_) return;
  pending_ = true;
  pendingRefreshes().push_back(this);
  QMetaObject::invokeMethod(this, &CoalescedRefresh::flush, Qt::QueuedConnection);
}

void CoalescedRefresh::flush() {
  if (!pending_) return;
  pending_ = false;
  forget(this);
  refresh_();
}

bool CoalescedRefresh::flushPending() {
  // A refresh may ask for others; each runs once, in the order asked. One that asks for
  // itself again is left to its queued call, so that two views following each other
  // cannot hold the main thread here.
  auto& pending = pendingRefreshes();
  const bool any = !pending.empty();
  std::unordered_set<const CoalescedRefresh*> ran;
  while (!pending.empty() && ran.insert(pending.front()).second)
    pending.front()->flush();
  return any;
}

}  // namespace vantry
