// The boxes of a recorded fragmented movie, for the tests that damage one at exact bytes as a
// failing disk would: in place, the file's size and times left as they were.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "../support/file_bytes.h"

namespace vantry::test {

struct BoxAt {
  uint64_t at = 0;      // where the box starts
  uint64_t header = 8;  // bytes of its size and type
  uint64_t size = 0;
  std::string type;
};

inline uint64_t bigEndian(const std::string& bytes, uint64_t at, int n) {
  uint64_t v = 0;
  for (int i = 0; i < n; ++i)
    v = v << 8 | uint8_t(bytes[at + i]);
  return v;
}

inline void putBigEndian(std::string& bytes, uint64_t at, int n, uint64_t v) {
  for (int i = n - 1; i >= 0; --i, v >>= 8)
    bytes[at + i] = char(v & 0xff);
}

// The whole boxes in [from, to) of `bytes`.
inline std::vector<BoxAt> boxesIn(const std::string& bytes, uint64_t from, uint64_t to) {
  std::vector<BoxAt> found;
  for (uint64_t at = from; at + 8 <= to;) {
    BoxAt b{at, 8, bigEndian(bytes, at, 4), bytes.substr(at + 4, 4)};
    if (b.size == 1 && at + 16 <= to) {
      b.size = bigEndian(bytes, at + 8, 8);
      b.header = 16;
    }
    if (b.size < b.header || b.size > to - at) break;
    found.push_back(b);
    at += b.size;
  }
  return found;
}

inline std::vector<BoxAt> boxesIn(const std::string& bytes, const BoxAt& parent) {
  return boxesIn(bytes, parent.at + parent.header, parent.at + parent.size);
}

// The first box of `type` in a list, or none.
inline std::optional<BoxAt> boxOf(const std::vector<BoxAt>& boxes, const std::string& type) {
  for (const BoxAt& b : boxes)
    if (b.type == type) return b;
  return std::nullopt;
}

// Makes the file hold `bytes` (written in place, cut to their size) and gives it back its
// times, as a damaged sector or a torn write changes nothing else.
inline void damageInPlace(const std::filesystem::path& file, const std::string& bytes) {
  struct stat st {};
  ::stat(file.c_str(), &st);
  const int fd = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return;
  for (size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::pwrite(fd, bytes.data() + done, bytes.size() - done, off_t(done));
    if (n <= 0) break;
    done += size_t(n);
  }
  [[maybe_unused]] const int cut = ::ftruncate(fd, off_t(bytes.size()));
  const struct timespec times[2] = {st.st_atim, st.st_mtim};
  ::futimens(fd, times);
  ::close(fd);
}

}  // namespace vantry::test
