// The running system's capture behind the controller's StudioCapture seam: the X11 live
// preview, the camera and the display recorder with its camera and microphone companions.
#pragma once

#include <QImage>

#include <memory>
#include <string>

#include "platform/screen_source.h"
#include "studio/studio_services.h"

namespace vantry {

// A window icon as an image (null when its pixels do not match its size).
QImage windowIconImage(const platform::WindowIcon& icon);

// defaultStudioCapture() over another screen backend (empty: the running system's) and
// into another recordings folder (empty: the recorder's default folder).
std::shared_ptr<StudioCapture> defaultStudioCapture(std::shared_ptr<platform::ScreenCapture> screen,
                                                    std::string recordingsFolder);

}  // namespace vantry
