#include "timeline/timeline_geometry.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "model/timeline_scale.h"

namespace vantry::timeline {

Span rowSpan(Row row) {
  switch (row) {
    case Row::ruler:
      return {0, rulerHeight};
    case Row::video:
      return {rulerHeight + gap, videoHeight};
    case Row::zoom:
      return {rulerHeight + videoHeight + 2 * gap, zoomHeight};
    case Row::presenter:
      return {rulerHeight + videoHeight + zoomHeight + 3 * gap, presenterHeight};
  }
  return {};
}

std::optional<Row> rowAt(double y) {
  for (Row row : {Row::ruler, Row::video, Row::zoom, Row::presenter}) {
    if (rowSpan(row).contains(y)) return row;
  }
  return std::nullopt;
}

double clampZoom(double zoom) {
  if (!(zoom >= minZoom)) return minZoom;  // NaN as well
  return std::min(zoom, maxZoom);
}

std::optional<double> fitToWidthZoom(double viewport, double duration) {
  if (!(duration > 0) || !std::isfinite(viewport)) return std::nullopt;
  return clampZoom((viewport - 2 * contentPadding) / duration / TimelineScale::pixelsPerSecond(1));
}

double contentWidth(double viewport, double pps, double duration) {
  return std::max(viewport - 2 * contentPadding, pps * duration);
}

int wholePoints(double points) {
  constexpr int most = std::numeric_limits<int>::max();
  if (!(points > 0)) return 0;
  return points < most ? static_cast<int>(std::lround(points)) : most;
}

int scrollRange(double width, int viewport) {
  return wholePoints(std::ceil(width + 2 * contentPadding) - viewport);
}

double playheadX(double time, double pps, double width) {
  return std::min(pps * time, width);
}

std::vector<SegmentShape> segmentShapes(const std::vector<PlacedRange>& ranges, double pps) {
  std::vector<SegmentShape> out;
  out.reserve(ranges.size());
  int number = 1;
  for (const PlacedRange& p : ranges) {
    const double d = p.range.duration();
    const double w = std::max(pps * d - 2, 1.0);
    out.push_back({p.id(), number++, p.start, d, {pps * p.start + 1, w}, w > 110});
  }
  return out;
}

std::vector<PresenterShape> presenterShapes(const std::vector<PresenterBlock>& blocks, double pps) {
  std::vector<PresenterShape> out;
  out.reserve(blocks.size());
  for (const PresenterBlock& b : blocks) {
    const double w = std::max(pps * b.duration() - 2, 1.0);
    out.push_back({b, {pps * b.outputStart + 1, w}, w > 64});
  }
  return out;
}

std::vector<ZoomShape> zoomShapes(const std::vector<ZoomBlock>& blocks, double pps) {
  std::vector<ZoomShape> out;
  out.reserve(blocks.size());
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    const ZoomBlock& b = blocks[i];
    ZoomShape s{b, {pps * b.outputStart, std::max(pps * b.duration() - 1, 4.0)}};
    // Pieces of one event are neighbours in the list: it is in output order and the
    // event's pieces lie end to end.
    s.firstPiece = i == 0 || blocks[i - 1].id.eventID != b.id.eventID;
    s.lastPiece = i + 1 == blocks.size() || blocks[i + 1].id.eventID != b.id.eventID;
    out.push_back(s);
  }
  return out;
}

bool zoomShowsTitle(double width) {
  return width > 54;
}

bool zoomShowsAmount(double width) {
  return width > 40;
}

Rect trimPreview(Rect rect, bool leading, double dx) {
  if (leading) {
    const double m = std::min(dx, rect.width - trimPreviewMinimum);
    return {rect.x + m, rect.width - m};
  }
  return {rect.x, std::max(rect.width + dx, trimPreviewMinimum)};
}

std::optional<EventSpan> eventSpan(const std::vector<ZoomBlock>& blocks, const Uuid& eventID) {
  std::optional<EventSpan> span;
  for (const ZoomBlock& b : blocks) {
    if (b.id.eventID != eventID) continue;
    if (!span) {
      span = EventSpan{b.outputStart, b.outputEnd()};
    } else {
      span->start = std::min(span->start, b.outputStart);
      span->end = std::max(span->end, b.outputEnd());
    }
  }
  return span;
}

double moveTarget(const EventSpan& event, double dx, double pps, double duration) {
  const double wanted = event.start + dx / pps;
  return std::max(std::min(wanted, duration - event.length()), 0.0);
}

double trimTarget(const EventSpan& event, bool leading, double dx, double pps) {
  return (leading ? event.start : event.end) + dx / pps;
}

double ghostWidth(double t, const std::vector<ZoomBlock>& blocks, double duration, double pps,
                  double length) {
  double next = duration;
  for (const ZoomBlock& b : blocks) {
    if (b.outputStart > t) {
      next = b.outputStart;
      break;
    }
  }
  const double end = std::min(t + length, next);
  return std::max(pps * (end - t) - 1, 6.0);
}

std::optional<Ghost> ghostAt(double t, const std::vector<ZoomBlock>& blocks, double duration,
                             double pps, double length) {
  if (!std::isfinite(t)) return std::nullopt;
  for (const ZoomBlock& b : blocks) {
    if (b.outputStart <= t && t < b.outputEnd()) return std::nullopt;
  }
  const double w = ghostWidth(t, blocks, duration, pps, length);
  return Ghost{t, {pps * t, w}, w > 70};
}

std::size_t tickCount(double duration, double step) {
  if (!(step > 0) || !(duration >= 0) || !std::isfinite(duration)) return 1;
  // Capped where doubles stop counting in ones: the indices go back and forth.
  constexpr double most = 9007199254740992.0;  // 2^53
  const double whole = std::floor(duration / step + 1e-9);
  return static_cast<std::size_t>(std::min(whole, most)) + 1;
}

namespace {

struct IndexRange {
  std::size_t first = 1;  // empty unless first <= last
  std::size_t last = 0;
};

// The indices of the ticks `step` apart whose x lies in [from, to].
IndexRange visibleIndices(double duration, double step, double pps, double from, double to) {
  const double spacing = pps * step;
  if (!(spacing > 0) || !std::isfinite(spacing)) return {};
  const double count = static_cast<double>(tickCount(duration, step));
  const double first = std::max(std::ceil(from / spacing - 1e-9), 0.0);
  const double last = std::min(std::floor(to / spacing + 1e-9), count - 1);
  if (!(first <= last)) return {};
  return {static_cast<std::size_t>(first), static_cast<std::size_t>(last)};
}

}  // namespace

std::vector<Tick> ticks(double duration, double pps, double from, double to) {
  std::vector<Tick> out;
  const double minor = TimelineScale::minorStep(pps);
  const double major = TimelineScale::majorStep(pps);
  const IndexRange minors = visibleIndices(duration, minor, pps, from, to);
  for (std::size_t i = minors.first; i <= minors.last; ++i) {
    const double t = minor * static_cast<double>(i);
    out.push_back({pps * t, t, false, {}});
  }
  const IndexRange majors = visibleIndices(duration, major, pps, from, to);
  for (std::size_t j = majors.first; j <= majors.last; ++j) {
    const double t = major * static_cast<double>(j);
    out.push_back({pps * t, t, true, tickLabel(t, major)});
  }
  return out;
}

std::vector<double> gridLines(double duration, double pps, double from, double to) {
  std::vector<double> out;
  const double major = TimelineScale::majorStep(pps);
  const IndexRange majors = visibleIndices(duration, major, pps, from, to);
  for (std::size_t j = majors.first; j <= majors.last; ++j)
    out.push_back(pps * major * static_cast<double>(j));
  return out;
}

std::string fixed(double value, int decimals) {
  // A value that rounds to zero prints without a sign: no label or length means "-0.0".
  if (std::abs(value) < 0.5 * std::pow(10.0, -decimals)) value = 0;
  char buffer[400];
  const auto r =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  return r.ec == std::errc() ? std::string(buffer, r.ptr) : std::string("?");
}

std::string clockText(double seconds) {
  const long long whole = static_cast<long long>(std::max(seconds, 0.0));
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%02lld:%02lld", whole / 60, whole % 60);
  return buffer;
}

std::string tickLabel(double t, double majorStep) {
  const bool subSecond = majorStep < 1;
  if (t < 60) return fixed(t, subSecond ? 1 : 0) + "s";
  if (!subSecond) return clockText(t);
  const long long tenths = std::llround(t * 10);
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%02lld:%02lld.%lld", tenths / 600, tenths % 600 / 10,
                tenths % 10);
  return buffer;
}

std::optional<int> tickedMagnification(std::optional<double> amount) {
  if (!amount) return std::nullopt;
  for (int i = 0; i < static_cast<int>(std::size(kMagnifications)); ++i) {
    if (std::abs(*amount - kMagnifications[i]) < 0.001) return i;
  }
  return std::nullopt;
}

}  // namespace vantry::timeline
