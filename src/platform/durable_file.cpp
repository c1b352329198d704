#include "platform/durable_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

namespace vantry::platform {

namespace fs = std::filesystem;

namespace {

std::string systemError(int code) {
  return std::strerror(code);
}

std::mutex gFaultMutex;
std::string gFaultName;
int gFaultError = 0;

int injectedFault(const fs::path& path) {
  std::lock_guard lock(gFaultMutex);
  return !gFaultName.empty() && path.filename() == gFaultName ? gFaultError : 0;
}

// Six letters or digits no one can guess beforehand.
std::string unguessable() {
  static constexpr char kLetters[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  unsigned char bytes[6] = {};
  for (std::size_t got = 0; got < sizeof bytes;) {
    const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
    if (n > 0) {
      got += std::size_t(n);
    } else if (errno != EINTR) {
      break;  // the names then collide and the caller's O_EXCL gives up
    }
  }
  std::string out;
  for (unsigned char b : bytes)
    out += kLetters[b % (sizeof kLetters - 1)];
  return out;
}

}  // namespace

mode_t currentUmask() {
  // Read, not set and set back: umask() is process-wide, and another thread creating a file
  // meanwhile would get the wrong one.
  if (FILE* status = std::fopen("/proc/self/status", "re")) {
    char line[256];
    unsigned value = 0;
    bool found = false;
    while (!found && std::fgets(line, sizeof line, status))
      found = std::sscanf(line, "Umask: %o", &value) == 1;
    std::fclose(status);
    if (found) return mode_t(value) & 0777;
  }
  return 077;  // unknown: the narrowest the owner can still use
}

namespace {

// `target` is a path, or with `folder` open a name inside that folder; AT_FDCWD for a path.
std::optional<mode_t> modeToKeepAt(int folder, const fs::path& target) {
  // Not followed: a link's target is someone else's file, and its mode is not ours to copy.
  struct stat st {};
  if (::fstatat(folder, target.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
    return std::nullopt;
  // Never wider than the umask allows, whatever the file before was given.
  return st.st_mode & 0777 & ~currentUmask();
}

}  // namespace

std::optional<mode_t> modeToKeep(const fs::path& target) {
  return modeToKeepAt(AT_FDCWD, target);
}

namespace {

struct Beside {
  fs::path name;
  int fd = -1;
};

// The hidden file beside `target` (in `folder`, as for modeToKeepAt), open for writing: every
// later step goes through `fd`, since in a shared folder the name may meanwhile lead
// somewhere else.
Beside createBeside(int folder, const fs::path& target) {
  const std::string ext = target.extension().string();
  const std::optional<mode_t> kept = modeToKeepAt(folder, target);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path name =
        target.parent_path() / ("." + target.stem().string() + "." + unguessable() + ext);
    // O_EXCL never follows a link planted under that name. The umask applies to 0600, so a
    // new file is no wider than the person's own choice nor than a recording's.
    const int fd = ::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return {};
    }
    if (kept && ::fchmod(fd, *kept) != 0) {
      const int err = errno;
      ::close(fd);
      ::unlinkat(folder, name.c_str(), 0);
      errno = err;
      return {};
    }
    return {name, fd};
  }
  errno = EEXIST;
  return {};
}

// Takes the identity of the file open as `fd` and syncs it to disk.
int syncAndIdentify(int fd, struct stat* identity) {
  if (::fstat(fd, identity) != 0) return errno;
  if (::fsync(fd) != 0) return errno;
  return 0;
}

// Renames `written` over `target` when it still names the file `identity` says; in a shared
// folder the name may have been swapped for something else, and that is not ours to put in
// place. Returns 0 or the error number.
int renameIfOurs(const struct stat& identity, const fs::path& written, const fs::path& target,
                 int folder = AT_FDCWD) {
  struct stat named {};
  if (::fstatat(folder, written.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0) return errno;
  if (named.st_dev != identity.st_dev || named.st_ino != identity.st_ino) return ENOENT;
  if (::renameat(folder, written.c_str(), folder, target.c_str()) != 0) return errno;
  return 0;
}

// Writes `bytes` in place of `target` in `folder` (as for modeToKeepAt); 0 or the error
// number. The caller makes the rename durable.
int writeInPlace(int folder, const fs::path& target, std::string_view bytes) {
  if (const int fault = injectedFault(target)) return fault;
  const Beside tmp = createBeside(folder, target);
  if (tmp.fd < 0) return errno;
  // Written through the descriptor O_EXCL gave, never by name again.
  int err = 0;
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t w = ::write(tmp.fd, bytes.data() + done, bytes.size() - done);
    if (w < 0) {
      if (errno == EINTR) continue;
      err = errno;
      break;
    }
    done += std::size_t(w);
  }
  struct stat identity {};
  if (!err) err = syncAndIdentify(tmp.fd, &identity);
  if (::close(tmp.fd) != 0 && !err) err = errno;
  if (!err) err = renameIfOurs(identity, tmp.name, target, folder);
  if (err) ::unlinkat(folder, tmp.name.c_str(), 0);
  return err;
}

}  // namespace

fs::path makeFileBeside(const fs::path& target) {
  const Beside made = createBeside(AT_FDCWD, target);
  if (made.fd >= 0) ::close(made.fd);
  return made.name;
}

int openPrivateFile(const fs::path& path) {
  // A file this process holds open already (an unnamed working file) is named by its entry
  // in /proc, which is a link by nature and leads to that very file.
  const int own = path.parent_path() == "/proc/self/fd" ? 0 : O_NOFOLLOW;
  const int fd =
      ::open(path.c_str(), O_WRONLY | O_CREAT | own | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
  if (fd < 0) return -1;
  // Emptied only once it is known to be a file.
  struct stat st {};
  int err = ::fstat(fd, &st) != 0 ? errno : 0;
  if (!err && !S_ISREG(st.st_mode)) err = EINVAL;
  if (!err && ::ftruncate(fd, 0) != 0) err = errno;
  if (!err && ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) err = errno;
  if (err) {
    ::close(fd);
    errno = err;
    return -1;
  }
  return fd;
}

bool isOwnSingleFile(const struct stat& st) {
  return S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && st.st_nlink == 1;
}

namespace {

// Narrows the folder at `folder` to rwx------ through one descriptor, never through a link,
// and only a folder of this user's. `made`: this call has just created it, so that anything
// else found there now was put in its place. 0 or the error number.
int narrowFolder(const fs::path& folder, bool made) {
  // O_PATH opens whatever is there, a link itself included, without touching it.
  const int fd = ::open(folder.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return errno;
  struct stat st {};
  int err = ::fstat(fd, &st) != 0 ? errno : 0;
  if (!err && S_ISLNK(st.st_mode)) {
    // A link in place of a folder that was there already is the person's own arrangement:
    // what it leads to is used as it is, and given no mode.
    const int target = made ? -1 : ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    err = made ? EEXIST : target < 0 ? errno : 0;
    if (target >= 0) ::close(target);
  } else if (!err && !S_ISDIR(st.st_mode)) {
    err = ENOTDIR;
  } else if (!err && st.st_uid == ::geteuid() && (st.st_mode & 07777) != 0700) {
    // One made before, by an older version or under a wider umask, is closed now. A file
    // system without modes (a FAT stick) refuses, and the recording still goes there.
    const int dir = ::openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
      ::fchmod(dir, 0700);
      ::close(dir);
    } else {
      // Its owner may not read it (a umask that took the owner's own bits), and fchmod
      // refuses an O_PATH descriptor. The descriptor's entry in /proc is no name looked up
      // again: it leads to the very folder opened and checked above, whatever is renamed.
      ::chmod(("/proc/self/fd/" + std::to_string(fd)).c_str(), 0700);
    }
  }
  ::close(fd);
  return err;
}

}  // namespace

std::string makePrivateFolder(const fs::path& folder) {
  std::vector<fs::path> missing;
  struct stat st {};
  for (fs::path p = folder; !p.empty() && ::lstat(p.c_str(), &st) != 0 && errno == ENOENT;
       p = p.parent_path()) {
    missing.push_back(p);
    if (p == p.parent_path()) break;
  }
  bool madeIt = false;
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    madeIt = ::mkdir(it->c_str(), 0700) == 0;
    if (!madeIt && errno != EEXIST) return systemError(errno);
    // A umask that takes the owner's own bits away would lock the owner out.
    if (madeIt)
      if (const int err = narrowFolder(*it, true)) return systemError(err);
  }
  if (!madeIt)
    if (const int err = narrowFolder(folder, false)) return systemError(err);
  return {};
}

std::string replaceDurably(const fs::path& written, const fs::path& target) {
  // Opened without following a link and without waiting on a pipe: only a regular file
  // goes in place.
  int err = 0;
  struct stat identity {};
  const int fd = ::open(written.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    err = errno;
  } else {
    err = syncAndIdentify(fd, &identity);
    if (!err && !S_ISREG(identity.st_mode)) err = EINVAL;
    ::close(fd);
  }
  if (!err) err = renameIfOurs(identity, written, target);
  // The target is replaced only by a complete file.
  if (err) {
    ::unlink(written.c_str());
    return systemError(err);
  }
  syncFolder(target.parent_path());
  return {};
}

void failWritesForTesting(const std::string& fileName, int error) {
  std::lock_guard lock(gFaultMutex);
  gFaultName = fileName;
  gFaultError = error;
}

std::string writeFileAtomically(const fs::path& path, std::string_view bytes) {
  if (const int err = writeInPlace(AT_FDCWD, path, bytes)) return systemError(err);
  syncFolder(path.parent_path());
  return {};
}

std::string writeFileAtomicallyAt(int folder, const std::string& name, std::string_view bytes) {
  if (const int err = writeInPlace(folder, name, bytes)) return systemError(err);
  ::fsync(folder);
  return {};
}

void syncFolder(const fs::path& folder) {
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

}  // namespace vantry::platform
