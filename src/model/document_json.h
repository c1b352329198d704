// The JSON form of the project document: compact, absent optionals left out, strict
// on reading (a bad value anywhere fails the whole read).
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include "model/clip.h"

namespace vantry {

// A read or write of the document failed. For a read, what() is what a person is told, in
// the interface language: the file and what is wrong with it in plain words, the JSON
// library's own text at most on a second line.
class DocumentError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Throws DocumentError for a non-finite number or text that is not valid UTF-8;
// nothing is produced then.
std::string encodeClip(const Clip& clip);

// Throws DocumentError when the bytes are not a valid document, or hold what no recording
// can be (a length, a frame size or an offset out of range; a media path that is not an
// absolute local path); what() then says what is wrong ("It is damaged or
// incomplete.").
Clip decodeClip(std::string_view bytes);

// Reads and decodes a document file. Only a regular file of a sane size is read (a pipe or
// a device would block or never end); any failure is a DocumentError whose text names the
// file.
Clip decodeClipFile(const std::string& path);

}  // namespace vantry
