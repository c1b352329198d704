// What the user chose to record (a display or one window), turned into what a capture
// stream needs, with the source's rectangle in global display points; plus the mapping of
// a pointer position into the captured frame.
#pragma once

#include <optional>

#include "model/point.h"
#include "platform/screen_source.h"

namespace vantry {

struct CaptureTarget {
  platform::ContentFilter filter;
  platform::Rect rect;  // global display points (root coordinates on X11)

  // No windowID: the display, minus every window of this application (all its instances, as
  // the backend tells them: ApplicationInfo::thisApplication; none when `ownApplication` is
  // not marked so).
  // A windowID: that window alone; displayID then plays no part. Throws StudioError when the
  // display is gone or the window is gone or has no area.
  static CaptureTarget resolve(const platform::ShareableContent& content,
                               platform::DisplayId displayID,
                               std::optional<platform::WindowId> windowID,
                               const platform::ApplicationInfo& ownApplication);

  // The pointer's place in the captured frame, which shows `rect` fitted into `canvas`
  // (proportions kept, centred), as fractions 0..1 of the canvas, y down, clamped. Degenerate
  // input (a rect or canvas without area, or not a number) gives the centre.
  static Point normalizedPointer(platform::Point point, const platform::Rect& rect,
                                 platform::Size canvas);

  // The window's current frame, or nullopt when it cannot be read (keep the previous one).
  static std::optional<platform::Rect> windowRect(platform::ScreenCapture& capture,
                                                  platform::WindowId windowID);
};

}  // namespace vantry
