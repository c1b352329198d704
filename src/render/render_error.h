// Errors of the render layer: a user-facing failure carries its already translated
// sentence; cancellation is its own type so that callers can tell it apart.
#pragma once

#include <exception>
#include <stdexcept>
#include <string>

#include "localization/user_message.h"

namespace vantry {

// Raised when an export is cancelled.
class CancelledError : public std::runtime_error {
 public:
  CancelledError() : std::runtime_error("cancelled") {}
};

// Throws the one user-facing error type with an already translated message.
[[noreturn]] void throwStudioError(const std::string& message);

// Raises `error` again with the file at fault in front of its text ("~/x/screen.mp4: ..."),
// keeping a user-facing error user-facing; cancellation, and a user-facing error that
// names the file already, pass unchanged.
[[noreturn]] void rethrowNaming(const std::string& path, std::exception_ptr error);

// Runs `work`, naming `path` in any failure it raises.
template <typename Work>
auto namingFailures(const std::string& path, Work&& work) -> decltype(work()) {
  try {
    return work();
  } catch (...) {
    rethrowNaming(path, std::current_exception());
  }
}

}  // namespace vantry
