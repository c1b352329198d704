// A camera that delivers BGRA frames stamped on the monotonic clock. The real device is
// V4L2; tests and machines without a camera use the synthetic pattern source.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace vantry::platform {

struct CameraFrame {
  const uint8_t* bgra = nullptr;  // width * height pixels, `stride` bytes per row
  int width = 0;
  int height = 0;
  int stride = 0;
  double time = 0;  // capture instant, hostTime() seconds
};

// Why a camera could not be used; the capture layer turns each kind into its message.
enum class CameraFailure {
  NoDevice,      // no capture device present
  AccessDenied,  // the device exists but may not be opened (permissions, video group)
  CannotOpen,    // opening or configuring failed for another reason
  Busy,          // another program holds the device
  Unsupported,   // no usable picture format
  Stopped,       // the device went away or stopped delivering while streaming
};

class CameraError : public std::runtime_error {
 public:
  CameraError(CameraFailure kind, const std::string& detail)
      : std::runtime_error(detail), kind_(kind) {}
  CameraFailure kind() const { return kind_; }

 private:
  CameraFailure kind_;
};

class CameraSource {
 public:
  // Called on the source's own thread, one frame at a time; the frame's pixels are
  // valid only during the call.
  using FrameHandler = std::function<void(const CameraFrame&)>;
  // Called on the source's thread when streaming ends by itself (device unplugged).
  using ErrorHandler = std::function<void(const CameraError&)>;

  virtual ~CameraSource() = default;

  // Opens and configures the device (1280 x 720 where the device can). Calling it again
  // on an open source does nothing. Throws CameraError.
  virtual void open() = 0;
  // Starts streaming to `frames`. Throws CameraError; a running source keeps running
  // and only changes its handlers.
  virtual void start(FrameHandler frames, ErrorHandler errors = {}) = 0;
  // Stops streaming and joins the thread; the device stays open. Safe to call twice.
  virtual void stop() = 0;
  // Releases the device (stops first).
  virtual void close() = 0;

  virtual bool isOpen() const = 0;
  virtual bool isRunning() const = 0;
  virtual int width() const = 0;
  virtual int height() const = 0;
};

// The camera the application uses: the first V4L2 capture device, or the synthetic
// pattern when VANTRY_SYNTHETIC_CAMERA is set to a non-empty value other than "0".
std::unique_ptr<CameraSource> makeCameraSource();

}  // namespace vantry::platform
