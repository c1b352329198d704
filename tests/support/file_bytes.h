// A whole file's bytes, read or written in one call; and what a write would change.
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace vantry::test {

inline std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

inline void writeFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// A file's bytes and when it was last written: equal only while nothing wrote it.
struct Written {
  std::string bytes;
  timespec modified{};
  bool operator==(const Written& o) const {
    return bytes == o.bytes && modified.tv_sec == o.modified.tv_sec &&
           modified.tv_nsec == o.modified.tv_nsec;
  }
};

inline Written written(const std::filesystem::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  return {readFile(path), st.st_mtim};
}

}  // namespace vantry::test
