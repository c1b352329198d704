#include "platform/durable_file.h"

#include <fcntl.h>
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

}  // namespace

fs::path makeFileBeside(const fs::path& target) {
  const std::string ext = target.extension().string();
  const std::string tmpl =
      (target.parent_path() / ("." + target.stem().string() + ".XXXXXX" + ext)).string();
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  const int fd = mkstemps(name.data(), int(ext.size()));
  if (fd < 0) return {};
  struct stat original {};
  // mkstemps makes the file private; a new document gets the usual rw-r--r--.
  fchmod(fd, ::stat(target.c_str(), &original) == 0 ? original.st_mode & 07777 : 0644);
  ::close(fd);
  return fs::path(name.data());
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
