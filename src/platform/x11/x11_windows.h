// Reading the X server's picture of the desktop: RandR monitors as displays, EWMH client
// windows, who owns a window, and where it is.
#pragma once

#include <X11/Xlib.h>

#include <cstdint>
#include <map>
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

// A client's range of resource ids: the server hands every client ids of its own range, so a
// window id in that range was made by that client and no other.
struct ClientRange {
  std::uint32_t base = 0;
  std::uint32_t mask = 0;
  bool made(Window w) const { return (std::uint32_t(w) & ~mask) == (base & ~mask); }
  bool operator==(const ClientRange&) const = default;
};

// Claims an X client of this process (the toolkit's connection that makes our windows) by
// its resource-id base and mask.
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

// The client that manages the screen's windows, as far as the X server can tell: someone
// holds SubstructureRedirect on the root, and the window the root's _NET_SUPPORTING_WM_CHECK
// names (naming itself in turn) and the owner of the WM_Sn selection, whichever exist, were
// made by one client (X-Resource); that client. nullopt when no manager runs, none names
// itself, or the two disagree.
// Its limits: both names can be written by any client. A client that takes both while no
// manager runs is one by the server's own rules (it may then take SubstructureRedirect too);
// while one runs, taking the selection makes a manager that follows ICCCM give way, and a
// manager that holds no selection can be impersonated through the root property alone.
std::optional<ClientRange> windowManager(Connection& c);

// Whether the top-level window `top` shows this application (and its own parts are left out
// of a display capture): made by one of its instances, or a frame of the window manager
// around a client window (WM_STATE) of an instance that holds no other program's window. A
// top-level of any other client never counts, whatever it holds: any client may reparent any
// window into its own and set WM_STATE on it.
bool isOwnTopLevel(Connection& c, Window top, const std::optional<ClientRange>& manager);

// A piece of what a top-level window of the application's shows, in root coordinates: a
// window of its own (or of the window manager's, around or inside it), or a window of
// another program that lies inside it (any client may reparent its window into one of
// ours). Only the own parts are left out of a capture.
struct ShownPart {
  Rect rect;
  bool own = true;
};

// isOwnTopLevel() remembered for each top-level window and asked again every two seconds (a
// new frame gets its client a moment later), with the window manager looked up as often.
class OwnTopLevels {
 public:
  bool isOwn(Connection& c, Window top, double now);
  // The parts the own top-level `top` shows within `area`, back to front (a later one lies
  // over those before it), the whole top-level first; empty when it is not viewable there.
  // Asked afresh every time.
  std::vector<ShownPart> parts(Connection& c, Window top, const Rect& area);
  // Whether `top` is own and shows one of its own windows at `at` (root coordinates).
  bool showsOwnAt(Connection& c, Window top, Point at, double now);
  // Forgets every window but these (the top-levels there are now).
  void keepOnly(const std::vector<Window>& tops);
  void clear() { known_.clear(); }

 private:
  struct Known {
    bool own = false;
    double checkedAt = 0;
  };
  std::map<Window, Known> known_;
  std::optional<ClientRange> manager_;
  std::optional<double> managerCheckedAt_;
};

}  // namespace vantry::platform::x11
