// Paints on an X server from a thread of its own while a test records it.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdlib>
#include <stop_token>
#include <string>
#include <thread>

namespace vantry::test {

// Paints a patch of noise twenty times a second, so that the movie grows at some 300 KB a
// second (whole-screen noise would make a single fragment larger than the disk).
class NoisePainter {
 public:
  explicit NoisePainter(const std::string& display)
      : thread_([display](std::stop_token stop) { paint(display, stop); }) {}

 private:
  static void paint(const std::string& name, std::stop_token stop) {
    Display* dpy = XOpenDisplay(name.c_str());
    if (!dpy) return;
    const int screen = DefaultScreen(dpy);
    const int w = 160;
    const int h = 120;
    auto* pixels = static_cast<char*>(std::malloc(size_t(w) * h * 4));
    XImage* image =
        XCreateImage(dpy, DefaultVisual(dpy, screen), 24, ZPixmap, 0, pixels, w, h, 32, 0);
    unsigned seed = 1;
    while (!stop.stop_requested()) {
      for (size_t i = 0; i < size_t(w) * h * 4; ++i) {
        seed = seed * 1103515245u + 12345u;
        pixels[i] = char(seed >> 16);
      }
      XPutImage(dpy, RootWindow(dpy, screen), DefaultGC(dpy, screen), image, 0, 0, 0, 0, w, h);
      XSync(dpy, False);
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    XDestroyImage(image);  // frees the pixels
    XCloseDisplay(dpy);
  }

  std::jthread thread_;
};

}  // namespace vantry::test
