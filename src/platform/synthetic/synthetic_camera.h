// A stand-in camera: a moving pattern at 30 frames a second, stamped on the host clock.
// Chosen by VANTRY_SYNTHETIC_CAMERA for tests and for machines without a camera; its
// options also play the failures of a real device.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/camera_source.h"

namespace vantry::platform {

class SyntheticCamera : public CameraSource {
 public:
  struct Options {
    int width = 1280;
    int height = 720;
    double framesPerSecond = 30;
    // open() fails with this failure when set (NoDevice, Busy, ...).
    bool failOpen = false;
    CameraFailure openFailure = CameraFailure::NoDevice;
    // The first this-many start() calls fail with Busy, as a camera held by another program.
    int failingStarts = 0;
    // No frame reaches the handler before this many seconds after start().
    double firstFrameDelay = 0;
  };

  SyntheticCamera();
  explicit SyntheticCamera(Options options);
  ~SyntheticCamera() override;

  void open() override;
  void start(FrameHandler frames, ErrorHandler errors) override;
  void stop() override;
  void close() override;

  bool isOpen() const override { return open_; }
  bool isRunning() const override { return running_; }
  int width() const override { return options_.width; }
  int height() const override { return options_.height; }

  // How many times open() actually opened the device (a second open of an open device
  // does not count).
  int openCount() const { return openCount_; }
  int framesDelivered() const { return delivered_; }
  // After `frames` more frames the device "goes away": the error handler is called once and
  // no further frame comes. Counted from the call, so a slow start cannot lose the device
  // before a recording is armed.
  void vanishAfter(int frames) { vanishAt_ = delivered_ + frames; }

 private:
  void run(std::stop_token stop);
  void makeBackground();
  void paint(int index);

  Options options_;
  std::mutex mutex_;  // guards the handlers
  FrameHandler frames_;
  ErrorHandler errors_;
  std::atomic<bool> open_{false};
  std::atomic<bool> running_{false};
  std::atomic<int> openCount_{0};
  std::atomic<int> delivered_{0};
  std::atomic<int> vanishAt_{-1};
  int startsFailed_ = 0;
  std::vector<uint8_t> pixels_;
  std::vector<uint8_t> background_;
  std::jthread thread_;
};

}  // namespace vantry::platform
