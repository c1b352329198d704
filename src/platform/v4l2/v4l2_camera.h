// platform/v4l2/: the camera through Video4Linux2, and the decoding of what it delivers.
//
// The presenter camera through Video4Linux2: the first capture device, 1280 x 720,
// memory-mapped buffers, always the newest frame, buffer timestamps on CLOCK_MONOTONIC.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/camera_source.h"
#include "platform/v4l2/camera_decoder.h"

namespace vantry::platform {

class V4l2Camera : public CameraSource {
 public:
  // An empty `devicePath` means the first capture device among `deviceDir`/videoN.
  explicit V4l2Camera(std::string devicePath = {}, std::string deviceDir = "/dev");
  ~V4l2Camera() override;

  void open() override;
  void start(FrameHandler frames, ErrorHandler errors) override;
  void stop() override;
  void close() override;

  bool isOpen() const override;
  bool isRunning() const override { return running_; }
  int width() const override { return kWidth; }
  int height() const override { return kHeight; }

  // The device that open() chose.
  std::string devicePath() const;

  static constexpr int kWidth = 1280;
  static constexpr int kHeight = 720;

 private:
  struct Mapping {
    void* start = nullptr;
    size_t length = 0;
  };

  void configure();
  void releaseBuffers();
  void captureLoop(std::stop_token stop);
  bool deliver(unsigned index, size_t bytes, double time);

  std::string requestedPath_;
  std::string deviceDir_;
  std::string path_;
  mutable std::mutex mutex_;  // guards the handlers and the device state below
  int fd_ = -1;
  std::vector<Mapping> buffers_;
  std::unique_ptr<CameraPictureDecoder> decoder_;
  FrameHandler frames_;
  ErrorHandler errors_;
  std::atomic<bool> running_{false};
  std::jthread thread_;
};

// The capture device nodes under `dir` ("video0", "video1", ...), in number order.
std::vector<std::string> videoDeviceNodes(const std::string& dir);

}  // namespace vantry::platform
