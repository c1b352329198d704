#include "capture/capture_target.h"

#include <algorithm>
#include <cmath>

#include "localization/localization.h"
#include "platform/studio_error.h"

namespace vantry {

CaptureTarget CaptureTarget::resolve(const platform::ShareableContent& content,
                                     platform::DisplayId displayID,
                                     std::optional<platform::WindowId> windowID,
                                     const platform::ApplicationInfo& ownApplication) {
  CaptureTarget target;
  if (windowID) {
    auto it = std::find_if(content.windows.begin(), content.windows.end(),
                           [&](const platform::WindowInfo& w) { return w.id == *windowID; });
    if (it == content.windows.end() || !(it->frame.width > 0) || !(it->frame.height > 0)) {
      throw StudioError(L("所选窗口已关闭，请重新选择。"));
    }
    target.filter.kind = platform::ContentFilter::Kind::window;
    target.filter.window = it->id;
    target.filter.rect = it->frame;
    target.rect = it->frame;
    return target;
  }

  auto it = std::find_if(content.displays.begin(), content.displays.end(),
                         [&](const platform::DisplayInfo& d) { return d.id == displayID; });
  if (it == content.displays.end()) throw StudioError(L("所选屏幕已断开，请重新选择。"));
  target.filter.kind = platform::ContentFilter::Kind::display;
  target.filter.display = it->id;
  target.filter.rect = it->frame;
  target.filter.pointPixelScale = it->pointPixelScale;
  if (ownApplication.thisApplication) {
    // Every running instance, and this one even before it shows a window. A name is no
    // proof: any program can take ours.
    for (const platform::ApplicationInfo& app : content.applications) {
      if (app.thisApplication) target.filter.excludedApplications.push_back(app);
    }
    target.filter.excludedApplications.push_back(ownApplication);
  }
  target.rect = it->frame;
  return target;
}

Point CaptureTarget::normalizedPointer(platform::Point point, const platform::Rect& rect,
                                       platform::Size canvas) {
  if (!(rect.width > 0) || !(rect.height > 0) || !(canvas.width > 0) || !(canvas.height > 0)) {
    return {0.5, 0.5};
  }
  const double s = std::min(canvas.width / rect.width, canvas.height / rect.height);
  double x = ((point.x - rect.minX()) * s + (canvas.width - rect.width * s) * 0.5) / canvas.width;
  double y =
      ((point.y - rect.minY()) * s + (canvas.height - rect.height * s) * 0.5) / canvas.height;
  // min first, then anything not at least 0 (a NaN too) becomes 0.
  x = std::min(x, 1.0);
  y = std::min(y, 1.0);
  if (!(x >= 0)) x = 0;
  if (!(y >= 0)) y = 0;
  return {x, y};
}

std::optional<platform::Rect> CaptureTarget::windowRect(platform::ScreenCapture& capture,
                                                        platform::WindowId windowID) {
  return capture.windowRect(windowID);
}

}  // namespace vantry
