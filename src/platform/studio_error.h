// The one error whose text the user sees from capture and export. Its
// message is translated where the error is made and never translated again.
#pragma once

#include <stdexcept>
#include <string>

namespace vantry {

class StudioError : public std::runtime_error {
 public:
  explicit StudioError(const std::string& message) : std::runtime_error(message) {}
  // The text to show; the same as what().
  std::string message() const { return what(); }
};

// A movie or sound named for reading that is a pipe or a device rather than a file: refused
// before anything was read from it. Those who know what named it (a project) say so.
class NotAFileError : public StudioError {
 public:
  using StudioError::StudioError;
};

}  // namespace vantry
