// The X11 capture backend.
#pragma once

#include <memory>
#include <string>

#include "platform/screen_source.h"

namespace vantry::platform::x11 {

class X11ScreenCapture : public ScreenCapture {
 public:
  // `applicationId` is this application's WM_CLASS class: windows carrying it (from any
  // instance) or this process's pid are the application's own.
  explicit X11ScreenCapture(std::string applicationId = "Vantry");

  ShareableContent shareableContent() override;
  std::optional<Rect> windowRect(WindowId id) override;
  std::unique_ptr<FrameStream> createStream(const ContentFilter& filter,
                                            const StreamConfiguration& config,
                                            FrameStream::Callbacks callbacks) override;
  std::unique_ptr<PointerSource> createPointerSource() override;
  std::optional<CursorImage> cursorImage() override;
  ApplicationInfo ownApplication() override;
  std::optional<WindowIcon> windowIcon(WindowId id, int size) override;
  bool canExcludeOwnWindows() override;

 private:
  std::string applicationId_;
};

}  // namespace vantry::platform::x11
