#include "studio/frame_source.h"

#include <pthread.h>

#include "render/video_frames.h"

namespace vantry {

ThreadedFrameSource::ThreadedFrameSource(Reader reader)
    : reader_(std::move(reader)), thread_([this] { run(); }) {
  pthread_setname_np(thread_.native_handle(), "studio.frames");
}

ThreadedFrameSource::~ThreadedFrameSource() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void ThreadedFrameSource::request(double seconds, int shownWidth) {
  const Wish wish{seconds, shownWidth};
  {
    std::lock_guard lock(mutex_);
    // The picture already shown, or already asked for, needs no second reading.
    if ((served_ == wish && !wanted_) || wanted_ == wish) return;
    wanted_ = wish;
  }
  wake_.notify_one();
}

QImage ThreadedFrameSource::latest() const {
  std::lock_guard lock(mutex_);
  return latest_;
}

double ThreadedFrameSource::latestTime() const {
  std::lock_guard lock(mutex_);
  return latestTime_;
}

bool ThreadedFrameSource::reading() const {
  std::lock_guard lock(mutex_);
  return busy_ || wanted_;
}

std::optional<std::string> ThreadedFrameSource::takeError() {
  std::lock_guard lock(mutex_);
  return std::exchange(error_, std::nullopt);
}

void ThreadedFrameSource::run() {
  for (;;) {
    Wish wish;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return quit_ || wanted_; });
      if (quit_) return;
      wish = *wanted_;
      wanted_.reset();
      busy_ = true;
    }
    const double seconds = wish.first;
    std::optional<QImage> picture;
    std::optional<std::string> failure;
    try {
      picture = reader_(seconds, wish.second);
    } catch (const std::exception& e) {
      failure = e.what();
    }
    bool news = false;
    {
      std::lock_guard lock(mutex_);
      served_ = wish;
      busy_ = false;
      if (failure) {
        if (!failing_) {
          error_ = failure;
          failing_ = true;
          news = true;
        }
      } else {
        failing_ = false;
        if (picture) {
          latest_ = std::move(*picture);
          latestTime_ = seconds;
          news = true;
        }
      }
    }
    if (news && onReady) onReady();
  }
}

std::unique_ptr<FrameSource> openMovieFrames(const std::string& path) {
  // Every frame thread of a decoder holds pictures of its own (about 50 MB for a 1080p movie
  // at one thread a core); two decode a 1440p recording at well over 60 frames a second.
  auto frames = std::make_shared<VideoFrames>(path, 2);
  return std::make_unique<ThreadedFrameSource>(
      [frames](double seconds, int shownWidth) { return frames->image(seconds, shownWidth); });
}

}  // namespace vantry
