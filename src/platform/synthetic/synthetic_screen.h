// platform/synthetic/: stand-ins for the real devices, for tests and machines without them:
// a screen, a camera, and a movie writer that fails on request.
//
// A screen that exists only in memory: displays and windows the test sets up, frames with a
// moving pattern, a pointer the test moves, and faults on request (no frames, a stream that
// fails to start or stops with an error, content that cannot be read).
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/screen_source.h"

namespace vantry::platform::synthetic {

class SyntheticScreenCapture : public ScreenCapture,
                               public std::enable_shared_from_this<SyntheticScreenCapture> {
 public:
  enum class StreamFault {
    none,
    noFrames,       // starts, never delivers a frame
    failToStart,    // start() throws PlatformError
    stopWithError,  // delivers frames, then stops by itself with an error
    stall,          // delivers frames, then none (a screen that stays still)
  };

  // One primary 1920 x 1080 display, id 1, at (0, 0), and no windows.
  SyntheticScreenCapture();

  void setDisplays(std::vector<DisplayInfo> displays);
  void setWindows(std::vector<WindowInfo> windows);
  // The sizes of icon a window offers (none: it has no icon). setWindows() gives every new
  // window a plain square icon at 16, 32 and 64 pixels, tinted by its id.
  void setWindowIcons(WindowId id, std::vector<WindowIcon> icons);
  // A window's current frame as windowRect() reports it; nullopt: the window is gone.
  void setWindowRect(WindowId id, std::optional<Rect> rect);
  // shareableContent() throws PlatformError with this text; empty clears the fault.
  void setContentError(std::string message);
  void setStreamFault(StreamFault fault, double afterSeconds = 0.3,
                      std::string message = "synthetic stream failure");

  // The pointer every PointerSource reads from now on.
  void setPointer(Point location, bool leftDown);
  // A press and release between two reads (a tap shorter than one tick).
  void tap();
  // Reads fail until set back to true (the last location is repeated, button up).
  void setPointerReadable(bool readable);
  // createPointerSource() throws PlatformError with this text (an X server that refuses
  // another connection); empty clears the fault.
  void setPointerOpenError(std::string message);

  // What the last stream was asked for.
  std::optional<ContentFilter> lastFilter() const;
  std::optional<StreamConfiguration> lastConfiguration() const;
  int framesDelivered() const { return framesDelivered_.load(); }
  int runningStreams() const { return runningStreams_.load(); }

  ShareableContent shareableContent() override;
  std::optional<Rect> windowRect(WindowId id) override;
  std::unique_ptr<FrameStream> createStream(const ContentFilter& filter,
                                            const StreamConfiguration& config,
                                            FrameStream::Callbacks callbacks) override;
  std::unique_ptr<PointerSource> createPointerSource() override;
  std::optional<CursorImage> cursorImage() override;
  ApplicationInfo ownApplication() override;
  std::optional<WindowIcon> windowIcon(WindowId id, int size) override;

 private:
  friend class SyntheticStream;
  friend class SyntheticPointer;

  struct PointerShared {
    Point location;
    bool leftDown = false;
    int presses = 0;
    bool readable = true;
  };

  mutable std::mutex mutex_;
  std::vector<DisplayInfo> displays_;
  std::vector<WindowInfo> windows_;
  std::map<WindowId, std::optional<Rect>> windowRects_;
  std::map<WindowId, std::vector<WindowIcon>> windowIcons_;
  std::string contentError_;
  std::string pointerOpenError_;
  StreamFault fault_ = StreamFault::none;
  double faultAfter_ = 0.3;
  std::string faultMessage_;
  std::optional<ContentFilter> lastFilter_;
  std::optional<StreamConfiguration> lastConfig_;
  PointerShared pointer_;
  std::atomic<int> framesDelivered_{0};
  std::atomic<int> runningStreams_{0};
};

// Paints the synthetic pattern for frame `index` into `buffer` (a bar that moves across a
// grey background), so that consecutive frames differ.
void paintPattern(FrameBuffer& buffer, int index);

}  // namespace vantry::platform::synthetic
