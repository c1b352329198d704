// Kept ranges: the segments of the recording that stay, laid end to end as the
// edited (output) timeline.
#include <algorithm>
#include <cmath>

#include "model/clip.h"

namespace vantry {

std::vector<SourceRange> Clip::ranges() const {
  std::vector<SourceRange> result;
  if (!keptRanges) {
    SourceRange whole{id, 0, duration};
    whole.start = std::max(std::min(whole.start, duration), 0.0);
    whole.end = std::max(std::min(whole.end, duration), 0.0);
    if (whole.start < whole.end) result.push_back(whole);
    return result;
  }
  result.reserve(keptRanges->size());
  for (const SourceRange& stored : *keptRanges) {
    const double start = std::max(std::min(stored.start, duration), 0.0);
    const double end = std::max(std::min(stored.end, duration), 0.0);
    if (start < end) result.push_back(SourceRange{stored.id, start, end});
  }
  return result;
}

std::vector<PlacedRange> Clip::placedRanges() const {
  std::vector<PlacedRange> placed;
  double running = 0;
  for (const SourceRange& range : ranges()) {
    placed.push_back(PlacedRange{range, running});
    running += range.duration();
  }
  return placed;
}

double Clip::editedDuration() const {
  double total = 0;
  for (const SourceRange& range : ranges())
    total += range.duration();
  return total;
}

double Clip::sourceTime(double outputTime) const {
  const std::vector<PlacedRange> placed = placedRanges();
  if (placed.empty()) return 0;
  const double total = placed.back().end();
  const double t = std::max(std::min(outputTime, total), 0.0);
  for (const PlacedRange& p : placed) {
    if (p.end() > t) return t - p.start + p.range.start;
  }
  return placed.back().range.end;
}

std::optional<double> Clip::outputTime(double sourceTime) const {
  for (const PlacedRange& p : placedRanges()) {
    if (p.range.start <= sourceTime && sourceTime < p.range.end) {
      return sourceTime + p.start - p.range.start;
    }
  }
  return std::nullopt;
}

std::optional<Uuid> Clip::split(double outputTime) {
  const double m = std::round(outputTime * 60) / 60;
  const std::vector<PlacedRange> placed = placedRanges();
  // Found by position, not by id: a hand-edited file may repeat an id.
  std::size_t index = placed.size();
  for (std::size_t i = 0; i < placed.size(); ++i) {
    if (m > placed[i].start + 1.0 / 120 && m < placed[i].end() - 1.0 / 120) {
      index = i;
      break;
    }
  }
  if (index == placed.size()) return std::nullopt;
  const PlacedRange& p = placed[index];
  const double cut = m + p.range.start - p.start;

  std::vector<SourceRange> list = ranges();
  SourceRange right{Uuid::random(), cut, list[index].end};
  list[index].end = cut;
  list.insert(list.begin() + static_cast<std::ptrdiff_t>(index) + 1, right);
  keptRanges = std::move(list);
  return right.id;
}

bool Clip::deleteRange(const Uuid& rangeID) {
  std::vector<SourceRange> list = ranges();
  if (list.size() <= 1) return false;
  // Only the range found goes: with ids repeated in a hand-edited file, removing every
  // match could delete the wrong segments or leave none at all.
  const auto found =
      std::find_if(list.begin(), list.end(), [&](const SourceRange& r) { return r.id == rangeID; });
  if (found == list.end()) return false;
  list.erase(found);
  keptRanges = std::move(list);
  return true;
}

}  // namespace vantry
