#include "platform/x11/x11_screen_capture.h"

#include <X11/extensions/XInput.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/Xfixes.h>
#include <unistd.h>

#include <array>
#include <map>
#include <tuple>

#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_frame_stream.h"
#include "platform/x11/x11_windows.h"

namespace vantry::platform::x11 {

X11ScreenCapture::X11ScreenCapture(std::string applicationId)
    : applicationId_(std::move(applicationId)) {}

ApplicationInfo X11ScreenCapture::ownApplication() {
  return {applicationId_, applicationId_, std::int64_t(getpid()), true};
}

std::optional<WindowIcon> X11ScreenCapture::windowIcon(WindowId id, int size) {
  // Room for several sizes up to the largest accepted; a longer property reads truncated and
  // its cut entry is refused.
  constexpr long kMaxValues = 4 * (2 + long(kMaxWindowIconSide) * kMaxWindowIconSide);
  try {
    Connection& c = threadConnection();
    const std::vector<unsigned long> values =
        c.cardinalListProperty(clientOf(c, Window(id)), "_NET_WM_ICON", kMaxValues);
    return pickWindowIcon(values.data(), values.size(), size);
  } catch (const PlatformError&) {
    return std::nullopt;
  }
}

bool X11ScreenCapture::canExcludeOwnWindows() {
  try {
    return canCompose(threadConnection());
  } catch (const PlatformError&) {
    return false;
  }
}

ShareableContent X11ScreenCapture::shareableContent() {
  ShareableContent content;
  // A connection kept from earlier may have lost its server meanwhile: one fresh try.
  for (int attempt = 0; attempt < 2; ++attempt) {
    Connection& c = threadConnection();
    content.displays = listDisplays(c);
    content.windows = listWindows(c);
    if (!c.dead()) break;
    if (attempt == 1) throw PlatformError(lostDisplayMessage());
  }
  std::map<std::tuple<std::string, std::int64_t, bool>, bool> seen;
  for (const WindowInfo& w : content.windows) {
    const ApplicationInfo& a = w.application;
    if (!seen.emplace(std::tuple(a.identifier, a.pid, a.thisApplication), true).second) continue;
    content.applications.push_back(w.application);
  }
  return content;
}

std::optional<Rect> X11ScreenCapture::windowRect(WindowId id) {
  try {
    for (int attempt = 0; attempt < 2; ++attempt) {
      Connection& c = threadConnection();
      auto rect = windowFrame(c, Window(id));
      if (!c.dead()) return rect;
    }
  } catch (const PlatformError&) {
  }
  return std::nullopt;
}

std::unique_ptr<FrameStream> X11ScreenCapture::createStream(const ContentFilter& filter,
                                                            const StreamConfiguration& config,
                                                            FrameStream::Callbacks callbacks) {
  return std::make_unique<X11FrameStream>(filter, config, std::move(callbacks));
}

std::optional<CursorImage> X11ScreenCapture::cursorImage() {
  try {
    for (int attempt = 0; attempt < 2; ++attempt) {
      Connection& c = threadConnection();
      auto image = readCursorImage(c);
      if (!c.dead()) return image;
    }
  } catch (const PlatformError&) {
  }
  return std::nullopt;
}

std::optional<CursorImage> readCursorImage(Connection& c) {
  int eventBase = 0, errorBase = 0;
  if (!XFixesQueryExtension(c.display(), &eventBase, &errorBase)) return std::nullopt;
  XFixesCursorImage* image = XFixesGetCursorImage(c.display());
  if (!image) return std::nullopt;
  CursorImage out;
  out.width = image->width;
  out.height = image->height;
  out.xhot = image->xhot;
  out.yhot = image->yhot;
  out.argb.resize(std::size_t(out.width) * out.height);
  for (std::size_t i = 0; i < out.argb.size(); ++i)
    out.argb[i] = std::uint32_t(image->pixels[i]);
  XFree(image);
  return out;
}

namespace {

// XQueryPointer for the position and the button held now; XInput2 raw presses so that a
// tap that begins and ends between two reads is still seen.
class X11PointerSource : public PointerSource {
 public:
  X11PointerSource() {
    Display* dpy = c_.display();
    // A server lost meanwhile fails the start, as one that refused the connection does.
    int event = 0, error = 0;
    const bool xi = XQueryExtension(dpy, "XInputExtension", &xiOpcode_, &event, &error);
    c_.stillThere();
    if (xi) {
      // libXi's first request asks the version, and its other calls read that answer
      // unchecked: asked on its own first, a server lost there is seen before they run.
      XExtensionVersion* version = XGetExtensionVersion(dpy, "XInputExtension");
      if (version && version != reinterpret_cast<XExtensionVersion*>(NoSuchExtension))
        XFree(version);
      c_.stillThere();
      int major = 2, minor = 2;
      if (XIQueryVersion(dpy, &major, &minor) == Success) {
        std::array<unsigned char, XIMaskLen(XI_LASTEVENT)> bits{};
        XISetMask(bits.data(), XI_RawButtonPress);
        XIEventMask mask{XIAllMasterDevices, int(bits.size()), bits.data()};
        rawPresses_ = c_.checked([&] { XISelectEvents(dpy, c_.root(), &mask, 1); });
      }
    }
    // Raw events carry physical buttons; the logical left one may sit elsewhere.
    std::array<unsigned char, 256> map{};
    const int n = XGetPointerMapping(dpy, map.data(), int(map.size()));
    c_.stillThere();
    for (int i = 0; i < n; ++i) {
      if (map[i] == 1) leftPhysical_ = i + 1;
    }
  }

 protected:
  std::optional<Raw> query() override {
    if (c_.dead()) return std::nullopt;
    Display* dpy = c_.display();
    Window root = 0, child = 0;
    int rx = 0, ry = 0, wx = 0, wy = 0;
    unsigned int mask = 0;
    const unsigned long query = NextRequest(dpy);
    if (!XQueryPointer(dpy, c_.root(), &root, &child, &rx, &ry, &wx, &wy, &mask) || c_.dead()) {
      drain(0);
      return std::nullopt;
    }
    Raw raw;
    raw.location = {double(rx), double(ry)};
    raw.leftDown = (mask & Button1Mask) != 0;
    // Only the presses made before the position was read: one made since (this thread lost
    // the processor between the reply and here) counts at the next read, where it was made.
    raw.presses = drain(query);
    // Only while the button is down, and whose top-level is remembered per window: the
    // sampler runs 60 times a second.
    if (tellsOwnWindows() && (raw.leftDown || raw.presses > 0) && child != None) {
      raw.overOwnWindow = own_.showsOwnAt(c_, child, raw.location, hostTime());
    }
    return raw;
  }

 private:
  // Counts the left-button presses among the events the server sent before it handled
  // request `before`, and leaves later ones queued; 0 takes every event. An event carries the
  // serial of the last request the server had handled when it was sent.
  int drain(unsigned long before) {
    Display* dpy = c_.display();
    int presses = 0;
    while (!c_.dead() && XEventsQueued(dpy, QueuedAlready) > 0) {
      XEvent ev;
      XPeekEvent(dpy, &ev);
      if (before != 0 && long(ev.xany.serial - before) >= 0) break;
      XNextEvent(dpy, &ev);
      XGenericEventCookie* cookie = &ev.xcookie;
      if (cookie->type != GenericEvent || cookie->extension != xiOpcode_) continue;
      if (!XGetEventData(dpy, cookie)) continue;
      if (cookie->evtype == XI_RawButtonPress) {
        const auto* raw = static_cast<const XIRawEvent*>(cookie->data);
        if (raw->detail == leftPhysical_) ++presses;
      }
      XFreeEventData(dpy, cookie);
    }
    return rawPresses_ ? presses : 0;
  }

  Connection c_{true};  // made for a display listed just before
  OwnTopLevels own_;
  int xiOpcode_ = -1;
  bool rawPresses_ = false;
  int leftPhysical_ = 1;
};

}  // namespace

std::unique_ptr<PointerSource> X11ScreenCapture::createPointerSource() {
  return std::make_unique<X11PointerSource>();
}

}  // namespace vantry::platform::x11

namespace vantry::platform {

std::shared_ptr<ScreenCapture> defaultScreenCapture() {
  return std::make_shared<x11::X11ScreenCapture>();
}

}  // namespace vantry::platform
