#pragma once

// Screen-reader views of the custom-painted controls: the slider as a standard slider over
// its range and step, the pill segments as a group of radio buttons with the selected one
// checked. Installed once, by the first control that needs it.

namespace vantry {

class PillSegment;

void installDesignAccessibility();
// Drops the per-segment views made for a pill that is going away.
void releaseSegmentAccess(PillSegment* pill);

}  // namespace vantry
