#include "platform/ffmpeg/movie_fragments.h"

#include "platform/durable_file.h"
#include "platform/ffmpeg/ff_util.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

namespace vantry {

namespace {

uint64_t bigEndian(const unsigned char* p, int width) {
  uint64_t v = 0;
  for (int i = 0; i < width; ++i)
    v = v << 8 | p[i];
  return v;
}

struct Box {
  uint64_t at = 0;
  uint64_t size = 0;    // header included; what the header claims, even past the end
  uint64_t header = 8;  // 16 with a 64-bit size
  bool toEnd = false;   // a size of 0: up to the end of what holds it
  char type[4] = {};
  uint64_t end() const { return at + size; }
  bool is(const char* t) const { return std::memcmp(type, t, 4) == 0; }
  // Four printable characters, as every box type is; a cut never leaves anything else.
  bool named() const {
    return std::all_of(type, type + 4, [](char c) { return c >= 0x20 && c < 0x7f; });
  }
};

// What stands at a position of the walk.
enum class At { box, cut, damaged };

// The box whose header is in `h`, the `n` bytes (at most 16) from `at` on, when it lies
// whole inside [at, end); a size of 0 runs to `end`. A box that runs past `end`, or whose
// header does, was cut there.
At boxAt(const unsigned char* h, uint64_t n, uint64_t at, uint64_t end, Box& b) {
  b = Box{};
  b.at = at;
  if (n < 8) return At::cut;
  b.size = bigEndian(h, 4);
  std::memcpy(b.type, h + 4, 4);
  if (!b.named()) return At::damaged;
  if (b.size == 1) {
    if (n < 16) return At::cut;
    b.size = bigEndian(h + 8, 8);
    b.header = 16;
  } else if (b.size == 0) {
    b.toEnd = true;
    b.size = end - at;
  }
  if (b.size < b.header) return At::damaged;
  return b.size > end - at ? At::cut : At::box;
}

class Boxes {
 public:
  explicit Boxes(int fd) : fd_(fd) {}
  std::optional<uint64_t> size() const {
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return uint64_t(st.st_size);
  }
  At box(uint64_t at, uint64_t end, Box& b) const {
    unsigned char h[16];
    const uint64_t n = std::min<uint64_t>(sizeof h, end - at);
    if (n >= 8 && !readAt(h, n, at)) return At::damaged;
    return boxAt(h, n, at, end, b);
  }
  // A fragment's header starts at `at`: whatever lay before it in the file was no tear.
  bool fragmentAt(uint64_t at, uint64_t end) const {
    Box b, first;
    unsigned char h[16];
    return at < end && box(at, end, b) == At::box && b.is("moof") && b.size >= b.header + 8 &&
           readAt(h, 8, at + b.header) && boxAt(h, 8, 0, b.size - b.header, first) == At::box &&
           first.is("mfhd");
  }
  bool readAt(unsigned char* into, size_t n, uint64_t at) const {
    for (;;) {
      const ssize_t got = ::pread(fd_, into, n, off_t(at));
      if (got < 0 && errno == EINTR) continue;
      return got == ssize_t(n);
    }
  }

 private:
  int fd_;
};

// The samples of one "trun": where its count is written, where its first sample starts
// and how long each is.
struct Run {
  uint64_t countAt = 0;
  uint64_t dataAt = 0;
  std::vector<uint32_t> sizes;
};

// What a "moof" says, read from memory.
struct Fragment {
  // Where the walk of its children ended, and whether it ended at the start of a box no
  // fragment header holds: its own size was then damaged, not cut.
  uint64_t childrenEnd = 0;
  bool stoppedAtBox = false;
  // The runs of each "traf", when every sample of them was placed.
  std::vector<std::vector<Run>> tracks;
  bool placed = false;
};

// Larger than any fragment header our writer makes (a few hundred samples a fragment), and
// than any run of samples that all have the default size.
constexpr uint64_t kMostFragmentHeader = 4 << 20;
constexpr uint64_t kMostSamples = 1 << 20;

// trun and tfhd flags.
constexpr uint32_t kDataOffset = 0x1, kFirstSampleFlags = 0x4, kSampleDuration = 0x100,
                   kSampleSize = 0x200, kSampleFlags = 0x400, kSampleTimeOffset = 0x800;
constexpr uint32_t kBaseDataOffset = 0x1, kDescriptionIndex = 0x2, kDefaultDuration = 0x8,
                   kDefaultSize = 0x10, kBaseIsMoof = 0x20000;

// Gives `each` the children of the box `b` in `bytes` (which hold the file from `origin`
// on), from the end of its header, and says where the walk ended: at the first that does
// not lie whole or that `each` refuses. Positions are the file's.
template <typename Each>
uint64_t children(const std::vector<unsigned char>& bytes, uint64_t origin, const Box& b,
                  Each each) {
  uint64_t at = b.at - origin + b.header;
  const uint64_t end = std::min<uint64_t>(b.end() - origin, bytes.size());
  while (at < end) {
    Box c;
    const At found =
        boxAt(bytes.data() + at, std::min<uint64_t>(16, end - at), origin + at, origin + end, c);
    if (!each(found, c) || found != At::box || c.toEnd) break;
    at += c.size;
  }
  return at + origin;
}

// The runs of the "traf" `b`; `base` is where its data starts unless its "tfhd" says.
bool readTrack(const std::vector<unsigned char>& bytes, uint64_t origin, const Box& b,
               uint64_t moof, uint64_t base, std::vector<Run>& runs) {
  bool described = false, placed = true;
  uint32_t defaultSize = 0;
  bool hasDefaultSize = false;
  children(bytes, origin, b, [&](At found, const Box& c) {
    if (found != At::box || c.toEnd) return placed = false;
    const unsigned char* p = bytes.data() + (c.at - origin) + c.header;
    uint64_t left = c.size - c.header;
    auto take = [&](int width, uint64_t* into) {
      if (left < uint64_t(width)) return placed = false;
      if (into) *into = bigEndian(p, width);
      p += width;
      left -= width;
      return true;
    };
    uint64_t flags = 0, v = 0;
    if (c.is("tfhd")) {
      if (!take(4, &flags) || !take(4, nullptr)) return false;  // version and flags, track
      described = true;
      if (flags & kBaseDataOffset && !take(8, &base)) return false;
      if (flags & kBaseIsMoof && !(flags & kBaseDataOffset)) base = moof;
      if (flags & kDescriptionIndex && !take(4, nullptr)) return false;
      if (flags & kDefaultDuration && !take(4, nullptr)) return false;
      if (flags & kDefaultSize && !take(4, &v)) return false;
      hasDefaultSize = flags & kDefaultSize;
      defaultSize = uint32_t(v);
    } else if (c.is("trun")) {
      Run run;
      uint64_t count = 0;
      if (!described || !take(4, &flags)) return placed = false;
      run.countAt = c.at + c.header + 4;
      if (!take(4, &count)) return false;
      run.dataAt = runs.empty() ? base : runs.back().dataAt;
      if (!runs.empty())
        for (const uint32_t size : runs.back().sizes)
          run.dataAt += size;
      if (flags & kDataOffset) {
        if (!take(4, &v)) return false;
        run.dataAt = base + uint64_t(int64_t(int32_t(uint32_t(v))));
      }
      if (flags & kFirstSampleFlags && !take(4, nullptr)) return false;
      const int each = 4 * (bool(flags & kSampleDuration) + bool(flags & kSampleSize) +
                            bool(flags & kSampleFlags) + bool(flags & kSampleTimeOffset));
      if (!(flags & kSampleSize) && !hasDefaultSize) return placed = false;
      if (each > 0 ? count > left / each : count > kMostSamples) return placed = false;
      run.sizes.reserve(count);
      for (uint64_t i = 0; i < count; ++i) {
        if (flags & kSampleDuration) take(4, nullptr);
        if (flags & kSampleSize) take(4, &v);
        run.sizes.push_back(flags & kSampleSize ? uint32_t(v) : defaultSize);
        if (flags & kSampleFlags) take(4, nullptr);
        if (flags & kSampleTimeOffset) take(4, nullptr);
      }
      runs.push_back(std::move(run));
    }
    return placed;
  });
  return placed && described;
}

// Reads the "moof" `b` and its runs: at most up to `end`, the file's end, and never more
// than a fragment's header can hold (one whose size claims gigabytes ends much sooner).
Fragment readFragment(const Boxes& file, const Box& b, uint64_t end) {
  Fragment f;
  const uint64_t length = std::min({b.size, end - b.at, kMostFragmentHeader});
  std::vector<unsigned char> bytes(length);
  if (!file.readAt(bytes.data(), bytes.size(), b.at)) return f;
  Box whole = b;
  whole.size = length;
  f.placed = true;
  uint64_t base = b.at;  // the first track's data follows the fragment's start
  f.childrenEnd = children(bytes, b.at, whole, [&](At found, const Box& c) {
    // A fragment's header never holds a fragment or its data: where one starts, the size
    // of this one was wrong.
    if (found != At::damaged && (c.is("mdat") || c.is("moof"))) {
      f.stoppedAtBox = true;
      return false;
    }
    if (found != At::box || c.toEnd) return f.placed = false;
    if (c.is("traf")) {
      std::vector<Run> runs;
      if (!readTrack(bytes, b.at, c, b.at, base, runs)) return f.placed = false;
      for (const Run& run : runs) {
        uint64_t after = run.dataAt;
        for (const uint32_t size : run.sizes)
          after += size;
        base = std::max(base, after);
      }
      f.tracks.push_back(std::move(runs));
    }
    return true;
  });
  if (f.childrenEnd != b.end() || f.tracks.empty()) f.placed = false;
  return f;
}

// The samples of a placed fragment whose "mdat" `data` the file's end at `end` cuts: each
// run keeps the samples that lie whole inside the data before `end` (a track none after
// the first run that loses one).
struct Kept {
  uint64_t end = 0;  // where the last kept sample ends; 0 when none is kept
  bool all = true;   // every sample is kept
  std::vector<HeaderPatch> patches;
};

Kept keptSamples(const Fragment& f, const Box& data, uint64_t end) {
  Kept kept;
  const uint64_t from = data.at + data.header;
  for (const auto& runs : f.tracks) {
    bool lost = false;
    for (const Run& run : runs) {
      uint64_t at = run.dataAt;
      uint32_t whole = 0;
      for (const uint32_t size : run.sizes) {
        if (lost || at < from || at + size > end) break;
        at += size;
        ++whole;
      }
      if (whole > 0) kept.end = std::max(kept.end, at);
      if (whole < run.sizes.size()) {
        lost = true;
        kept.all = false;
        kept.patches.push_back({run.countAt, 4, whole});
      }
    }
  }
  if (kept.end == 0) return kept;
  const uint64_t size = kept.end - data.at;
  if (data.header == 16)
    kept.patches.push_back({data.at + 8, 8, size});
  else if (size <= UINT32_MAX)
    kept.patches.push_back({data.at, 4, size});
  return kept;
}

}  // namespace

FragmentLayout fragmentLayout(int fd) {
  FragmentLayout layout;
  const Boxes file(fd);
  const auto size = file.size();
  if (!size) return layout;
  layout.size = *size;
  layout.readable = true;

  uint64_t at = 0;
  std::optional<Box> fragment;  // a whole "moof" whose "mdat" has not come yet
  Box b;
  while (at < layout.size) {
    const At found = file.box(at, layout.size, b);
    if (found == At::damaged) {
      layout.damaged = true;
      break;
    }
    // Claims the rest of the file or more: the last box, torn or not, unless readable boxes
    // follow what it really holds.
    const bool open = found == At::cut || b.toEnd;
    if (b.is("moov") && found == At::box) {
      Box c;
      for (uint64_t child = at + b.header;
           child < b.end() && file.box(child, b.end(), c) == At::box && !c.toEnd; child += c.size)
        if (c.is("mvex")) layout.fragmented = true;
    }
    if (b.is("moof") && open) {
      // Torn, unless a fragment's data or another fragment starts where its children end.
      layout.damaged = readFragment(file, b, layout.size).stoppedAtBox;
      break;
    }
    if (b.is("moof")) {
      fragment = b;
    } else if (b.is("mdat") && fragment && open) {
      const Fragment f = readFragment(file, *fragment, layout.size);
      if (!f.placed) {
        if (b.toEnd) layout.complete = layout.size;
        break;
      }
      // Every sample whole and another fragment after them: the data's size was damaged.
      // Otherwise the file was torn inside the data, or after it in what the size claimed.
      Kept kept = keptSamples(f, b, layout.size);
      if (kept.all && kept.end < layout.size && file.fragmentAt(kept.end, layout.size)) {
        layout.damaged = true;
      } else if (kept.all && b.toEnd) {
        layout.complete = layout.size;
      } else if (kept.end > 0) {
        layout.complete = kept.end;
        layout.patches = std::move(kept.patches);
      }
      break;
    } else if (!fragment || b.is("mdat")) {
      fragment.reset();
      if (found == At::box) layout.complete = b.end();
    }
    if (found != At::box) break;
    at = b.end();
  }
  return layout;
}

FragmentLayout fragmentLayout(const std::string& path) {
  // Without waiting: a pipe or a device in a movie's place must not block the reading.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return {};
  FragmentLayout layout = fragmentLayout(fd);
  ::close(fd);
  return layout;
}

namespace {

// Opened once, for writing but without waiting, never through a link.
constexpr int kRepairFlags = O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;

// Writes `patch` over the file open on `fd`, and syncs it: the next write must not reach
// the disk before it.
bool writePatch(int fd, const HeaderPatch& patch) {
  unsigned char bytes[8];
  applyPatches({patch}, patch.at, bytes, size_t(patch.width));
  for (;;) {
    const ssize_t n = ::pwrite(fd, bytes, size_t(patch.width), off_t(patch.at));
    if (n < 0 && errno == EINTR) continue;
    if (n >= 0 && n != patch.width) errno = EIO;
    return n == patch.width && ::fdatasync(fd) == 0;
  }
}

// Checks, measures and repairs the file open on `fd`, and closes it. Only a plain file of
// our own with no other name is written: writing one that is also elsewhere would change
// it there too.
bool repairOpened(int fd, std::string* error) {
  if (fd < 0) return false;
  struct stat st {};
  bool repaired = false;
  if (::fstat(fd, &st) == 0 && platform::isOwnSingleFile(st)) {
    const FragmentLayout layout = fragmentLayout(fd);
    if (layout.cut() && layout.complete > 0) {
      // In an order that leaves the file, stopped after any step, cut no worse than before:
      // the runs' counts (the data still reaches past them), the torn rest, then the data's
      // size that now ends where the file does.
      const auto& patches = layout.patches;
      repaired = true;
      for (size_t i = 0; repaired && i + 1 < patches.size(); ++i)
        repaired = writePatch(fd, patches[i]);
      if (repaired && layout.complete < layout.size)
        repaired = ::ftruncate(fd, off_t(layout.complete)) == 0 && ::fdatasync(fd) == 0;
      if (repaired && !patches.empty()) repaired = writePatch(fd, patches.back());
      if (!repaired && error) *error = std::strerror(errno);
    }
  }
  ::close(fd);
  return repaired;
}

}  // namespace

void applyPatches(const std::vector<HeaderPatch>& patches, uint64_t at, unsigned char* bytes,
                  size_t n) {
  for (const HeaderPatch& patch : patches)
    for (int i = 0; i < patch.width; ++i) {
      const uint64_t byte = patch.at + uint64_t(i);
      if (byte >= at && byte - at < n)
        bytes[byte - at] = uint8_t(patch.value >> (8 * (patch.width - 1 - i)));
    }
}

bool isPlainFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

bool repairCutMovie(int folder, const std::string& name, std::string* error) {
  // A plain name only: the file is the folder's own.
  if (!isPlainFileName(name)) return false;
  return repairOpened(::openat(folder, name.c_str(), kRepairFlags), error);
}

namespace {

// Reads the packets of `kind`; `each` gets their end in seconds and says whether to go on.
template <typename Each>
bool readPackets(const std::string& path, AVMediaType kind, Each each) {
  ff::InputFormatPtr in = ff::openInput(path);
  if (!in) return false;
  const int stream = av_find_best_stream(in.get(), kind, -1, -1, nullptr, 0);
  if (stream < 0) return false;
  const AVRational tb = in->streams[stream]->time_base;
  ff::PacketPtr packet = ff::makePacket();
  while (av_read_frame(in.get(), packet.get()) >= 0) {
    const bool found = packet->stream_index == stream && packet->pts != AV_NOPTS_VALUE;
    const double end =
        found ? ff::toSeconds(packet->pts + std::max<int64_t>(packet->duration, 0), tb) : 0;
    av_packet_unref(packet.get());
    if (found && !each(end)) break;
  }
  return true;
}

}  // namespace

bool movieHolds(const std::string& path, AVMediaType kind) {
  bool holds = false;
  readPackets(path, kind, [&](double) {
    holds = true;
    return false;  // one is enough
  });
  return holds;
}

std::optional<double> movieEnd(const std::string& path, AVMediaType kind) {
  std::optional<double> end;
  readPackets(path, kind, [&](double e) {
    end = std::max(end.value_or(e), e);
    return true;
  });
  return end;
}

}  // namespace vantry
