// Collecting frames from a capture stream and probing their pixels.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <vector>

#include "platform/screen_source.h"

namespace vantry::testing {

inline std::uint32_t rgbAt(const platform::FrameBuffer& b, int x, int y) {
  const std::uint8_t* p = b.row(y) + std::size_t(x) * 4;
  return (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[1]) << 8) | p[0];
}

struct FrameCollector {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<platform::Frame> frames;
  std::exception_ptr stopped;
  bool keepAll = false;

  platform::FrameStream::Callbacks callbacks() {
    return {[this](const platform::Frame& f) {
              std::lock_guard lock(mutex);
              if (!keepAll) frames.clear();
              frames.push_back(f);
              changed.notify_all();
            },
            [this](std::exception_ptr e) {
              std::lock_guard lock(mutex);
              stopped = e;
              changed.notify_all();
            }};
  }

  // Waits for `count` more frames; returns the newest.
  platform::Frame next(int count = 3, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    std::unique_lock lock(mutex);
    int seen = 0;
    platform::Frame last;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    double lastStamp = frames.empty() ? -1 : frames.back().timestamp;
    while (seen < count) {
      if (!changed.wait_until(lock, deadline, [&] {
            return stopped || (!frames.empty() && frames.back().timestamp != lastStamp);
          })) {
        break;
      }
      if (stopped) break;
      lastStamp = frames.back().timestamp;
      last = frames.back();
      ++seen;
    }
    return last;
  }

  bool waitStopped(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, timeout, [&] { return bool(stopped); });
  }
};

inline std::string messageOf(std::exception_ptr e) {
  try {
    if (e) std::rethrow_exception(e);
  } catch (const std::exception& ex) {
    return ex.what();
  }
  return {};
}

}  // namespace vantry::testing
