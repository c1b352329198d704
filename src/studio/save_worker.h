// The autosave writer: encodes and writes snapshots of the document one after another on
// its own thread, so that the main thread only takes the snapshot.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "studio/studio.h"

namespace vantry {

// The alert of a failed save, in the interface language: the catalogue's prefix, then the
// file, the reason and what to do; the system's own text at most on a second line.
std::string saveFailureAlert(const SaveFailure& failure);

struct Studio::SaveWorker {
  // None on success.
  using Result = std::optional<SaveFailure>;
  using Done = std::function<void(const Result&)>;

  SaveWorker();
  // Finishes every queued save, then joins.
  ~SaveWorker();

  // Queues a write of `clip` to `path`; the result arrives on the worker thread.
  std::shared_future<Result> submit(Clip clip, std::string path, Done done = {});
  // Waits until every queued save is written.
  void flush();
  // Number of files written so far (for tests and benchmarks).
  int writes() const;

 private:
  struct Job {
    Clip clip;
    std::string path;
    Done done;
    std::promise<Result> result;
  };
  void run();

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Job> jobs_;
  std::condition_variable idle_;
  bool writing_ = false;
  bool quit_ = false;
  int writes_ = 0;
  std::thread thread_;
};

}  // namespace vantry
