// Zoom events: automatic ones from clicks, the edited override, and the edits behind
// the zoom lane.
#include <algorithm>
#include <cmath>

#include "model/clip.h"

namespace vantry {

namespace {

constexpr double kRelease = 0.65;
constexpr double kDefaultHold = 2.3;
constexpr double kFrame = 1.0 / 60;
constexpr double kMinimumAdded = 0.25;
constexpr double kMinimumResized = 0.2;
constexpr double kResizeAcceptance = 0.199999999;
constexpr double kGapTolerance = 1e-9;
constexpr double kMinimumAmount = 1.1;
constexpr double kMaximumAmount = 4.0;

double clamp01(double v) {
  return std::max(std::min(v, 1.0), 0.0);
}

}  // namespace

std::vector<ZoomEvent> Clip::defaultZoomEvents() const {
  const double hold = savedSettings ? savedSettings->hold : kDefaultHold;
  std::vector<const PointerSample*> clicks;
  for (const PointerSample& sample : samples) {
    if (sample.clicked) clicks.push_back(&sample);
  }
  std::stable_sort(
      clicks.begin(), clicks.end(),
      [](const PointerSample* a, const PointerSample* b) { return a->time < b->time; });

  std::vector<ZoomEvent> events;
  for (const PointerSample* click : clicks) {
    const double c = click->time;
    const double end = std::min(hold + c + kRelease, duration);
    if (!events.empty() && c < events.back().end) {
      events.back().end = std::max(events.back().end, end);
      continue;
    }
    events.push_back(ZoomEvent{derivedZoomID(id, c), c, end, Point{click->x, click->y}, {}});
  }
  return events;
}

std::vector<ZoomEvent> Clip::nonOverlapping(std::vector<ZoomEvent> events) {
  std::stable_sort(events.begin(), events.end(),
                   [](const ZoomEvent& a, const ZoomEvent& b) { return a.start < b.start; });
  for (std::size_t i = 0; i + 1 < events.size(); ++i) {
    if (events[i].end > events[i + 1].start) events[i].end = events[i + 1].start;
  }
  std::erase_if(events, [](const ZoomEvent& e) { return !(e.duration() > kFrame); });
  return events;
}

std::vector<ZoomEvent> Clip::zoomEvents() const {
  return nonOverlapping(zoomEventsOverride ? *zoomEventsOverride : defaultZoomEvents());
}

void Clip::setZoomEvents(std::vector<ZoomEvent> events) {
  zoomEventsOverride = nonOverlapping(std::move(events));
}

std::optional<ZoomEvent> Clip::zoom(double sourceTime) const {
  for (const ZoomEvent& e : zoomEvents()) {
    if (e.start <= sourceTime && sourceTime < e.end) return e;
  }
  return std::nullopt;
}

std::optional<Uuid> Clip::addZoom(double sourceTime, double length, Point center) {
  // A NaN here would reach the document and make every later save fail.
  if (!std::isfinite(sourceTime) || !std::isfinite(length) || !std::isfinite(center.x) ||
      !std::isfinite(center.y)) {
    return std::nullopt;
  }
  const double a = std::max(std::min(sourceTime, duration), 0.0);
  if (zoom(a)) return std::nullopt;
  std::vector<ZoomEvent> events = zoomEvents();
  double limit = duration;
  for (const ZoomEvent& e : events) {
    if (e.start > a) {
      limit = e.start;
      break;
    }
  }
  const double end = std::min(a + std::max(length, kFrame), limit);
  if (end - a < kMinimumAdded) return std::nullopt;
  ZoomEvent added{Uuid::random(), a, end, Point{clamp01(center.x), clamp01(center.y)}, {}};
  events.push_back(added);
  setZoomEvents(std::move(events));
  return added.id;
}

bool Clip::moveZoom(const Uuid& eventID, double wantedStart) {
  if (!std::isfinite(wantedStart)) return false;
  std::vector<ZoomEvent> events = zoomEvents();
  const auto found = std::find_if(events.begin(), events.end(),
                                  [&](const ZoomEvent& e) { return e.id == eventID; });
  if (found == events.end()) return false;
  const double d = found->duration();

  struct Gap {
    double start;
    double end;
  };
  std::vector<Gap> gaps;
  double g = 0;
  for (auto it = events.begin(); it != events.end(); ++it) {
    if (it == found) continue;
    if (g < it->start) gaps.push_back({g, it->start});
    g = std::max(g, it->end);
  }
  if (g < duration) gaps.push_back({g, duration});

  std::optional<double> choice;
  for (const Gap& gap : gaps) {
    if (!(gap.end - gap.start >= d - kGapTolerance)) continue;
    const double candidate = std::max(gap.start, std::min(wantedStart, gap.end - d));
    if (!choice || std::abs(candidate - wantedStart) < std::abs(*choice - wantedStart)) {
      choice = candidate;
    }
  }
  if (!choice) return false;
  found->start = *choice;
  found->end = *choice + d;
  setZoomEvents(std::move(events));
  return true;
}

bool Clip::resizeZoom(const Uuid& eventID, std::optional<double> start, std::optional<double> end) {
  if ((start && !std::isfinite(*start)) || (end && !std::isfinite(*end))) return false;
  std::vector<ZoomEvent> events = zoomEvents();
  const auto found = std::find_if(events.begin(), events.end(),
                                  [&](const ZoomEvent& e) { return e.id == eventID; });
  if (found == events.end()) return false;

  double lower = 0;
  bool anyBefore = false;
  double upper = duration;
  bool anyAfter = false;
  for (auto it = events.begin(); it != events.end(); ++it) {
    if (it == found) continue;
    if (it->start < found->start) {
      lower = anyBefore ? std::max(lower, it->end) : it->end;
      anyBefore = true;
    } else if (it->start > found->start) {
      upper = anyAfter ? std::min(upper, it->start) : it->start;
      anyAfter = true;
    }
  }

  ZoomEvent changed = *found;
  if (start) changed.start = std::max(lower, std::min(*start, changed.end - kMinimumResized));
  if (end) changed.end = std::min(std::max(*end, changed.start + kMinimumResized), upper);
  if (!(changed.end - changed.start >= kResizeAcceptance) || changed == *found) return false;
  *found = changed;
  setZoomEvents(std::move(events));
  return true;
}

bool Clip::setZoomAmount(const Uuid& eventID, std::optional<double> amount) {
  if (amount && !std::isfinite(*amount)) return false;
  std::vector<ZoomEvent> events = zoomEvents();
  const auto found = std::find_if(events.begin(), events.end(),
                                  [&](const ZoomEvent& e) { return e.id == eventID; });
  if (found == events.end()) return false;
  std::optional<double> clamped;
  if (amount) clamped = std::max(std::min(*amount, kMaximumAmount), kMinimumAmount);
  if (found->amount == clamped) return false;
  found->amount = clamped;
  setZoomEvents(std::move(events));
  return true;
}

void Clip::removeZoom(const Uuid& eventID) {
  std::vector<ZoomEvent> events = zoomEvents();
  std::erase_if(events, [&](const ZoomEvent& e) { return e.id == eventID; });
  setZoomEvents(std::move(events));
}

std::vector<ZoomBlock> Clip::zoomBlocks() const {
  const std::vector<ZoomEvent> events = zoomEvents();
  std::vector<ZoomBlock> blocks;
  for (const PlacedRange& p : placedRanges()) {
    for (const ZoomEvent& z : events) {
      const double s = std::max(p.range.start, z.start);
      const double e = std::min(z.end, p.range.end);
      if (s < e) {
        blocks.push_back(
            ZoomBlock{{z.id, p.range.id, s}, e, s + p.start - p.range.start, z.center, z.amount});
      }
    }
  }
  std::stable_sort(blocks.begin(), blocks.end(), [](const ZoomBlock& a, const ZoomBlock& b) {
    return a.outputStart < b.outputStart;
  });
  return blocks;
}

}  // namespace vantry
