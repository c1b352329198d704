// The box layout of a fragmented MP4/MOV file as our writer leaves it while recording:
// "ftyp", a "moov" that announces fragments ("mvex"), then "moof" + "mdat" pairs. A full
// disk or a killed process cuts such a file anywhere, often inside the last fragment, and
// FFmpeg then refuses the whole file or the torn frame. Read as if it ended at its last
// whole frame (ff::openInput does), every whole frame before the cut reads again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/avutil.h>
}

namespace vantry {

// A big-endian field of a cut fragment's header as it reads once the file ends at the
// fragment's last whole sample.
struct HeaderPatch {
  uint64_t at = 0;  // where the field lies in the file
  int width = 4;    // bytes: 4, or 8 for a 64-bit box size
  uint64_t value = 0;
};

struct FragmentLayout {
  bool readable = false;    // the file could be opened and its header read
  bool fragmented = false;  // a "moov" with "mvex" came before the first fragment
  bool damaged = false;     // a box header that no cut leaves: the walk stopped there
  uint64_t size = 0;        // bytes in the file
  // End of what reads whole: the last complete box (a fragment counts with its mdat), or in
  // a fragment cut inside its data, its last whole sample.
  uint64_t complete = 0;
  // For a fragment cut inside its data: the sample counts of its runs that lose samples, then
  // last its "mdat" size, as they read once the file ends at `complete`.
  std::vector<HeaderPatch> patches;
  // Only a file torn in its last box, with nothing readable after the tear, is cut: one
  // damaged further in keeps what follows the damage, for the reader to make of it what it
  // can.
  bool cut() const { return fragmented && !damaged && (complete < size || !patches.empty()); }
};

// Walks the top-level boxes of the regular file open as `fd` (reads only the box headers,
// the "moov", and the "moof" of a fragment found cut or open-ended, by position: the
// descriptor's offset is left alone).
FragmentLayout fragmentLayout(int fd);
// The same for the file at `path`, opened without waiting (a pipe is not read).
FragmentLayout fragmentLayout(const std::string& path);

// Whether `name` names a file in a folder itself: not empty, not "." or "..", no "/".
bool isPlainFileName(const std::string& name);

// Lays `patches` over `bytes`, the `n` bytes of the file from `at` on.
void applyPatches(const std::vector<HeaderPatch>& patches, uint64_t at, unsigned char* bytes,
                  size_t n);

// When the file `name` (a plain name) in the folder open on `folder` is a fragmented movie
// whose tail is cut, makes it end at its last whole sample: the cut fragment's header made
// to say so, and the torn rest truncated. True when it was repaired; `error` gets the
// system's text when a write failed (the file is then no worse than before). Any other
// file is left as it is, and so is a link, a file of another user and one with a second
// name. It writes: it is for the recovery of a recording folder held locked
// (capture/recording_lock.h), never for reading.
bool repairCutMovie(int folder, const std::string& name, std::string* error = nullptr);

// True when `path` opens as a movie (read up to a cut in its last fragment) that holds at
// least one packet of `kind`: a file whose disk filled before its first fragment has its
// tracks but nothing in them, and would only fail to open later.
bool movieHolds(const std::string& path, AVMediaType kind);
// Where the packets of `kind` in `path` end, in seconds (a fragmented file's last one counts
// from its start); none when it holds none or does not open.
std::optional<double> movieEnd(const std::string& path, AVMediaType kind);

}  // namespace vantry
