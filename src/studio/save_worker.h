// The autosave writer: encodes and writes snapshots of the document one after another on
// its own thread, so that the main thread only takes the snapshot. It also remembers which
// revision of the document the project file last received, so that nothing unchanged is
// written again (a quit on a full disk must not fail over edits that are already saved).
#pragma once

#include <condition_variable>
#include <cstdint>
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

  // Queues a write of `clip`, the document at `revision`, to `path`; the result arrives on
  // the worker thread.
  std::shared_future<Result> submit(Clip clip, std::string path, std::uint64_t revision,
                                    Done done = {});
  // Waits until every queued save is written.
  void flush();
  // Whether the file at `path` holds the document at `revision`: the last save there
  // succeeded with it, or it was read from there (markHeld). A failed save leaves what
  // the file held.
  bool holds(std::uint64_t revision, const std::string& path) const;
  void markHeld(std::uint64_t revision, std::string path);
  // Number of files written so far (for tests and benchmarks).
  int writes() const;

 private:
  struct Job {
    Clip clip;
    std::string path;
    std::uint64_t revision = 0;
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
  std::optional<std::pair<std::uint64_t, std::string>> held_;
  std::thread thread_;
};

}  // namespace vantry
