#include "platform/synthetic/synthetic_camera.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#include "platform/screen_source.h"

namespace vantry::platform {

SyntheticCamera::SyntheticCamera() : SyntheticCamera(Options{}) {}

SyntheticCamera::SyntheticCamera(Options options) : options_(options) {
  options_.width = std::max(2, options_.width);
  options_.height = std::max(2, options_.height);
  if (!(options_.framesPerSecond > 0)) options_.framesPerSecond = 30;
}

SyntheticCamera::~SyntheticCamera() {
  close();
}

void SyntheticCamera::open() {
  if (open_) return;
  if (options_.failOpen) throw CameraError(options_.openFailure, "synthetic camera refused");
  pixels_.assign(size_t(options_.width) * size_t(options_.height) * 4, 0);
  if (background_.empty()) makeBackground();
  open_ = true;
  ++openCount_;
}

void SyntheticCamera::start(FrameHandler frames, ErrorHandler errors) {
  {
    std::lock_guard lock(mutex_);
    frames_ = std::move(frames);
    errors_ = std::move(errors);
  }
  if (running_) return;
  if (!open_) throw CameraError(CameraFailure::CannotOpen, "the camera is not open");
  if (startsFailed_ < options_.failingStarts) {
    ++startsFailed_;
    throw CameraError(CameraFailure::Busy, "synthetic camera is busy");
  }
  running_ = true;
  thread_ = std::jthread([this](std::stop_token st) { run(st); });
  pthread_setname_np(thread_.native_handle(), "studio.camera");
}

void SyntheticCamera::stop() {
  if (thread_.joinable()) {
    thread_.request_stop();
    thread_.join();
  }
  running_ = false;
}

void SyntheticCamera::close() {
  stop();
  std::lock_guard lock(mutex_);
  frames_ = nullptr;
  errors_ = nullptr;
  open_ = false;
}

void SyntheticCamera::makeBackground() {
  // A fixed gradient, made once: painting each frame must stay cheap in unoptimised test
  // builds.
  const int w = options_.width, h = options_.height;
  const size_t rowBytes = size_t(w) * 4;
  background_.resize(rowBytes * h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      uint8_t* p = &background_[size_t(y) * rowBytes + size_t(x) * 4];
      p[0] = uint8_t(x * 255 / w);
      p[1] = uint8_t(y * 255 / h);
      p[2] = 96;
      p[3] = 255;
    }
  }
}

void SyntheticCamera::paint(int index) {
  const int w = options_.width, h = options_.height;
  const size_t rowBytes = size_t(w) * 4;
  std::memcpy(pixels_.data(), background_.data(), background_.size());
  // A white square crosses the picture every two seconds.
  const int side = std::max(2, h / 6);
  const double phase = std::fmod(index / (2.0 * options_.framesPerSecond), 1.0);
  const int x0 = int(phase * (w - side));
  const int y0 = (h - side) / 2;
  for (int y = y0; y < y0 + side; ++y) {
    std::memset(&pixels_[size_t(y) * rowBytes + size_t(x0) * 4], 0xff, size_t(side) * 4);
  }
}

void SyntheticCamera::run(std::stop_token stop) {
  using clock = std::chrono::steady_clock;
  const auto period = std::chrono::duration<double>(1.0 / options_.framesPerSecond);
  const auto begin = clock::now();
  auto next = begin + std::chrono::duration_cast<clock::duration>(
                          std::chrono::duration<double>(options_.firstFrameDelay));
  int index = 0;
  while (!stop.stop_requested()) {
    // Sleep in short steps so that stop() never waits a whole delay.
    while (!stop.stop_requested() && clock::now() < next) {
      std::this_thread::sleep_until(std::min(next, clock::now() + std::chrono::milliseconds(20)));
    }
    if (stop.stop_requested()) break;
    if (const int at = vanishAt_; at >= 0 && delivered_ >= at) {
      ErrorHandler handler;
      {
        std::lock_guard lock(mutex_);
        handler = errors_;
      }
      running_ = false;
      if (handler) handler(CameraError(CameraFailure::Stopped, "synthetic camera went away"));
      return;
    }
    paint(index);
    CameraFrame frame;
    frame.bgra = pixels_.data();
    frame.width = options_.width;
    frame.height = options_.height;
    frame.stride = options_.width * 4;
    frame.time = hostTime();
    FrameHandler handler;
    {
      std::lock_guard lock(mutex_);
      handler = frames_;
    }
    if (handler) handler(frame);
    ++delivered_;
    ++index;
    // Absolute deadlines: a late frame does not push every later one back.
    next += std::chrono::duration_cast<clock::duration>(period);
    if (next < clock::now()) next = clock::now();
  }
}

}  // namespace vantry::platform
