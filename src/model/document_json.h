// The JSON form of the project document: compact, absent optionals left out, strict
// on reading (a bad value anywhere fails the whole read).
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "model/clip.h"

namespace vantry {

// A read or write of the document failed. For a read, what() is what a person is told, in
// the interface language: the file and what is wrong with it in plain words, the JSON
// library's own text at most on a second line.
class DocumentError : public std::runtime_error {
 public:
  explicit DocumentError(const std::string& what, std::string where = {})
      : std::runtime_error(what), where_(std::move(where)) {}
  // Where in the JSON form the fault stands ("samples[3].clicked"), for tools; empty when
  // it is not one value.
  const std::string& where() const { return where_; }

 private:
  std::string where_;
};

// Throws DocumentError for a non-finite number or text that is not valid UTF-8, and for
// anything decodeClip() would refuse (a value out of range, a media path that is not an
// absolute local path, a document too large), with the words and the place decodeClip()
// would give; nothing is produced then.
std::string encodeClip(const Clip& clip);

// Throws DocumentError when the bytes are not a valid document, or hold what no recording
// can be (a length, a frame size or an offset out of range; a media path that is not an
// absolute local path); what() then says what is wrong ("It is damaged or
// incomplete.").
Clip decodeClip(std::string_view bytes);

// A part of the document as the subject of a sentence about the project, in words a person
// knows rather than the JSON key: "Its screen movie" for "screenPath", "Its length" for
// "duration", "Its sound" for "audioPath". Any other key gives "One of its values".
std::string documentPartInWords(std::string_view key);

// A part of the document as the subject of a sentence about the project, in words a person
// knows rather than its JSON key: "Its screen movie" for "screenPath", "Its camera movie"
// for "cameraPath", "Its sound" for "audioPath", "Its length" for "duration". Any other key
// gives "One of its values".
std::string documentPartInWords(std::string_view key);

// Reads and decodes a document file. Only a regular file of a sane size is read (a pipe or
// a device would block or never end); any failure is a DocumentError whose text names the
// file.
Clip decodeClipFile(const std::string& path);

}  // namespace vantry
