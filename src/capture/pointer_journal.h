// "pointer-samples.partial": the pointer track of a recording in progress, kept beside the
// movie so that a recording whose process dies still has its track (recording_recovery.h).
//
// Layout: one header line of compact JSON (capture size, time 0 on the host clock, the
// companion files and their offsets), then fixed 24-byte records: time (double), x and y
// (float), flags (clicked, and a tag), and a checksum of the record. Records are appended in
// batches by the writer queue; a torn or damaged last record is ignored on reading, as is
// everything after it.
//
// Beside it, ".pointer-samples.reserve" holds disk space (allocated, never written) that
// grows with the track, so that a disk filled by the movies still has room for the
// documents: it is given back only once every file of the recording is complete, just
// before "project.json" is written, and holds enough for the first edit file after it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/clip.h"

namespace vantry {

inline constexpr const char* kPointerJournalName = "pointer-samples.partial";
inline constexpr const char* kDocumentReserveName = ".pointer-samples.reserve";

// What is known once the recording's clock runs: enough to rebuild its document.
struct JournalHeader {
  int64_t width = 0;
  int64_t height = 0;
  double startClock = 0;  // host-clock instant of time 0
  // The same instant on the wall clock (seconds since the epoch), which file times are
  // compared with; the writer sets it when it is none. Journals of earlier versions have none.
  std::optional<double> startTime;
  // File names inside the recording folder (not paths: the folder may have moved).
  std::optional<std::string> cameraFile;
  std::optional<std::string> audioFile;
  std::optional<double> cameraOffset;
  std::optional<double> audioOffset;
};

class PointerJournalWriter {
 public:
  PointerJournalWriter() = default;
  ~PointerJournalWriter();
  PointerJournalWriter(const PointerJournalWriter&) = delete;
  PointerJournalWriter& operator=(const PointerJournalWriter&) = delete;

  // Creates the file and writes the header, and the space reserve beside it. False with
  // error() set when the journal cannot be written (a missing reserve is no failure).
  bool open(const std::string& path, JournalHeader header);
  // Keeps the sample for the next write.
  void add(const PointerSample& sample);
  // Hands what is kept to the file. After a failed write (a full disk) the journal stops:
  // a half-written record would make every later one unreadable.
  bool write();
  // Closes the journal (the file stays) and gives the reserved space back.
  void close();
  bool isOpen() const { return fd_ >= 0; }
  const std::string& error() const { return error_; }
  // Bytes written so far, header included.
  int64_t bytesWritten() const { return written_; }

  static constexpr size_t kRecordSize = 24;

 private:
  int fd_ = -1;
  std::vector<unsigned char> pending_;
  std::string error_;
  int64_t written_ = 0;
  int reserveFd_ = -1;
  std::string reservePath_;
  int64_t reserved_ = 0;

  void growReserve();
};

// Gives back the space reserved beside a journal in the folder open as `folder` (after a
// crash).
void releaseDocumentReserve(int folder);

struct JournalContents {
  JournalHeader header;
  std::vector<PointerSample> samples;  // every whole, intact record, in order
  bool torn = false;                   // something after the last good record was ignored
};

// Reads a journal; nullopt with `error` set when the file cannot be read or its header is
// not whole.
std::optional<JournalContents> readPointerJournal(const std::string& path, std::string* error);
// The same from the regular file open as `fd`, from its start.
std::optional<JournalContents> readPointerJournal(int fd, std::string* error);

}  // namespace vantry
