// platform/: our thin layer over Linux, behind the interfaces the layers above use: the
// screen (x11/), movies and sound files (ffmpeg/), sound devices (pulse/), the camera
// (v4l2/), and in-memory stand-ins for tests (synthetic/); also durable files and giving
// memory back.
//
// Screen capture as the capture engine sees it: what can be captured (displays and
// windows), streams of frames from one of them, the pointer, and the cursor image.
// Written so that both the X11 backend and a synthetic test source can stand behind it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace vantry::platform {

// Seconds of CLOCK_MONOTONIC: the host clock every capture timestamp is read on.
double hostTime();

// Global display space: points, origin at the top left of the main display, y downward.
// On X11 one point is one pixel of the root window.
struct Point {
  double x = 0;
  double y = 0;
  bool operator==(const Point&) const = default;
};

struct Rect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
  double minX() const { return x; }
  double minY() const { return y; }
  double maxX() const { return x + width; }
  double maxY() const { return y + height; }
  bool empty() const { return !(width > 0) || !(height > 0); }
  // Half-open: the right and bottom edges are outside.
  bool contains(Point p) const { return p.x >= x && p.y >= y && p.x < maxX() && p.y < maxY(); }
  // The area both cover; empty() when they do not meet.
  Rect intersected(const Rect& o) const {
    const double left = std::max(x, o.x), top = std::max(y, o.y);
    return {left, top, std::min(maxX(), o.maxX()) - left, std::min(maxY(), o.maxY()) - top};
  }
  bool operator==(const Rect&) const = default;
};

struct Size {
  double width = 0;
  double height = 0;
  bool operator==(const Size&) const = default;
};

using DisplayId = std::uint32_t;
using WindowId = std::uint32_t;

// A failure of the platform itself (no X server, a lost connection, a failed grab).
// what() is already translated for the user.
class PlatformError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct DisplayInfo {
  DisplayId id = 0;
  std::string name;  // e.g. "DP-1"
  Rect frame;
  bool primary = false;  // the main display
  double pointPixelScale = 1.0;
};

struct ApplicationInfo {
  std::string identifier;  // stands in for a bundle identifier (WM_CLASS class on X11)
  std::string name;        // shown to the user
  std::int64_t pid = 0;    // 0 when unknown
  // A running instance of this application (this process or another of this executable), as
  // the backend can tell from what no other program can forge. Only these are left out.
  bool thisApplication = false;
};

struct WindowInfo {
  WindowId id = 0;
  std::string title;
  ApplicationInfo application;
  Rect frame;
  int layer = 0;  // 0 for ordinary application windows; docks, panels, menus are above 0
  bool onScreen = true;
};

// A snapshot of what can be captured, each list in the platform's order (windows front to
// back).
struct ShareableContent {
  std::vector<DisplayInfo> displays;
  std::vector<WindowInfo> windows;
  std::vector<ApplicationInfo> applications;
};

// What a stream captures: one display (minus the excluded applications' windows) or one
// window on its own.
struct ContentFilter {
  enum class Kind { display, window };
  Kind kind = Kind::display;
  DisplayId display = 0;
  WindowId window = 0;
  Rect rect;  // the source's frame when the filter was made
  double pointPixelScale = 1.0;
  // Every window of these applications is left out of a display capture. Only this
  // application's own instances (thisApplication) are ever left out.
  std::vector<ApplicationInfo> excludedApplications;
};

struct StreamConfiguration {
  int width = 1920;  // pixel size of every delivered frame
  int height = 1080;
  // The source is scaled to fit inside width x height with its proportions kept and
  // centred; the bars are black.
  double minimumFrameInterval = 1.0 / 60.0;
  // Consumers may hold at most queueDepth + 1 frames at once; while they do, new frames
  // are dropped rather than queued.
  int queueDepth = 6;
  bool showsCursor = false;
};

// One picture: 8-bit BGRA (alpha 255), rows `stride` bytes apart.
struct FrameBuffer {
  int width = 0;
  int height = 0;
  int stride = 0;
  std::vector<std::uint8_t> pixels;
  const std::uint8_t* row(int y) const { return pixels.data() + std::size_t(y) * stride; }
  std::uint8_t* row(int y) { return pixels.data() + std::size_t(y) * stride; }
};

enum class FrameStatus { complete, idle, blank, suspended, started, stopped };

struct Frame {
  // Shared so that a consumer may keep it (the last frame, an encoder queue) without a copy;
  // a source never writes into a buffer while anyone else holds it.
  std::shared_ptr<const FrameBuffer> image;
  double timestamp = 0;  // hostTime() of the grab
  FrameStatus status = FrameStatus::complete;
};

// A running capture of one filter. Frames are grabbed at absolute deadlines
// (minimumFrameInterval apart) on the stream's own thread and handed to onFrame there.
class FrameStream {
 public:
  struct Callbacks {
    std::function<void(const Frame&)> onFrame;
    // The stream ended by itself (display gone, connection lost). Called once, on the grab
    // thread; no frame follows.
    std::function<void(std::exception_ptr)> onStopped;
  };

  virtual ~FrameStream() = default;  // implementations stop and join here
  // Returns once capture runs; throws PlatformError when it cannot start.
  virtual void start() = 0;
  // Stops and joins the grab thread; no callback runs after it returns. A stream that
  // stopped by itself rethrows nothing here. Idempotent.
  virtual void stop() = 0;
};

// Pointer position and left button, read on the calling thread. One object per thread.
struct PointerState {
  Point location;
  bool leftDown = false;         // left button down now, or pressed since the previous read
  int pressesSinceLastRead = 0;  // raw left-button presses since the previous read
  bool live = true;  // false: the pointer could not be read; location is the last known one
  // The button is down over a window of this application's own, one a display capture leaves
  // out. Told only by a source asked to (tellOwnWindows).
  bool overOwnWindow = false;
};

class PointerSource {
 public:
  virtual ~PointerSource() = default;

  // Never fails: when the pointer cannot be read, the last known location is repeated with
  // the button up (never a jump to the corner).
  PointerState read();
  // From now on, read() tells whether the button is down over one of this application's own
  // windows (a display capture that leaves them out has no click there).
  void tellOwnWindows() { tellsOwnWindows_ = true; }

 protected:
  struct Raw {
    Point location;
    bool leftDown = false;
    int presses = 0;
    bool overOwnWindow = false;  // asked only while the button is down
  };
  // nullopt when the pointer cannot be read just now.
  virtual std::optional<Raw> query() = 0;
  bool tellsOwnWindows() const { return tellsOwnWindows_; }

 private:
  Point last_;
  bool tellsOwnWindows_ = false;
};

struct CursorImage {
  int width = 0;
  int height = 0;
  int xhot = 0;
  int yhot = 0;
  std::vector<std::uint32_t> argb;  // premultiplied, row-major, width*height
};

// A window's own icon, of the offered sizes the one nearest the size asked for.
struct WindowIcon {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> argb;  // not premultiplied, row-major, width*height
};

// Icons larger than this on either side are refused.
inline constexpr int kMaxWindowIconSide = 512;

// Of icons offered at these sizes (width, height), the index of the one whose larger side is
// nearest `size`, the larger icon on a tie; -1 when none is offered.
int nearestIconSize(const std::vector<std::pair<int, int>>& sizes, int size);

// Reads icon data laid out as the X property _NET_WM_ICON (for each size: width, height, then
// width x height ARGB values) and returns the size nearest `size`. The data comes from another
// program: an entry of zero or oversized sides, or one that promises more values than remain,
// ends the reading (the complete entries before it still count).
std::optional<WindowIcon> pickWindowIcon(const unsigned long* values, std::size_t count, int size);

// The capture backend. Thread-safe: each call uses a connection of the calling thread or
// its own.
class ScreenCapture {
 public:
  virtual ~ScreenCapture() = default;

  // Throws PlatformError (for instance when no X display can be reached).
  virtual ShareableContent shareableContent() = 0;
  // The window's current frame, or nullopt when it is gone or cannot be read.
  virtual std::optional<Rect> windowRect(WindowId id) = 0;
  virtual std::unique_ptr<FrameStream> createStream(const ContentFilter& filter,
                                                    const StreamConfiguration& config,
                                                    FrameStream::Callbacks callbacks) = 0;
  virtual std::unique_ptr<PointerSource> createPointerSource() = 0;
  virtual std::optional<CursorImage> cursorImage() = 0;
  // This application as it appears in ShareableContent::applications.
  virtual ApplicationInfo ownApplication() = 0;
  // The window's icon for showing at about `size` pixels (the nearest size it offers);
  // nullopt when it has none.
  virtual std::optional<WindowIcon> windowIcon(WindowId /*id*/, int /*size*/) {
    return std::nullopt;
  }
  // False when display captures cannot leave the application's own windows out (they are
  // then recorded as they appear on screen).
  virtual bool canExcludeOwnWindows() { return true; }
};

// The backend of the running system (X11).
std::shared_ptr<ScreenCapture> defaultScreenCapture();

}  // namespace vantry::platform
