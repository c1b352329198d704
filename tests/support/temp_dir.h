// A private folder under the system's temporary folder, removed with everything in it when
// this goes away (kept when VANTRY_KEEP_TEST_FILES is set, for looking at what a test wrote).
#pragma once

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace vantry::test {

struct TempDir {
  std::filesystem::path path;
  explicit TempDir(const std::string& prefix = "vantry-test") {
    std::string t = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (!mkdtemp(t.data())) throw std::runtime_error("could not make a temporary folder");
    path = t;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!std::getenv("VANTRY_KEEP_TEST_FILES")) std::filesystem::remove_all(path, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
};

}  // namespace vantry::test
