// The lock of a recording folder: an exclusive flock on ".recording.lock" inside it. The
// recorder holds it from the moment it makes the folder until it is done with it; a
// recovery holds it while it works. The kernel drops it when its process dies, so the folder
// of a recording whose process died is free again, and one still being made is never
// mistaken for it.
#pragma once

#include <filesystem>
#include <string>

namespace vantry {

inline constexpr const char* kRecordingLockName = ".recording.lock";

class RecordingLock {
 public:
  RecordingLock() = default;
  ~RecordingLock();
  RecordingLock(const RecordingLock&) = delete;
  RecordingLock& operator=(const RecordingLock&) = delete;

  // The recorder: locks `folder`, which it has just made and which holds nothing yet.
  // Returns the system's error text, empty on success.
  std::string takeNew(const std::filesystem::path& folder);
  // A recovery: locks `folder` without waiting. False when a recording or another recovery
  // holds it (`errnum` 0), or when the folder or its lock cannot be opened (`errnum` says
  // why; a link in the folder's place is refused).
  bool tryTake(const std::filesystem::path& folder, int* errnum = nullptr);
  bool held() const { return file_ >= 0; }
  // The folder as it was opened when the lock was taken, never through a link; -1 when no
  // lock is held.
  int folder() const { return folder_; }
  // Removes the lock file and gives the lock up. Nothing when none is held.
  void release();

 private:
  int take(const std::filesystem::path& folder, bool fresh);

  int folder_ = -1;
  int file_ = -1;
};

}  // namespace vantry
