// What screen readers see of the lane area: every segment, zoom block, trim handle and
// presenter block as a button with the timeline's own labels.
#pragma once

#include <QString>

#include <vector>

namespace vantry::timeline {

class TimelineLanes;

// One element of the lane area as a screen reader sees it.
struct LaneElement {
  enum class Kind { segment, zoom, leadingHandle, trailingHandle, presenter };
  Kind kind;
  std::size_t index;  // the block in its lane
};

std::vector<LaneElement> laneElements(const TimelineLanes& lanes);
QString elementName(const TimelineLanes& lanes, const LaneElement& element);
// "已选中" / "未选中" for presenter blocks, empty for the rest.
QString elementValue(const TimelineLanes& lanes, const LaneElement& element);
bool elementSelected(const TimelineLanes& lanes, const LaneElement& element);

void installTimelineAccessibility();
// Drops the element views made for lanes that are going away.
void releaseTimelineAccess(TimelineLanes* lanes);

}  // namespace vantry::timeline
