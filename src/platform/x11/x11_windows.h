// Reading the X server's picture of the desktop: RandR monitors as displays, EWMH client
// windows, who owns a window, and where it is.
#pragma once

#include <X11/Xlib.h>

#include <optional>
#include <vector>

#include "platform/screen_source.h"
#include "platform/x11/x11_connection.h"

namespace vantry::platform::x11 {

// RandR 1.5 monitors in root coordinates, the primary one flagged (the first when none is).
// Without RandR 1.5 the whole root window is one display.
std::vector<DisplayInfo> listDisplays(Connection& c);

// Viewable application windows, front to back. Desktop windows are left out.
std::vector<WindowInfo> listWindows(Connection& c);

// Title, application and layer of one client window (geometry left empty).
WindowInfo describeWindow(Connection& c, Window w);

// The window's frame in root coordinates (inside its border); nullopt when it is gone.
std::optional<Rect> windowFrame(Connection& c, Window w);

// The client window (the one carrying WM_STATE) at or below a top-level window, or the
// top-level itself when none carries it.
Window clientOf(Connection& c, Window topLevel);

// The child of the root that holds `w`, or None when `w` is gone.
Window topLevelOf(Connection& c, Window w);

bool matchesApplication(const ApplicationInfo& window, const std::vector<ApplicationInfo>& apps);

}  // namespace vantry::platform::x11
