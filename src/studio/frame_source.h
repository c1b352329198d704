// Frame sources that decode on their own worker thread.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "studio/studio_services.h"

namespace vantry {

// Runs a blocking reader on a worker: the newest request wins, older ones still waiting
// are dropped. A failure is reported once; it is reported again only after a picture was
// read in between.
class ThreadedFrameSource : public FrameSource {
 public:
  // Reads the picture at a time, for a width as request() takes it; nothing when the movie
  // has none yet. Throws a translated error. Called on the worker only.
  using Reader = std::function<std::optional<QImage>(double seconds, int shownWidth)>;

  explicit ThreadedFrameSource(Reader reader);
  ~ThreadedFrameSource() override;

  void request(double seconds, int shownWidth = 0) override;
  QImage latest() const override;
  double latestTime() const override;
  std::optional<std::string> takeError() override;
  bool reading() const override;

 private:
  void run();

  Reader reader_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  // A request: the time and the width.
  using Wish = std::pair<double, int>;
  std::optional<Wish> wanted_;
  std::optional<Wish> served_;
  QImage latest_;
  double latestTime_ = -1;
  std::optional<std::string> error_;
  bool failing_ = false;
  bool busy_ = false;  // the worker reads a request
  bool quit_ = false;
  std::thread thread_;
};

// Opens a movie's pictures (VideoFrames on a worker); throws the reader's translated error.
std::unique_ptr<FrameSource> openMovieFrames(const std::string& path);

}  // namespace vantry
