#include "render/file_delivery.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace vantry {

namespace fs = std::filesystem;

namespace {

std::string systemError(int code) {
  return std::strerror(code);
}

}  // namespace

void copyToNewFile(const fs::path& from, const fs::path& to) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) throw std::runtime_error(systemError(errno));
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (out < 0) {
    const int err = errno;
    ::close(in);
    throw std::runtime_error(systemError(err));
  }
  int err = 0;
  std::vector<char> buffer(1 << 20);
  for (;;) {
    const ssize_t n = ::read(in, buffer.data(), buffer.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      err = errno;
      break;
    }
    if (n == 0) break;
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = ::write(out, buffer.data() + done, n - done);
      if (w < 0) {
        if (errno == EINTR) continue;
        err = errno;
        break;
      }
      done += w;
    }
    if (err) break;
  }
  if (::close(out) != 0 && !err) err = errno;
  ::close(in);
  if (err) {
    ::unlink(to.c_str());
    throw std::runtime_error(systemError(err));
  }
}

}  // namespace vantry
