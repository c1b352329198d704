// platform/x11/: the screen through X11: connections, displays and windows, frame streams and
// the pointer.
//
// One X connection, used by one thread at a time. X protocol errors never end the
// process: they are counted per thread, and a lost connection only marks itself dead, even
// when it is lost while it is being opened.
#pragma once

#include <X11/Xlib.h>

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "platform/screen_source.h"

namespace vantry::platform::x11 {

class Connection {
 public:
  // Throws PlatformError with a translated message when no X display can be reached, or when
  // it goes away while the connection is opened. `reachedBefore`: the display was reached
  // before, so one that cannot be reached now was lost.
  explicit Connection(bool reachedBefore = false);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  Display* display() const { return dpy_; }
  Window root() const { return root_; }
  bool dead() const { return dead_.load(); }
  // Throws PlatformError with the lost-connection message once the server has gone: what a
  // lost server's requests returned is never to be used (Xlib makes up the answers it did
  // not get).
  void stillThere() const;
  // Lost, or the server has hung up without our having noticed yet.
  bool peerGone() const;
  Atom atom(const char* name);

  // Runs `request` and reports whether the server answered it without an X error.
  template <typename F>
  bool checked(F&& request) {
    const unsigned long before = errorCount();
    request();
    XSync(dpy_, False);
    return !dead() && errorCount() == before;
  }

  // Properties; empty/nullopt when absent or of another type.
  std::string textProperty(Window w, const char* name);  // UTF8_STRING or Latin-1 STRING
  std::optional<unsigned long> cardinalProperty(Window w, const char* name);
  std::vector<unsigned long> windowListProperty(Window w, const char* name);
  // Every value of a CARDINAL list, up to `maxValues`.
  std::vector<unsigned long> cardinalListProperty(Window w, const char* name, long maxValues);
  std::vector<Atom> atomListProperty(Window w, const char* name);
  // WM_CLASS as (instance, class).
  std::pair<std::string, std::string> wmClass(Window w);

  // X errors seen on this thread so far.
  static unsigned long errorCount();

 private:
  static void onLostConnection(Display*, void* self);

  Display* dpy_ = nullptr;
  Window root_ = 0;
  std::atomic<bool> dead_{false};
};

// The connection of the calling thread, opened on first use and reopened after a loss.
Connection& threadConnection();

// The translated message for "no X display" (for instance a pure Wayland session).
std::string noDisplayMessage();
// The translated message for a connection whose server went away, with what to do.
std::string lostDisplayMessage();

}  // namespace vantry::platform::x11
