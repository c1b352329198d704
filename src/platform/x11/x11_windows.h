// Reading the X server's picture of the desktop: RandR monitors as displays, EWMH client
// windows, who owns a window, and where it is.
#pragma once

#include <X11/Xlib.h>

#include <cstdint>
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

// Whether a window of `window`'s application is left out by a filter excluding `apps`:
// only when both are this application (ApplicationInfo::thisApplication).
bool matchesApplication(const ApplicationInfo& window, const std::vector<ApplicationInfo>& apps);

// Claims an X client of this process (the toolkit's connection that makes our windows) by
// its resource-id base and mask: the server hands every client ids of its own range, so a
// window id in that range was made by that client and no other.
void claimClient(std::uint32_t resourceBase, std::uint32_t resourceMask);
// Forgets a claim (a connection closed: the server may hand its ids to another client).
void releaseClient(std::uint32_t resourceBase, std::uint32_t resourceMask);

// The process the X server itself reports as the owner of the client that made `w`
// (X-Resource 1.2); 0 when the server cannot say (no extension, a remote client).
std::int64_t owningProcess(Connection& c, Window w);

// Whether `w` is a window of a running instance of this application: made by a client this
// process claimed, or owned (as the server reports it) by another process running this
// very executable. Neither WM_CLASS nor _NET_WM_PID counts: any program can set them.
bool isThisApplication(Connection& c, Window w);

}  // namespace vantry::platform::x11
