#include "model/motion_timeline.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "model/motion_engine.h"

namespace vantry {

namespace {

// Pointer positions slightly outside 0..1 are real (a window capture with the pointer
// beside it); positions near the top of the double range only come from a hand-edited
// file and would overflow the spring step.
constexpr double kPositionLimit = 1e6;

Point samplePoint(const PointerSample& sample) {
  return {std::clamp(sample.x, -kPositionLimit, kPositionLimit),
          std::clamp(sample.y, -kPositionLimit, kPositionLimit)};
}

// One spring step of 1/60 s with its decay computed once for the whole bake.
struct Step {
  double frequency;
  double decay;

  void operator()(MotionSpring& s, double target) const {
    constexpr double dt = 1.0 / 60;
    const double d = s.value - target;
    const double h = s.velocity + frequency * d;
    s.value = target + decay * (d + dt * h);
    s.velocity = decay * (s.velocity - dt * frequency * h);
  }
};

// The event list the bake reads is sorted and free of overlaps, so at most one event
// covers any time and a forward cursor finds it. A list that is not (which the model
// never produces) falls back to searching from the last event backward.
bool sortedAndDisjoint(const std::vector<ZoomEvent>& events) {
  for (std::size_t i = 1; i < events.size(); ++i) {
    if (!(events[i - 1].start <= events[i].start) || events[i - 1].end > events[i].start) {
      return false;
    }
  }
  return true;
}

}  // namespace

MotionTimeline::MotionTimeline() : frames(1) {}

std::size_t MotionTimeline::frameCount(double duration) {
  if (!std::isfinite(duration)) return 1;
  const double n = std::ceil(duration * fps) + 1;
  if (!(n >= 1)) return 1;
  if (n >= static_cast<double>(kMaxFrames)) return kMaxFrames;
  return static_cast<std::size_t>(n);
}

MotionTimeline::MotionTimeline(const Clip& clip, const EditSettings& settings) {
  // Samples in time order; equal times keep their document order. A recorded track is
  // already in order, so it is read in place.
  const std::vector<PointerSample>& stored = clip.samples.get();
  std::vector<PointerSample> sortedCopy;
  const std::vector<PointerSample>* samplesPtr = &stored;
  const auto byTime = [](const PointerSample& a, const PointerSample& b) {
    return a.time < b.time;
  };
  if (!std::is_sorted(stored.begin(), stored.end(), byTime)) {
    sortedCopy = stored;
    std::stable_sort(sortedCopy.begin(), sortedCopy.end(), byTime);
    samplesPtr = &sortedCopy;
  }
  const std::vector<PointerSample>& samples = *samplesPtr;

  std::vector<const PointerSample*> clicks;
  for (const PointerSample& s : samples) {
    if (s.clicked) clicks.push_back(&s);
  }

  const std::vector<ZoomEvent> events = clip.zoomEvents();
  const bool forwardSearch = sortedAndDisjoint(events);
  const double defaultAmount = motion::settingsAmount(settings);
  std::vector<double> targets;
  targets.reserve(events.size());
  for (const ZoomEvent& e : events) {
    targets.push_back(motion::usableAmount(e.amount).value_or(defaultAmount));
  }

  const std::size_t n = frameCount(clip.duration);
  frames.reserve(n);

  const double wz = motion::zoomFrequency(settings.smoothness);
  const double wp = motion::panFrequency(settings.smoothness);
  const Step zoomStep{wz, std::exp(-wz / 60)};
  const Step panStep{wp, std::exp(-wp / 60)};
  const Step pointerStep{motion::kPointerFrequency, std::exp(-motion::kPointerFrequency / 60)};

  MotionSpring zoom{1, 0};
  MotionSpring panX{0, 0};
  MotionSpring panY{0, 0};
  MotionSpring pointerX{0.5, 0};
  MotionSpring pointerY{0.5, 0};
  std::size_t j = 0;      // sample cursor
  std::ptrdiff_t c = -1;  // click cursor: none yet
  std::ptrdiff_t e = -1;  // last event starting at or before t (forward search)
  const std::size_t lastSample = samples.empty() ? 0 : samples.size() - 1;
  const std::ptrdiff_t clickCount = static_cast<std::ptrdiff_t>(clicks.size());
  const std::ptrdiff_t eventCount = static_cast<std::ptrdiff_t>(events.size());

  for (std::size_t i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / 60;

    Point raw{0.5, 0.5};
    if (!samples.empty()) {
      while (j + 1 <= lastSample && samples[j + 1].time <= t)
        ++j;
      const std::size_t k = std::min(j + 1, lastSample);
      const double tj = samples[j].time;
      const double tk = samples[k].time;
      double u = 0;
      if (tj < tk) {
        u = std::clamp((t - tj) / (tk - tj), 0.0, 1.0);
        if (std::isnan(u)) u = 0;
      }
      const Point pj = samplePoint(samples[j]);
      const Point pk = samplePoint(samples[k]);
      raw = {pj.x + u * (pk.x - pj.x), pj.y + u * (pk.y - pj.y)};
    }

    while (c + 1 < clickCount && clicks[c + 1]->time <= t)
      ++c;
    const PointerSample* lastClick = c >= 0 ? clicks[c] : nullptr;

    std::ptrdiff_t active = -1;
    if (forwardSearch) {
      while (e + 1 < eventCount && events[e + 1].start <= t)
        ++e;
      if (e >= 0 && t < events[e].end) active = e;
    } else {
      for (std::ptrdiff_t m = eventCount - 1; m >= 0; --m) {
        if (events[m].start <= t && t < events[m].end) {
          active = m;
          break;
        }
      }
    }

    Point focus = raw;
    double pulse = -1;
    if (active >= 0) {
      const ZoomEvent& event = events[active];
      if (lastClick && lastClick->time >= event.start) {
        focus = {lastClick->x, lastClick->y};
        pulse = t - lastClick->time;
      } else {
        focus = event.center;
        pulse = t - event.start;
      }
    }

    const bool zooming = settings.zoomEnabled && active >= 0;
    const double zoomTarget = zooming ? targets[active] : 1;

    if (i == 0) {
      pointerX.value = raw.x;
      pointerY.value = raw.y;
    }
    pointerStep(pointerX, raw.x);
    pointerStep(pointerY, raw.y);

    double targetX = 0;
    double targetY = 0;
    if (zooming) {
      const Point source = settings.follow ? Point{pointerX.value, pointerY.value} : focus;
      targetX = motion::panTarget(source.x);
      targetY = motion::panTarget(source.y);
    }
    panStep(panX, targetX);
    panStep(panY, targetY);
    zoomStep(zoom, zoomTarget);

    frames.push_back(motion::frameFor(zoom.value, panX.value, panY.value,
                                      {pointerX.value, pointerY.value}, pulse));
  }
}

FrameState MotionTimeline::state(double at) const {
  if (frames.empty()) return {};  // only a caller that emptied the table by hand
  const double last = static_cast<double>(frames.size() - 1);
  double x = at * fps;
  if (std::isnan(x)) x = 0;
  x = std::clamp(x, 0.0, last);
  const std::size_t i = static_cast<std::size_t>(x);
  const std::size_t j = std::min(i + 1, frames.size() - 1);
  const double f = x - static_cast<double>(i);
  const FrameState& a = frames[i];
  const FrameState& b = frames[j];
  const auto mix = [f](double p, double q) { return p + (q - p) * f; };

  FrameState s;
  s.zoom = mix(a.zoom, b.zoom);
  s.center = {mix(a.center.x, b.center.x), mix(a.center.y, b.center.y)};
  s.pointer = {mix(a.pointer.x, b.pointer.x), mix(a.pointer.y, b.pointer.y)};
  s.pulse = a.pulse + f / fps;
  s.presenterMix = 0;
  return s;
}

}  // namespace vantry
