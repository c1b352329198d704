// A movie writer that misbehaves on request, wrapped around the real one: it never has room,
// or has none any more after some frames (an encoder that stalls), or one append fails (as
// a full disk would) after which it takes nothing more.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "platform/ffmpeg/video_sink.h"

namespace vantry::platform::synthetic {

class FaultyVideoSink : public VideoSink {
 public:
  enum class Fault { none, neverReady, busyAfter, failAppend };

  // busyAfter: no room after `failAt` appends. failAppend: the append numbered `failAt`
  // (1 = the first) fails.
  FaultyVideoSink(std::unique_ptr<VideoSink> inner, Fault fault, int failAt = 1)
      : inner_(std::move(inner)), fault_(fault), failAt_(failAt) {}

  bool start() override { return inner_->start(); }
  bool readyForVideo() const override {
    if (fault_ == Fault::neverReady || failed_.load()) return false;
    if (fault_ == Fault::busyAfter && appends_.load() >= failAt_) return false;
    return inner_->readyForVideo();
  }
  bool appendVideo(VideoFrameView frame, double time, std::optional<double> duration) override {
    if (failed_.load()) return false;
    if (fault_ == Fault::failAppend && ++appends_ >= failAt_) {
      failed_.store(true);
      return false;
    }
    if (fault_ != Fault::failAppend) ++appends_;
    return inner_->appendVideo(std::move(frame), time, duration);
  }
  bool finish() override { return inner_->finish() && !failed_.load(); }
  void cancel() override { inner_->cancel(); }
  bool failed() const override { return failed_.load() || inner_->failed(); }
  std::string error() const override {
    return failed_.load() ? std::string("No space left on device") : inner_->error();
  }
  double writtenDuration() const override { return inner_->writtenDuration(); }

  // A factory that wraps the real screen movie writer.
  static VideoSinkFactory factory(Fault fault, int failAt = 1) {
    return [fault, failAt](const VideoSinkRequest& request) -> std::unique_ptr<VideoSink> {
      return std::make_unique<FaultyVideoSink>(makeScreenMovieSink(request), fault, failAt);
    };
  }

 private:
  std::unique_ptr<VideoSink> inner_;
  Fault fault_;
  int failAt_;
  std::atomic<int> appends_{0};
  std::atomic<bool> failed_{false};
};

}  // namespace vantry::platform::synthetic
