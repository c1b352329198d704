// A whole file's bytes, read or written in one call.
#pragma once

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

}  // namespace vantry::test
