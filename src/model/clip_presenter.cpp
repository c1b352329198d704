// Presenter layout: which camera layout holds when, as a step function of source time.
#include <algorithm>
#include <cmath>

#include "model/clip.h"
#include "model/motion_spring.h"

namespace vantry {

namespace {

constexpr double kReplaceWindow = 1.0 / 120;
constexpr double kMixFrequency = 10;

void sortByTime(std::vector<PresenterEvent>& events) {
  std::stable_sort(
      events.begin(), events.end(),
      [](const PresenterEvent& a, const PresenterEvent& b) { return a.time < b.time; });
}

}  // namespace

bool Clip::presenterIsFull(double sourceTime) const {
  if (!presenterEvents) return false;
  const PresenterEvent* choice = nullptr;
  for (const PresenterEvent& e : *presenterEvents) {
    if (!(e.time <= sourceTime)) continue;
    if (!choice || e.time > choice->time) choice = &e;
  }
  return choice ? choice->fullScreen : false;
}

bool Clip::presenterIsFullAtOutput(double outputTime) const {
  const std::vector<PlacedRange> placed = placedRanges();
  if (!placed.empty() && !std::isnan(outputTime) && outputTime >= placed.back().end()) {
    const std::vector<PresenterBlock> blocks = presenterBlocks();
    if (!blocks.empty()) return blocks.back().fullScreen;
  }
  return presenterIsFull(sourceTime(outputTime));
}

void Clip::setPresenter(bool fullScreen, double sourceTime) {
  // A NaN time would land in the document and make every later save fail.
  if (std::isnan(sourceTime)) return;
  const double t = std::max(std::min(sourceTime, duration), 0.0);
  std::vector<PresenterEvent> events = presenterEvents.value_or(std::vector<PresenterEvent>{});
  std::erase_if(events,
                [&](const PresenterEvent& e) { return std::abs(e.time - t) <= kReplaceWindow; });
  events.push_back(PresenterEvent{Uuid::random(), t, fullScreen});
  sortByTime(events);
  presenterEvents = std::move(events);
}

void Clip::setPresenter(bool fullScreen, const PresenterBlock& block) {
  const std::vector<PresenterBlock> blocks = presenterBlocks();
  const auto found = std::find_if(blocks.begin(), blocks.end(), [&](const PresenterBlock& b) {
    return b.id == block.id && b.sourceEnd == block.sourceEnd;
  });
  if (found == blocks.end()) return;
  const double s = found->id.sourceStart;
  const double e = found->sourceEnd;
  const bool after = presenterIsFull(e);

  std::vector<PresenterEvent> events = presenterEvents.value_or(std::vector<PresenterEvent>{});
  std::erase_if(events, [&](const PresenterEvent& ev) { return s <= ev.time && ev.time < e; });
  events.push_back(PresenterEvent{Uuid::random(), s, fullScreen});
  const bool standsAtEnd = std::any_of(events.begin(), events.end(),
                                       [&](const PresenterEvent& ev) { return ev.time == e; });
  if (e < duration && !standsAtEnd) events.push_back(PresenterEvent{Uuid::random(), e, after});
  sortByTime(events);
  presenterEvents = std::move(events);
}

std::vector<PresenterBlock> Clip::presenterBlocks() const {
  // The events sorted once (stable, so that among equal times the first stored one decides,
  // as in presenterIsFull); each range then takes its own stretch of them.
  std::vector<PresenterEvent> events;
  if (presenterEvents) {
    events.reserve(presenterEvents->size());
    for (const PresenterEvent& e : *presenterEvents)
      if (!std::isnan(e.time)) events.push_back(e);
  }
  sortByTime(events);
  // Layout from a time on: the first event of the last group at or before it.
  std::vector<bool> fullFrom(events.size());
  for (std::size_t i = 0; i < events.size(); ++i)
    fullFrom[i] =
        i > 0 && events[i].time == events[i - 1].time ? fullFrom[i - 1] : events[i].fullScreen;
  auto fullAt = [&](double t) {
    const auto after =
        std::upper_bound(events.begin(), events.end(), t,
                         [](double v, const PresenterEvent& e) { return v < e.time; });
    return after == events.begin() ? false
                                   : static_cast<bool>(fullFrom[after - events.begin() - 1]);
  };

  std::vector<PresenterBlock> blocks;
  for (const PlacedRange& p : placedRanges()) {
    const auto first =
        std::upper_bound(events.begin(), events.end(), p.range.start,
                         [](double v, const PresenterEvent& e) { return v < e.time; });
    std::vector<double> times{p.range.start};
    for (auto e = first; e != events.end() && e->time < p.range.end; ++e)
      if (e->time != times.back()) times.push_back(e->time);
    for (std::size_t i = 0; i < times.size(); ++i) {
      const double t = times[i];
      const double end = i + 1 < times.size() ? times[i + 1] : p.range.end;
      blocks.push_back(
          PresenterBlock{{p.range.id, t}, end, t + p.start - p.range.start, fullAt(t)});
    }
  }
  return blocks;
}

double Clip::presenterMix(double sourceTime) const {
  std::vector<PresenterEvent> events = presenterEvents.value_or(std::vector<PresenterEvent>{});
  sortByTime(events);
  double target = 0;
  if (!events.empty() && events.front().time <= 0) target = events.front().fullScreen ? 1 : 0;
  MotionSpring spring{target, 0};
  double o = 0;
  for (const PresenterEvent& e : events) {
    if (!(e.time <= sourceTime)) continue;
    spring.advance(target, kMixFrequency, std::max(e.time - o, 0.0));
    target = e.fullScreen ? 1 : 0;
    o = std::max(e.time, 0.0);
  }
  spring.advance(target, kMixFrequency, std::max(sourceTime - o, 0.0));
  return spring.value;
}

}  // namespace vantry
