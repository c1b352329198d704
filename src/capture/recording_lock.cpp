#include "capture/recording_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vantry {

namespace {

// The file locked on `file` is still the one the folder names (its holder removes it as it
// lets go), and a plain file.
bool stillNamed(int folder, int file) {
  struct stat opened {};
  struct stat named {};
  return ::fstat(file, &opened) == 0 && S_ISREG(opened.st_mode) &&
         ::fstatat(folder, kRecordingLockName, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
         opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

}  // namespace

RecordingLock::~RecordingLock() {
  release();
}

int RecordingLock::take(const std::filesystem::path& folder, bool fresh) {
  release();
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (dir < 0) return errno;
  const int file = ::openat(
      dir, kRecordingLockName,
      O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (fresh ? O_EXCL : 0),
      0600);
  int error = 0;
  if (file < 0)
    error = errno;
  else if (::flock(file, LOCK_EX | LOCK_NB) != 0)
    error = errno;
  else if (!stillNamed(dir, file))
    error = EWOULDBLOCK;  // its holder was letting go: it was busy a moment ago
  if (error) {
    if (file >= 0) ::close(file);
    ::close(dir);
    return error;
  }
  folder_ = dir;
  file_ = file;
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
  if (file_ >= 0) {
    // Removed while still held: whoever opened it meanwhile sees that it is gone.
    ::unlinkat(folder_, kRecordingLockName, 0);
    ::close(file_);
  }
  if (folder_ >= 0) ::close(folder_);
  file_ = -1;
  folder_ = -1;
}

}  // namespace vantry
