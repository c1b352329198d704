#include "platform/durable_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
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

fs::path makeFileBeside(const fs::path& target) {
  const std::string ext = target.extension().string();
  struct stat original {};
  const bool replacing = ::stat(target.c_str(), &original) == 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path name =
        target.parent_path() / ("." + target.stem().string() + "." + unguessable() + ext);
    // O_EXCL never follows a link planted under that name. The umask applies to 0600, so a
    // new file is no wider than the person's own choice nor than a recording's.
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return {};
    }
    if (replacing) ::fchmod(fd, original.st_mode & 07777);
    ::close(fd);
    return name;
  }
  errno = EEXIST;
  return {};
}

void preparePrivateFile(const fs::path& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd >= 0) ::close(fd);
}

std::string makePrivateFolder(const fs::path& folder) {
  std::vector<fs::path> missing;
  std::error_code ec;
  for (fs::path p = folder; !p.empty() && !fs::exists(p, ec); p = p.parent_path()) {
    missing.push_back(p);
    if (p == p.parent_path()) break;
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (::mkdir(it->c_str(), 0700) != 0 && errno != EEXIST) return systemError(errno);
    // A umask that takes the owner's own bits away would lock the owner out.
    ::chmod(it->c_str(), 0700);
  }
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) return systemError(errno);
  if (!S_ISDIR(st.st_mode)) return systemError(ENOTDIR);
  // One made before, by an older version or under a wider umask, is closed now. A file
  // system without modes (a FAT stick) refuses, and the recording still goes there.
  if (st.st_uid == ::geteuid() && (st.st_mode & 07777) != 0700) ::chmod(folder.c_str(), 0700);
  return {};
}

std::string replaceDurably(const fs::path& written, const fs::path& target) {
  int err = 0;
  const int fd = ::open(written.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    err = errno;
  } else {
    if (::fsync(fd) != 0) err = errno;
    ::close(fd);
  }
  // Only our own copy is ever removed; the target is replaced only by a complete file.
  if (!err && std::rename(written.c_str(), target.c_str()) != 0) err = errno;
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
  if (const int fault = injectedFault(path)) return systemError(fault);
  const fs::path tmp = makeFileBeside(path);
  if (tmp.empty()) return systemError(errno);
  int err = 0;
  const int fd = ::open(tmp.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) {
    err = errno;
  } else {
    for (std::size_t done = 0; done < bytes.size();) {
      const ssize_t w = ::write(fd, bytes.data() + done, bytes.size() - done);
      if (w < 0) {
        if (errno == EINTR) continue;
        err = errno;
        break;
      }
      done += std::size_t(w);
    }
    if (::close(fd) != 0 && !err) err = errno;
  }
  if (err) {
    ::unlink(tmp.c_str());
    return systemError(err);
  }
  return replaceDurably(tmp, path);
}

void syncFolder(const fs::path& folder) {
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

}  // namespace vantry::platform
