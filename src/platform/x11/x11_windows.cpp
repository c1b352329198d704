#include "platform/x11/x11_windows.h"

#include <X11/Xatom.h>
#include <X11/extensions/XRes.h>
#include <X11/extensions/Xrandr.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>

namespace vantry::platform::x11 {

std::vector<DisplayInfo> listDisplays(Connection& c) {
  std::vector<DisplayInfo> out;
  Display* dpy = c.display();
  int eventBase = 0, errorBase = 0, major = 0, minor = 0;
  if (XRRQueryExtension(dpy, &eventBase, &errorBase) && XRRQueryVersion(dpy, &major, &minor) &&
      (major > 1 || (major == 1 && minor >= 5))) {
    int n = 0;
    XRRMonitorInfo* monitors = XRRGetMonitors(dpy, c.root(), True, &n);
    for (int i = 0; i < n; ++i) {
      const XRRMonitorInfo& m = monitors[i];
      if (m.width <= 0 || m.height <= 0) continue;
      DisplayInfo d;
      d.id = DisplayId(m.name);
      if (char* name = XGetAtomName(dpy, m.name)) {
        d.name = name;
        XFree(name);
      }
      d.frame = {double(m.x), double(m.y), double(m.width), double(m.height)};
      d.primary = m.primary;
      out.push_back(std::move(d));
    }
    if (monitors) XRRFreeMonitors(monitors);
  }
  if (out.empty()) {
    const int screen = DefaultScreen(dpy);
    DisplayInfo d;
    d.id = DisplayId(c.root());
    d.name = "Screen " + std::to_string(screen);
    d.frame = {0, 0, double(DisplayWidth(dpy, screen)), double(DisplayHeight(dpy, screen))};
    out.push_back(std::move(d));
  }
  if (std::none_of(out.begin(), out.end(), [](const DisplayInfo& d) { return d.primary; })) {
    out.front().primary = true;
  }
  return out;
}

std::optional<Rect> windowFrame(Connection& c, Window w) {
  XWindowAttributes a{};
  Window child = 0;
  int x = 0, y = 0;
  bool ok = c.checked([&] {
    if (!XGetWindowAttributes(c.display(), w, &a)) a.width = -1;
    if (!XTranslateCoordinates(c.display(), w, c.root(), 0, 0, &x, &y, &child)) a.width = -1;
  });
  if (!ok || a.width < 0) return std::nullopt;
  return Rect{double(x), double(y), double(a.width), double(a.height)};
}

namespace {

bool hasWmState(Connection& c, Window w) {
  Atom type = None;
  int format = 0;
  unsigned long n = 0, after = 0;
  unsigned char* data = nullptr;
  const Atom wmState = c.atom("WM_STATE");
  if (XGetWindowProperty(c.display(), w, wmState, 0, 0, False, AnyPropertyType, &type, &format, &n,
                         &after, &data) != Success) {
    return false;
  }
  if (data) XFree(data);
  return type != None;
}

std::vector<Window> children(Connection& c, Window w, Window* parent = nullptr) {
  Window root = 0, par = 0;
  Window* kids = nullptr;
  unsigned int n = 0;
  std::vector<Window> out;
  if (XQueryTree(c.display(), w, &root, &par, &kids, &n)) {
    out.assign(kids, kids + n);
    if (parent) *parent = par;
  } else if (parent) {
    *parent = None;
  }
  if (kids) XFree(kids);
  return out;
}

Window findClient(Connection& c, Window w, int depth) {
  if (hasWmState(c, w)) return w;
  if (depth == 0) return None;
  for (Window k : children(c, w)) {
    if (Window found = findClient(c, k, depth - 1)) return found;
  }
  return None;
}

int layerOf(Connection& c, Window w) {
  const std::vector<Atom> types = c.atomListProperty(w, "_NET_WM_WINDOW_TYPE");
  if (types.empty()) return 0;
  const Atom t = types.front();
  if (t == c.atom("_NET_WM_WINDOW_TYPE_DESKTOP")) return -1;
  if (t == c.atom("_NET_WM_WINDOW_TYPE_NORMAL") || t == c.atom("_NET_WM_WINDOW_TYPE_DIALOG")) {
    return 0;
  }
  return 1;  // docks, toolbars, menus, splash screens, notifications...
}

std::mutex gClaimedMutex;
std::vector<ClientRange> gClaimed;

bool madeByClaimedClient(Window w) {
  std::lock_guard lock(gClaimedMutex);
  return std::any_of(gClaimed.begin(), gClaimed.end(),
                     [&](const ClientRange& r) { return r.made(w); });
}

bool hasClientIds(Connection& c) {
  // Asked once per connection: the answer does not change while it lives.
  thread_local Display* asked = nullptr;
  thread_local bool answer = false;
  if (asked != c.display()) {
    int event = 0, error = 0, major = 0, minor = 0;
    answer = XResQueryExtension(c.display(), &event, &error) &&
             XResQueryVersion(c.display(), &major, &minor) &&
             (major > 1 || (major == 1 && minor >= 2));
    asked = c.display();
  }
  return answer;
}

bool runsThisExecutable(std::int64_t pid) {
  struct stat mine {
  }, theirs{};
  const std::string exe = "/proc/" + std::to_string(pid) + "/exe";
  return ::stat("/proc/self/exe", &mine) == 0 && ::stat(exe.c_str(), &theirs) == 0 &&
         mine.st_dev == theirs.st_dev && mine.st_ino == theirs.st_ino;
}

}  // namespace

void claimClient(std::uint32_t resourceBase, std::uint32_t resourceMask) {
  std::lock_guard lock(gClaimedMutex);
  gClaimed.push_back({resourceBase, resourceMask});
}

void releaseClient(std::uint32_t resourceBase, std::uint32_t resourceMask) {
  std::lock_guard lock(gClaimedMutex);
  std::erase_if(gClaimed, [&](const ClientRange& r) {
    return r == ClientRange{resourceBase, resourceMask};
  });
}

std::int64_t owningProcess(Connection& c, Window w) {
  if (!hasClientIds(c)) return 0;
  XResClientIdSpec wanted{w, XRES_CLIENT_ID_PID_MASK};
  long count = 0;
  XResClientIdValue* ids = nullptr;
  const unsigned long errorsBefore = Connection::errorCount();
  // Its Status is no help: libXRes has said both 0 and 1 for success. What came back counts.
  XResQueryClientIds(c.display(), 1, &wanted, &count, &ids);
  std::int64_t pid = 0;
  if (ids && Connection::errorCount() == errorsBefore) {
    for (long i = 0; i < count; ++i) {
      if (const pid_t p = XResGetClientPid(&ids[i]); p > 0) pid = p;
    }
  }
  if (ids) XResClientIdsDestroy(count, ids);
  return pid;
}

bool isThisApplication(Connection& c, Window w) {
  if (w == None) return false;
  if (madeByClaimedClient(w)) return true;
  // This process's other connections (and a test's) are no window of the application's.
  const std::int64_t pid = owningProcess(c, w);
  return pid > 0 && pid != getpid() && runsThisExecutable(pid);
}

std::optional<ClientRange> windowManager(Connection& c) {
  Display* dpy = c.display();
  XWindowAttributes root{};
  if (!XGetWindowAttributes(dpy, c.root(), &root) ||
      !(root.all_event_masks & SubstructureRedirectMask) || !hasClientIds(c)) {
    return std::nullopt;
  }
  std::vector<Window> names;
  const std::vector<Window> check = c.windowListProperty(c.root(), "_NET_SUPPORTING_WM_CHECK");
  if (check.size() == 1 && c.windowListProperty(check[0], "_NET_SUPPORTING_WM_CHECK") == check) {
    names.push_back(check[0]);
  }
  const std::string selection = "WM_S" + std::to_string(DefaultScreen(dpy));
  if (const Window owner = XGetSelectionOwner(dpy, c.atom(selection.c_str())); owner != None) {
    names.push_back(owner);
  }
  if (names.empty()) return std::nullopt;
  int count = 0;
  XResClient* clients = nullptr;
  XResQueryClients(dpy, &count, &clients);
  std::optional<ClientRange> manager;
  for (const Window w : names) {
    std::optional<ClientRange> maker;
    for (int i = 0; clients && i < count; ++i) {
      const ClientRange r{std::uint32_t(clients[i].resource_base),
                          std::uint32_t(clients[i].resource_mask)};
      if (r.made(w)) maker = r;
    }
    if (!maker || (manager && *manager != *maker)) {
      manager.reset();
      break;
    }
    manager = maker;
  }
  if (clients) XFree(clients);
  return manager;
}

namespace {

enum class Holds { nothing, own, foreign };

// What lies below a window of the window manager: a window of another program anywhere
// among its own, or else a client window of an instance.
Holds heldBelow(Connection& c, Window w, const ClientRange& manager, int depth) {
  Holds held = Holds::nothing;
  for (const Window k : children(c, w)) {
    Holds here = Holds::nothing;
    if (manager.made(k)) {
      if (depth > 0) here = heldBelow(c, k, manager, depth - 1);
    } else if (!isThisApplication(c, k)) {
      here = Holds::foreign;
    } else if (hasWmState(c, k)) {
      here = Holds::own;
    }
    if (here == Holds::foreign) return here;
    if (here == Holds::own) held = here;
  }
  return held;
}

}  // namespace

bool isOwnTopLevel(Connection& c, Window top, const std::optional<ClientRange>& manager) {
  if (isThisApplication(c, top)) return true;
  return manager && manager->made(top) && heldBelow(c, top, *manager, 2) == Holds::own;
}

bool OwnTopLevels::isOwn(Connection& c, Window top, double now) {
  constexpr double kAgain = 2.0;
  if (auto it = known_.find(top); it != known_.end() && now - it->second.checkedAt < kAgain) {
    return it->second.own;
  }
  if (!managerCheckedAt_ || now - *managerCheckedAt_ >= kAgain) {
    manager_ = windowManager(c);
    managerCheckedAt_ = now;
  }
  const bool own = isOwnTopLevel(c, top, manager_);
  known_[top] = Known{own, now};
  return own;
}

namespace {

// A window's area with its border, and the inside of that, in root coordinates; `origin` is
// where its parent's inside starts.
struct Placed {
  Rect outer, inside;
};

Placed placed(const XWindowAttributes& a, Point origin) {
  const double border = a.border_width;
  const Rect outer{origin.x + a.x, origin.y + a.y, a.width + 2 * border, a.height + 2 * border};
  return {outer, {outer.x + border, outer.y + border, double(a.width), double(a.height)}};
}

// The viewable windows inside `w` (its inside starts at `origin`), clipped to `clip`, back to
// front: the application's and the manager's with what lies inside them, another program's
// whole.
void addPartsWithin(Connection& c, Window w, Point origin, const Rect& clip,
                    const std::optional<ClientRange>& manager, int depth,
                    std::vector<ShownPart>& parts) {
  for (const Window k : children(c, w)) {
    XWindowAttributes a{};
    if (!XGetWindowAttributes(c.display(), k, &a) || a.map_state != IsViewable ||
        a.c_class != InputOutput) {
      continue;
    }
    const Placed p = placed(a, origin);
    const Rect shown = p.outer.intersected(clip);
    if (shown.empty()) continue;
    const bool own = (manager && manager->made(k)) || isThisApplication(c, k);
    parts.push_back({shown, own});
    if (own && depth > 0) {
      addPartsWithin(c, k, {p.inside.x, p.inside.y}, p.inside.intersected(shown), manager,
                     depth - 1, parts);
    }
  }
}

}  // namespace

std::vector<ShownPart> OwnTopLevels::parts(Connection& c, Window top, const Rect& area) {
  XWindowAttributes a{};
  if (!XGetWindowAttributes(c.display(), top, &a) || a.map_state != IsViewable) return {};
  const Placed p = placed(a, {0, 0});
  const Rect shown = p.outer.intersected(area);
  if (shown.empty()) return {};
  std::vector<ShownPart> parts{{shown, true}};
  // Deep enough for a toolkit's windows inside a manager's frame.
  addPartsWithin(c, top, {p.inside.x, p.inside.y}, p.inside.intersected(shown), manager_, 8, parts);
  return parts;
}

bool OwnTopLevels::showsOwnAt(Connection& c, Window top, Point at, double now) {
  if (!isOwn(c, top, now)) return false;
  const std::vector<ShownPart> shown = parts(c, top, {at.x, at.y, 1, 1});
  for (auto part = shown.rbegin(); part != shown.rend(); ++part) {
    if (part->rect.contains(at)) return part->own;
  }
  return false;
}

void OwnTopLevels::keepOnly(const std::vector<Window>& tops) {
  std::erase_if(known_, [&](const auto& entry) {
    return std::find(tops.begin(), tops.end(), entry.first) == tops.end();
  });
}

Window clientOf(Connection& c, Window topLevel) {
  Window client = findClient(c, topLevel, 3);
  return client ? client : topLevel;
}

Window topLevelOf(Connection& c, Window w) {
  Window current = w;
  for (int i = 0; i < 64; ++i) {
    Window parent = None;
    const unsigned long before = Connection::errorCount();
    children(c, current, &parent);
    if (parent == None || Connection::errorCount() != before) return None;
    if (parent == c.root()) return current;
    current = parent;
  }
  return None;
}

WindowInfo describeWindow(Connection& c, Window w) {
  WindowInfo info;
  info.id = WindowId(w);
  info.title = c.textProperty(w, "_NET_WM_NAME");
  if (info.title.empty()) info.title = c.textProperty(w, "WM_NAME");
  auto [instance, cls] = c.wmClass(w);
  info.application.identifier = cls.empty() ? instance : cls;
  info.application.name = info.application.identifier;
  if (auto pid = c.cardinalProperty(w, "_NET_WM_PID")) info.application.pid = std::int64_t(*pid);
  info.application.thisApplication = isThisApplication(c, w);
  info.layer = layerOf(c, w);
  return info;
}

std::vector<WindowInfo> listWindows(Connection& c) {
  std::vector<Window> stack = c.windowListProperty(c.root(), "_NET_CLIENT_LIST_STACKING");
  if (stack.empty()) stack = c.windowListProperty(c.root(), "_NET_CLIENT_LIST");
  if (stack.empty()) {
    // No window manager: the top-level windows themselves, bottom to top.
    for (Window w : children(c, c.root())) {
      XWindowAttributes a{};
      if (!c.checked([&] { XGetWindowAttributes(c.display(), w, &a); })) continue;
      if (a.c_class == InputOutput && !a.override_redirect) stack.push_back(clientOf(c, w));
    }
  }
  std::vector<WindowInfo> out;
  for (auto it = stack.rbegin(); it != stack.rend(); ++it) {
    const Window w = *it;
    XWindowAttributes a{};
    if (!c.checked([&] { XGetWindowAttributes(c.display(), w, &a); })) continue;
    if (a.map_state != IsViewable || a.c_class != InputOutput) continue;
    WindowInfo info = describeWindow(c, w);
    if (info.layer < 0) continue;
    auto frame = windowFrame(c, w);
    if (!frame) continue;
    info.frame = *frame;
    out.push_back(std::move(info));
  }
  return out;
}

}  // namespace vantry::platform::x11
