// A private Xvfb for X11 tests that move the pointer, need several monitors or a quiet
// screen, plus small Xlib helpers to put known pictures on it.
#pragma once

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XRes.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xrandr.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "../support/xvfb.h"
#include "platform/x11/x11_windows.h"

namespace vantry::testing {

class PrivateXServer {
 public:
  // Starts Xvfb with one screen of the given size and points DISPLAY at it.
  // `extraArgs` go to Xvfb as they are (for instance "-extension", "MIT-SHM").
  PrivateXServer(int width = 1920, int height = 1080, std::vector<std::string> extraArgs = {})
      : server_(width, height, extraArgs), name_(server_.display()) {
    if (name_.empty()) throw std::runtime_error("could not start Xvfb");
    setenv("DISPLAY", name_.c_str(), 1);
    for (int i = 0; i < 100 && !dpy_; ++i) {
      dpy_ = XOpenDisplay(name_.c_str());
      if (!dpy_) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!dpy_) throw std::runtime_error("could not open the private Xvfb");
    // Until the code under test installs its own handler, errors of ours must not exit.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  }
  ~PrivateXServer() {
    if (dpy_) XCloseDisplay(dpy_);
  }
  PrivateXServer(const PrivateXServer&) = delete;
  PrivateXServer& operator=(const PrivateXServer&) = delete;

  Display* display() const { return dpy_; }
  pid_t pid() const { return server_.pid(); }
  const std::string& name() const { return name_; }

  // Replaces RandR's monitors by the given ones. The first takes over the server's only
  // output, which retires the automatic monitor of that output.
  void setMonitors(std::vector<XRRMonitorInfo> monitors) {
    Window root = DefaultRootWindow(dpy_);
    int n = 0;
    if (XRRMonitorInfo* old = XRRGetMonitors(dpy_, root, False, &n)) {
      for (int i = 0; i < n; ++i) {
        if (!old[i].automatic) XRRDeleteMonitor(dpy_, root, old[i].name);
      }
      XRRFreeMonitors(old);
    }
    XRRScreenResources* res = XRRGetScreenResources(dpy_, root);
    RROutput output = res && res->noutput > 0 ? res->outputs[0] : None;
    for (std::size_t i = 0; i < monitors.size(); ++i) {
      if (i == 0 && output != None) {
        monitors[i].noutput = 1;
        monitors[i].outputs = &output;
      }
      XRRSetMonitor(dpy_, root, &monitors[i]);
    }
    if (res) XRRFreeScreenResources(res);
    XSync(dpy_, False);
  }

  static XRRMonitorInfo monitor(Display* dpy, const char* name, int x, int y, int w, int h,
                                bool primary) {
    XRRMonitorInfo m{};
    m.name = XInternAtom(dpy, name, False);
    m.primary = primary;
    m.automatic = False;
    m.noutput = 0;
    m.x = x;
    m.y = y;
    m.width = w;
    m.height = h;
    m.mwidth = w / 4;
    m.mheight = h / 4;
    m.outputs = nullptr;
    return m;
  }

  void movePointer(int x, int y) {
    XTestFakeMotionEvent(dpy_, DefaultScreen(dpy_), x, y, CurrentTime);
    XSync(dpy_, False);
  }
  void button(bool down) {
    XTestFakeButtonEvent(dpy_, 1, down ? True : False, CurrentTime);
    XSync(dpy_, False);
  }

 private:
  test::XvfbProcess server_;
  std::string name_;
  Display* dpy_ = nullptr;
};

// A plain top-level window filled with one colour (0xRRGGBB), mapped and drawn.
class ColourWindow {
 public:
  ColourWindow(Display* dpy, int x, int y, int w, int h, std::uint32_t rgb,
               const char* title = "Colour", const char* wmClass = "ColourTest", long pid = 0)
      : dpy_(dpy) {
    XSetWindowAttributes a{};
    a.background_pixel = rgb;
    a.border_pixel = 0;
    win_ =
        XCreateWindow(dpy, DefaultRootWindow(dpy), x, y, unsigned(w), unsigned(h), 0,
                      CopyFromParent, InputOutput, CopyFromParent, CWBackPixel | CWBorderPixel, &a);
    XStoreName(dpy, win_, title);
    XChangeProperty(dpy, win_, XInternAtom(dpy, "_NET_WM_NAME", False),
                    XInternAtom(dpy, "UTF8_STRING", False), 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(title), int(strlen(title)));
    std::string cls = std::string(wmClass) + '\0' + wmClass + '\0';
    XChangeProperty(dpy, win_, XA_WM_CLASS, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(cls.data()), int(cls.size()));
    if (pid != 0) {
      unsigned long p = static_cast<unsigned long>(pid);
      XChangeProperty(dpy, win_, XInternAtom(dpy, "_NET_WM_PID", False), XA_CARDINAL, 32,
                      PropModeReplace, reinterpret_cast<unsigned char*>(&p), 1);
    }
    XMapRaised(dpy, win_);
    XClearWindow(dpy, win_);
    XSync(dpy, False);
  }
  ~ColourWindow() {
    XDestroyWindow(dpy_, win_);
    XSync(dpy_, False);
  }
  Window id() const { return win_; }
  void move(int x, int y) {
    XMoveWindow(dpy_, win_, x, y);
    XSync(dpy_, False);
  }
  void raise() {
    XRaiseWindow(dpy_, win_);
    XSync(dpy_, False);
  }
  void fill(std::uint32_t rgb) {
    XSetWindowBackground(dpy_, win_, rgb);
    XClearWindow(dpy_, win_);
    XSync(dpy_, False);
  }

 private:
  Display* dpy_;
  Window win_;
};

// A connection of this process claimed as the application's own, as the app claims its
// toolkit's: the windows made on it are the application's. Released when this goes.
class OwnConnection {
 public:
  explicit OwnConnection(const std::string& display) : dpy_(XOpenDisplay(display.c_str())) {
    if (!dpy_) throw std::runtime_error("could not open " + display);
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    const XID probe = XAllocID(dpy_);  // an id of this client's range
    int n = 0;
    XResClient* clients = nullptr;
    XResQueryClients(dpy_, &n, &clients);
    if (clients) {
      for (int i = 0; i < n; ++i) {
        if ((probe & ~clients[i].resource_mask) == clients[i].resource_base) {
          base_ = std::uint32_t(clients[i].resource_base);
          mask_ = std::uint32_t(clients[i].resource_mask);
        }
      }
    }
    if (clients) XFree(clients);
    if (!mask_) throw std::runtime_error("the server does not name its clients");
    platform::x11::claimClient(base_, mask_);
  }
  ~OwnConnection() {
    platform::x11::releaseClient(base_, mask_);
    XCloseDisplay(dpy_);
  }
  OwnConnection(const OwnConnection&) = delete;
  OwnConnection& operator=(const OwnConnection&) = delete;
  Display* display() const { return dpy_; }

 private:
  Display* dpy_;
  std::uint32_t base_ = 0, mask_ = 0;
};

// The window manager at its simplest, on a connection of its own: it holds
// SubstructureRedirect on the root and names itself through _NET_SUPPORTING_WM_CHECK and the
// WM_S0 selection. Windows asking to be mapped stay unmapped until frame() manages them.
class FakeWindowManager {
 public:
  explicit FakeWindowManager(const std::string& display) : dpy_(XOpenDisplay(display.c_str())) {
    if (!dpy_) throw std::runtime_error("could not open " + display);
    const Window root = DefaultRootWindow(dpy_);
    XSelectInput(dpy_, root, SubstructureRedirectMask | SubstructureNotifyMask);
    check_ = XCreateSimpleWindow(dpy_, root, -10, -10, 1, 1, 0, 0, 0);
    const Atom name = XInternAtom(dpy_, "_NET_SUPPORTING_WM_CHECK", False);
    for (const Window w : {root, check_})
      XChangeProperty(dpy_, w, name, XA_WINDOW, 32, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(&check_), 1);
    XSetSelectionOwner(dpy_, XInternAtom(dpy_, "WM_S0", False), check_, CurrentTime);
    XSync(dpy_, False);
  }
  ~FakeWindowManager() { XCloseDisplay(dpy_); }
  FakeWindowManager(const FakeWindowManager&) = delete;
  FakeWindowManager& operator=(const FakeWindowManager&) = delete;
  Display* display() const { return dpy_; }

  // Manages `client` as a manager does: a frame with a title strip of `rgb` and an inner
  // window of its own, the client inside that with WM_STATE; all mapped. Returns the frame.
  Window frame(Window client, int x, int y, int w, int h, std::uint32_t rgb) {
    constexpr int kTitle = 20;
    const Window root = DefaultRootWindow(dpy_);
    const Window frame = XCreateSimpleWindow(dpy_, root, x, y, w, h + kTitle, 0, 0, rgb);
    const Window inner = XCreateSimpleWindow(dpy_, frame, 0, kTitle, w, h, 0, 0, rgb);
    XReparentWindow(dpy_, client, inner, 0, 0);
    XResizeWindow(dpy_, client, w, h);
    setWmState(dpy_, client);
    XMapWindow(dpy_, client);
    XMapWindow(dpy_, inner);
    XMapRaised(dpy_, frame);
    XSync(dpy_, False);
    return frame;
  }

  // What a window manager sets on the client windows it manages (NormalState).
  static void setWmState(Display* dpy, Window w) {
    const Atom state = XInternAtom(dpy, "WM_STATE", False);
    const long value[2] = {1, 0};
    XChangeProperty(dpy, w, state, state, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(value), 2);
  }

 private:
  Display* dpy_;
  Window check_ = 0;
};

// A window of another running instance of this program: a child process of this very
// executable, with its own connection, showing one colour until this goes away.
class OtherInstanceWindow {
 public:
  OtherInstanceWindow(const std::string& display, int x, int y, int w, int h, std::uint32_t rgb,
                      const char* wmClass = "Elsewhere") {
    int ready[2];
    if (pipe(ready) != 0) throw std::runtime_error("no pipe");
    pid_ = fork();
    if (pid_ == 0) {
      close(ready[0]);
      if (Display* dpy = XOpenDisplay(display.c_str())) {
        ColourWindow window(dpy, x, y, w, h, rgb, "Another instance", wmClass);
        const Window id = window.id();
        if (write(ready[1], &id, sizeof id) == sizeof id) {
          for (;;)
            pause();
        }
      }
      _exit(1);
    }
    close(ready[1]);
    const bool ok = pid_ > 0 && read(ready[0], &id_, sizeof id_) == sizeof id_;
    close(ready[0]);
    if (!ok) throw std::runtime_error("the other instance did not show its window");
  }
  ~OtherInstanceWindow() {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  OtherInstanceWindow(const OtherInstanceWindow&) = delete;
  OtherInstanceWindow& operator=(const OtherInstanceWindow&) = delete;
  Window id() const { return id_; }

 private:
  pid_t pid_ = -1;
  Window id_ = 0;
};

}  // namespace vantry::testing
