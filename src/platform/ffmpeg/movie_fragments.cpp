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
  uint64_t size = 0;  // header included
  char type[4] = {};
  bool is(const char* t) const { return std::memcmp(type, t, 4) == 0; }
};

class File {
 public:
  // Without waiting: a pipe or a device in a movie's place must not block the reading.
  explicit File(const std::string& path)
      : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY)) {}
  // One opened by the caller, who keeps it.
  static File borrowing(int fd) { return File(fd, false); }
  ~File() {
    if (fd_ >= 0 && owned_) ::close(fd_);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  bool ok() const { return fd_ >= 0; }
  int descriptor() const { return fd_; }
  std::optional<uint64_t> size() const {
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return uint64_t(st.st_size);
  }
  // The box header at `at` when it lies whole inside [at, end); a size of 0 runs to `end`.
  std::optional<Box> box(uint64_t at, uint64_t end) const {
    unsigned char h[16];
    if (end < at + 8 || ::pread(fd_, h, 8, off_t(at)) != 8) return std::nullopt;
    Box b;
    b.size = uint64_t(h[0]) << 24 | uint64_t(h[1]) << 16 | uint64_t(h[2]) << 8 | h[3];
    std::memcpy(b.type, h + 4, 4);
    uint64_t header = 8;
    if (b.size == 1) {
      if (end < at + 16 || ::pread(fd_, h + 8, 8, off_t(at + 8)) != 8) return std::nullopt;
      b.size = 0;
      for (int i = 8; i < 16; ++i)
        b.size = b.size << 8 | h[i];
      header = 16;
    } else if (b.size == 0) {
      b.size = end - at;
    }
    if (b.size < header) return std::nullopt;  // damaged, not merely cut
    return b;
  }

 private:
  File(int fd, bool owned) : fd_(fd), owned_(owned) {}
  int fd_;
  bool owned_ = true;
};

}  // namespace

FragmentLayout fragmentLayout(const std::string& path) {
  const File file(path);
  return file.ok() ? fragmentLayout(file.descriptor()) : FragmentLayout{};
}

FragmentLayout fragmentLayout(int fd) {
  FragmentLayout layout;
  const File file = File::borrowing(fd);
  if (!file.ok()) return layout;
  const auto size = file.size();
  if (!size) return layout;
  layout.size = *size;
  layout.readable = true;

  uint64_t at = 0;
  bool fragmentOpen = false;  // a "moof" whose "mdat" has not come yet
  while (at < layout.size) {
    const auto b = file.box(at, layout.size);
    if (!b || b->size > layout.size - at) break;  // cut here
    const uint64_t end = at + b->size;
    if (b->is("moov")) {
      for (uint64_t child = at + 8; child < end;) {
        const auto c = file.box(child, end);
        if (!c || c->size > end - child) break;
        if (c->is("mvex")) layout.fragmented = true;
        child += c->size;
      }
    }
    if (b->is("moof")) {
      fragmentOpen = true;
    } else if (!fragmentOpen || b->is("mdat")) {
      fragmentOpen = false;
      layout.complete = end;
    }
    at = end;
  }
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

bool repairCutMovie(const std::string& path, std::string* error) {
  return repairOpened(::open(path.c_str(), kRepairFlags), error);
}

bool repairCutMovie(int folder, const std::string& name, std::string* error) {
  // A plain name only: the file is the folder's own.
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
    return false;
  return repairOpened(::openat(folder, name.c_str(), kRepairFlags), error);
}

namespace {

// Reads the packets of `kind`; `each` gets their end in seconds and says whether to go on.
template <typename Each>
bool readPackets(const std::string& path, AVMediaType kind, Each each) {
  ff::InputFormatPtr in = ff::openInput(path);
  if (!in && repairCutMovie(path)) in = ff::openInput(path);
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
