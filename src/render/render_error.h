// Errors of the render layer: a user-facing failure carries its already translated
// sentence; cancellation is its own type so that callers can tell it apart.
#pragma once

#include <stdexcept>
#include <string>

namespace vantry {

// Raised when an export is cancelled.
class CancelledError : public std::runtime_error {
 public:
  CancelledError() : std::runtime_error("cancelled") {}
};

// Throws the one user-facing error type with an already translated message.
[[noreturn]] void throwStudioError(const std::string& message);

}  // namespace vantry
