// Errors of the render layer: a user-facing failure carries its already translated
// sentence; cancellation is its own type so that callers can tell it apart.
#pragma once

#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>

#include "localization/user_message.h"

namespace vantry {

// Raised when an export is cancelled.
class CancelledError : public std::runtime_error {
 public:
  CancelledError() : std::runtime_error("cancelled") {}
};

// Throws the one user-facing error type with an already translated message.
[[noreturn]] void throwStudioError(const std::string& message);

// Where a file or folder the export writes lies, for what a person can do about it.
enum class ExportPlace { destination, workingFolder };

// Throws the user-facing error for a file or folder of the export that could not be
// written: `sentence` names it, the reason for `errnum` follows in words (else `detail`, or
// the system's text, on a second line), then what to do: make room on a full disk, else
// choose another folder or see to the temporary folder, as `place` says.
[[noreturn]] void throwWriteFailure(const std::string& sentence, int errnum, ExportPlace place,
                                    std::string_view detail = {});

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
