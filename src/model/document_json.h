// The JSON form of the project document: compact, absent optionals left out, strict
// on reading (a bad value anywhere fails the whole read).
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include "model/clip.h"

namespace vantry {

// A read or write of the document failed; what() is the description shown to the user
// after the caller's own translated prefix.
class DocumentError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Throws DocumentError for a non-finite number or text that is not valid UTF-8;
// nothing is produced then.
std::string encodeClip(const Clip& clip);

// Throws DocumentError when the bytes are not a valid document.
Clip decodeClip(std::string_view bytes);

// Reads and decodes a document file; an unreadable file is a DocumentError too.
Clip decodeClipFile(const std::string& path);

}  // namespace vantry
