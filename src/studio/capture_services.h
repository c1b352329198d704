// The running system's capture behind the controller's StudioCapture seam: the X11 live
// preview, the camera and the display recorder with its camera and microphone companions.
#pragma once

#include <memory>
#include <string>

#include "platform/screen_source.h"
#include "studio/studio_services.h"

namespace vantry {

// defaultStudioCapture() over another screen backend (empty: the running system's) and
// into another recordings folder (empty: the recorder's default folder).
std::shared_ptr<StudioCapture> defaultStudioCapture(std::shared_ptr<platform::ScreenCapture> screen,
                                                    std::string recordingsFolder);

}  // namespace vantry
