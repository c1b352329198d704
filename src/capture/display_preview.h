// DisplayPreview: the small, slow live stream of the display or window about to be
// recorded (960 pixels wide, at most 15 frames a second, pointer drawn in), handed frame by
// frame to the controller while the user sets up a recording.
#pragma once

#include <QImage>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/screen_source.h"

namespace vantry {

// A live picture of a frame: shares the frame's pixels (no copy) and carries the video
// colour space, as every picture shown live does.
QImage liveImage(const std::shared_ptr<const platform::FrameBuffer>& buffer);

class DisplayPreview {
 public:
  // Empty: the running system's capture backend.
  explicit DisplayPreview(std::shared_ptr<platform::ScreenCapture> capture = {});
  // Stops the stream and joins its thread: no callback runs afterwards.
  ~DisplayPreview();
  DisplayPreview(const DisplayPreview&) = delete;
  DisplayPreview& operator=(const DisplayPreview&) = delete;

  // Set before start(). Each complete frame that differs from the one before, as an sRGB
  // image sharing the frame's pixels; called on the stream's thread.
  std::function<void(const QImage&)> onFrame;
  // Set before start(). The stream ended by itself (display unplugged, window closed,
  // connection lost), with a translated message; called on the stream's thread. Neither
  // handler may call stop() or start(): hand the work to another thread.
  std::function<void(const std::string&)> onError;

  // No windowID previews the display, one previews that window. A stream still running is
  // stopped first. Returns once capture runs; throws the platform's error or the
  // StudioError of a display or window that is gone.
  void start(platform::DisplayId displayID, std::optional<platform::WindowId> windowID);
  // Stops and forgets the stream; without one, does nothing.
  void stop();
  bool running() const;

  // 960 wide, the height following the source's proportions (cut toward zero, at least 2),
  // at most 15 frames a second, pointer visible.
  static platform::StreamConfiguration configurationFor(const platform::Rect& rect);

 private:
  void handle(const platform::Frame& frame);

  std::shared_ptr<platform::ScreenCapture> capture_;
  mutable std::mutex mutex_;
  std::unique_ptr<platform::FrameStream> stream_;
  // The picture last handed on (stream thread only).
  std::shared_ptr<const platform::FrameBuffer> last_;
};

}  // namespace vantry
