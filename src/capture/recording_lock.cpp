#include "capture/recording_lock.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>

namespace vantry {

namespace {

std::atomic<int> gLockFault{0};

// How long after its last write a folder on a file system without locks may still be
// written by a recording: it writes its pointer journal every half second.
constexpr time_t kQuietSeconds = 60;

int lockFolder(int folder) {
  if (const int fault = gLockFault.load()) return fault;
  return ::flock(folder, LOCK_EX | LOCK_NB) == 0 ? 0 : errno;
}

// The file system keeps no locks for this folder. (EBADF: an NFS client that emulates flock
// with byte-range locks, which a folder's descriptor cannot hold.)
bool noLocksHere(int error) {
  return error == ENOLCK || error == EOPNOTSUPP || error == ENOSYS || error == EBADF;
}

bool recent(const struct timespec& when, time_t now) {
  // A time ahead of this clock (another machine's) counts as recent too.
  return when.tv_sec > now - kQuietSeconds;
}

// Whether the folder open as `folder`, or anything in it, was written within the last
// minute. Read through the folder's own descriptor; an entry that cannot be looked at counts
// as written, and so does a folder that cannot be listed.
bool writtenLately(int folder) {
  const time_t now = ::time(nullptr);
  struct stat st {};
  if (::fstat(folder, &st) != 0 || recent(st.st_mtim, now)) return true;
  const int listing = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* dir = listing >= 0 ? ::fdopendir(listing) : nullptr;
  if (!dir) {
    if (listing >= 0) ::close(listing);
    return true;
  }
  bool lately = false;
  while (const dirent* entry = ::readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    if (::fstatat(folder, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        recent(st.st_mtim, now)) {
      lately = true;
      break;
    }
  }
  ::closedir(dir);
  return lately;
}

}  // namespace

RecordingLock::~RecordingLock() {
  release();
}

void RecordingLock::failLocksForTesting(int error) {
  gLockFault.store(error);
}

int RecordingLock::take(const std::filesystem::path& folder, bool fresh) {
  release();
  // The folder itself, never a link in its place: O_NOFOLLOW with O_DIRECTORY refuses one.
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (dir < 0) {
    const int error = errno;
    struct stat st {};
    const bool link = error == ENOTDIR && ::lstat(folder.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
    return link ? ELOOP : error;
  }
  int error = lockFolder(dir);
  // A recording starts unprotected; a recovery goes ahead only where no writer can be alive.
  if (noLocksHere(error) && (fresh || !writtenLately(dir))) error = 0;
  if (noLocksHere(error)) error = EWOULDBLOCK;
  if (error) {
    ::close(dir);
    return error;
  }
  folder_ = dir;
  return 0;
}

std::string RecordingLock::takeNew(const std::filesystem::path& folder) {
  const int error = take(folder, true);
  return error ? std::strerror(error) : std::string();
}

bool RecordingLock::tryTake(const std::filesystem::path& folder, int* errnum) {
  const int error = take(folder, false);
  if (errnum) *errnum = error == EWOULDBLOCK ? 0 : error;
  return error == 0;
}

void RecordingLock::release() {
  if (folder_ >= 0) ::close(folder_);
  folder_ = -1;
}

}  // namespace vantry
