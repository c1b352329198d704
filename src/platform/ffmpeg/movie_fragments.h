// The box layout of a fragmented MP4/MOV file as our writer leaves it while recording:
// "ftyp", a "moov" that announces fragments ("mvex"), then "moof" + "mdat" pairs. A full
// disk or a killed process cuts such a file anywhere, often inside the last fragment's
// header, and FFmpeg then refuses the whole file. Read as if it ended at its last complete
// fragment (ff::openInput does), every complete frame before the cut reads again.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

extern "C" {
#include <libavutil/avutil.h>
}

namespace vantry {

struct FragmentLayout {
  bool readable = false;    // the file could be opened and its header read
  bool fragmented = false;  // a "moov" with "mvex" came before the first fragment
  bool damaged = false;     // a box header that no cut leaves: the walk stopped there
  uint64_t size = 0;        // bytes in the file
  uint64_t complete = 0;    // end of the last complete box (a fragment counts with its mdat)
  // Only a file that ends inside its last box is cut: one damaged further in keeps what
  // follows the damage, for the reader to make of it what it can.
  bool cut() const { return fragmented && !damaged && complete < size; }
};

// Walks the top-level boxes of the regular file open as `fd` (reads only the box headers
// and the "moov", by position: the descriptor's offset is left alone).
FragmentLayout fragmentLayout(int fd);
// The same for the file at `path`, opened without waiting (a pipe is not read).
FragmentLayout fragmentLayout(const std::string& path);

// Whether `name` names a file in a folder itself: not empty, not "." or "..", no "/".
bool isPlainFileName(const std::string& name);

// When the file `name` (a plain name) in the folder open on `folder` is a fragmented movie
// whose tail is cut, truncates it to its last complete fragment. True when it was cut back;
// `error` gets the system's text when the truncation itself failed. Any other file is left
// as it is, and so is a link, a file of another user and one with a second name. It writes:
// it is for the recovery of a recording folder held locked (capture/recording_lock.h), never
// for reading.
bool repairCutMovie(int folder, const std::string& name, std::string* error = nullptr);

// True when `path` opens as a movie (read up to a cut in its last fragment) that holds at
// least one packet of `kind`: a file whose disk filled before its first fragment has its
// tracks but nothing in them, and would only fail to open later.
bool movieHolds(const std::string& path, AVMediaType kind);
// Where the packets of `kind` in `path` end, in seconds (a fragmented file's last one counts
// from its start); none when it holds none or does not open.
std::optional<double> movieEnd(const std::string& path, AVMediaType kind);

}  // namespace vantry
