#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <vector>

namespace vantry::test {

// Writes `file` until the file system that holds it has no byte left, as another writer on
// a nearly full disk does. Returns the bytes written.
inline std::uintmax_t fillDisk(const std::filesystem::path& file) {
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return 0;
  std::vector<char> block(1 << 16, 'x');
  std::uintmax_t written = 0;
  // A refused block is tried again in halves, down to single bytes.
  for (std::size_t size = block.size(); size > 0;) {
    const ssize_t w = ::write(fd, block.data(), size);
    if (w > 0) {
      written += std::uintmax_t(w);
    } else if (w < 0 && errno != EINTR) {
      size /= 2;
    }
  }
  ::close(fd);
  return written;
}

}  // namespace vantry::test
