// The one form of every failure a person reads: a sentence in the interface language that
// names the file (the home folder shown as "~") and says what is wrong in plain words and
// what to do. A library's or the system's own text may follow on a second line, never on
// its own and never twice.
#pragma once

#include <initializer_list>
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
// The same with more sentences after the reason (what was kept, what to do), and a
// library's own text as the second line in place of the system's when there is no reason in
// words.
std::string systemFailure(std::string sentence, int errnum, std::string_view then,
                          std::string_view detail);

// The error number whose system text (strerror) is `text`, among those systemReason() puts
// in words; 0 for any other text. For callers that were handed the text only.
int systemErrorNumberOf(std::string_view text);

// `message` in the form above with `more` (whole sentences) added to its first line, before
// any detail.
std::string appendSentence(std::string message, std::string_view more);

// Sentences of the interface language as one text: parted by a blank in English, run on in
// Chinese. Empty ones are left out.
std::string joinSentences(std::initializer_list<std::string_view> sentences);

// Two messages shown in one alert, the first first, the second from a line of its own;
// either may be empty.
std::string joinMessages(std::string first, std::string_view second);

// A length of time as minutes and seconds ("00:24", "72:05"); negative and non-finite
// values show as zero.
std::string shownDuration(double seconds);

}  // namespace vantry
