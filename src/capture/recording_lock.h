// The lock of a recording folder: an exclusive flock on the folder's own descriptor, which
// no file name in it can take away. The recorder holds it from the moment it makes the
// folder until it is done with it; a recovery holds it while it works. The kernel drops it
// when its process dies, so the folder of a recording whose process died is free again, and
// one still being made is never mistaken for it. (Earlier versions locked a file
// ".recording.lock" in the folder instead; one left there means nothing now.)
//
// Where the file system has no locks (an NFS home without a lock daemon), a recording still
// starts: it matters more than its protection from a second instance. A recovery then leaves
// a folder alone while its writer may be alive: while the folder or a file in it was written
// within the last minute (a recording writes its pointer journal every half second).
#pragma once

#include <filesystem>
#include <string>

namespace vantry {

class RecordingLock {
 public:
  RecordingLock() = default;
  ~RecordingLock();
  RecordingLock(const RecordingLock&) = delete;
  RecordingLock& operator=(const RecordingLock&) = delete;

  // The recorder: locks `folder`, which it has just made and which holds nothing yet, or
  // holds it unlocked where the file system has no locks. Returns the system's error text,
  // empty on success.
  std::string takeNew(const std::filesystem::path& folder);
  // A recovery: locks `folder` without waiting. False when a recording or another recovery
  // holds it, or may (`errnum` 0), or when the folder cannot be opened (`errnum` says why; a
  // link in the folder's place is refused with ELOOP).
  bool tryTake(const std::filesystem::path& folder, int* errnum = nullptr);
  bool held() const { return folder_ >= 0; }
  // The folder as it was opened when the lock was taken, never through a link; -1 when none
  // is held.
  int folder() const { return folder_; }
  // Gives the lock up. Nothing when none is held.
  void release();

  // For tests: every lock taken fails with the errno value `error` as on a file system
  // without locks (ENOLCK); 0 ends it.
  static void failLocksForTesting(int error);

 private:
  int take(const std::filesystem::path& folder, bool fresh);

  int folder_ = -1;
};

}  // namespace vantry
