// The one form of every failure a person reads: a sentence in the interface language that
// names the file (the home folder shown as "~") and says what is wrong in plain words and
// what to do. A library's or the system's own text may follow on a second line, never on
// its own and never twice.
#pragma once

#include <string>
#include <string_view>

namespace vantry {

// A path as a person reads it: the home folder shown as "~".
std::string shownPath(std::string_view path);

// The sentence, then the detail on a line of its own. The detail is left out when it is
// empty or when the sentence already holds it.
std::string withDetail(std::string sentence, std::string_view detail);

// What a system error number means, as a translated sentence ("The disk is full."), for the
// errors people meet: no space, quota, read-only, permission, not a folder, missing, a
// folder, too large, a device or file system gone, a link loop, a path too long, too many
// open files. Empty for any other number: the caller then shows the system's own text as
// the detail.
std::string systemReason(int errnum);

// `sentence` (which names the file) followed by `reason`, a sentence of its own that may
// carry a detail line.
std::string withReason(std::string sentence, std::string_view reason);

// `sentence` (which names the file), the reason for `errnum` in words when there is one,
// and the system's own text on the second line only when there is none.
std::string systemFailure(std::string sentence, int errnum);

}  // namespace vantry
