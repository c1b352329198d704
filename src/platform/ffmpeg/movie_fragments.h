// The box layout of a fragmented MP4/MOV file as our writer leaves it while recording:
// "ftyp", a "moov" that announces fragments ("mvex"), then "moof" + "mdat" pairs. A full
// disk or a killed process cuts such a file anywhere, often inside the last fragment's
// header, and FFmpeg then refuses the whole file. Cut back to the end of its last complete
// fragment, every complete frame before it reads again.
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
  uint64_t size = 0;        // bytes in the file
  uint64_t complete = 0;    // end of the last complete box (a fragment counts with its mdat)
  bool cut() const { return fragmented && complete < size; }
};

// Walks the top-level boxes of `path` (reads only the box headers and the "moov").
FragmentLayout fragmentLayout(const std::string& path);
// The same for the file open on `fd` (read at offsets; its position is not moved).
FragmentLayout fragmentLayout(int fd);

// When `path` is a fragmented movie whose tail is cut, truncates it to its last complete
// fragment. True when it was cut back; `error` gets the system's text when the truncation
// itself failed. Any other file is left as it is, and so is a link, a file of another user
// and one with a second name. It writes: it is for the recovery of a recording folder held
// locked (capture/recording_lock.h), never for reading.
bool repairCutMovie(const std::string& path, std::string* error = nullptr);
// The same for the file `name` (a plain name) in the folder open on `folder`.
bool repairCutMovie(int folder, const std::string& name, std::string* error = nullptr);

// True when `path` opens as a movie (a cut tail repaired first) that holds at least one
// packet of `kind`: a file whose disk filled before its first fragment has its tracks but
// nothing in them, and would only fail to open later.
bool movieHolds(const std::string& path, AVMediaType kind);
// Where the packets of `kind` in `path` end, in seconds (a fragmented file's last one counts
// from its start); none when it holds none or does not open.
std::optional<double> movieEnd(const std::string& path, AVMediaType kind);

}  // namespace vantry
