#include "platform/ffmpeg/movie_fragments.h"

#include "platform/ffmpeg/ff_util.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

namespace vantry {

namespace {

struct Box {
  uint64_t size = 0;    // header included
  uint64_t header = 8;  // 16 with a 64-bit size
  char type[4] = {};
  bool is(const char* t) const { return std::memcmp(type, t, 4) == 0; }
  // Four printable characters, as every box type is; a cut never leaves anything else.
  bool named() const {
    return std::all_of(type, type + 4, [](char c) { return c >= 0x20 && c < 0x7f; });
  }
};

// What stands at a position of the walk.
enum class At { box, cut, damaged };

class Boxes {
 public:
  explicit Boxes(int fd) : fd_(fd) {}
  std::optional<uint64_t> size() const {
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return uint64_t(st.st_size);
  }
  // The box at `at` when it lies whole inside [at, end); a size of 0 runs to `end`. A box
  // that runs past `end`, or whose header does, was cut there.
  At box(uint64_t at, uint64_t end, Box& b) const {
    unsigned char h[16];
    if (end < at + 8) return At::cut;
    if (!readAt(h, 8, at)) return At::damaged;
    b.size = uint64_t(h[0]) << 24 | uint64_t(h[1]) << 16 | uint64_t(h[2]) << 8 | h[3];
    std::memcpy(b.type, h + 4, 4);
    if (!b.named()) return At::damaged;
    b.header = 8;
    if (b.size == 1) {
      if (end < at + 16) return At::cut;
      if (!readAt(h + 8, 8, at + 8)) return At::damaged;
      b.size = 0;
      for (int i = 8; i < 16; ++i)
        b.size = b.size << 8 | h[i];
      b.header = 16;
    } else if (b.size == 0) {
      b.size = end - at;
    }
    if (b.size < b.header) return At::damaged;
    return b.size > end - at ? At::cut : At::box;
  }

 private:
  bool readAt(unsigned char* into, size_t n, uint64_t at) const {
    for (;;) {
      const ssize_t got = ::pread(fd_, into, n, off_t(at));
      if (got < 0 && errno == EINTR) continue;
      return got == ssize_t(n);
    }
  }

  int fd_;
};

}  // namespace

FragmentLayout fragmentLayout(int fd) {
  FragmentLayout layout;
  const Boxes file(fd);
  const auto size = file.size();
  if (!size) return layout;
  layout.size = *size;
  layout.readable = true;

  uint64_t at = 0;
  bool fragmentOpen = false;  // a "moof" whose "mdat" has not come yet
  Box b;
  while (at < layout.size) {
    const At found = file.box(at, layout.size, b);
    if (found == At::damaged) layout.damaged = true;
    if (found != At::box) break;
    const uint64_t end = at + b.size;
    if (b.is("moov")) {
      Box c;
      for (uint64_t child = at + b.header; child < end && file.box(child, end, c) == At::box;
           child += c.size)
        if (c.is("mvex")) layout.fragmented = true;
    }
    if (b.is("moof")) {
      fragmentOpen = true;
    } else if (!fragmentOpen || b.is("mdat")) {
      fragmentOpen = false;
      layout.complete = end;
    }
    at = end;
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

// Checks, measures and cuts the file open on `fd`, and closes it. Only a plain file of our
// own with no other name is cut: cutting one that is also elsewhere would cut it there too.
bool repairOpened(int fd, std::string* error) {
  if (fd < 0) return false;
  struct stat st {};
  bool repaired = false;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
      st.st_nlink == 1) {
    const FragmentLayout layout = fragmentLayout(fd);
    if (layout.cut() && layout.complete > 0) {
      repaired = ::ftruncate(fd, off_t(layout.complete)) == 0;
      if (!repaired && error) *error = std::strerror(errno);
    }
  }
  ::close(fd);
  return repaired;
}

}  // namespace

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
