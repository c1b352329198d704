#include "platform/ffmpeg/ff_util.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

#include "localization/localization.h"
#include "localization/user_message.h"
#include "platform/durable_file.h"
#include "platform/ffmpeg/movie_fragments.h"

namespace vantry::ff {

namespace {

// The library's log: warnings and errors only, one line at a time, each marked as ours
// and without the addresses of the library's objects; a line repeated at once, or more
// than a few dozen a second (a damaged stream reports every broken block), is dropped.
void logLine(void* object, int level, const char* format, va_list args) {
  if (level > AV_LOG_WARNING || level > av_log_get_level()) return;
  thread_local std::string pending;
  thread_local std::string last;
  char text[1024];
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(text, sizeof text, format, copy);
  va_end(copy);
  if (n < 0) return;
  if (n >= static_cast<int>(sizeof text)) text[sizeof text - 2] = '\n';  // cut: ends here
  if (pending.empty() && object) {
    const AVClass* cls = *static_cast<AVClass* const*>(object);
    if (cls && cls->item_name) pending = std::string("(") + cls->item_name(object) + ") ";
  }
  pending += text;
  if (pending.empty() || pending.back() != '\n') return;
  std::string line = std::exchange(pending, {});
  if (line == last) return;
  last = line;
  static std::mutex mutex;
  static std::chrono::steady_clock::time_point second;
  static int lines = 0;
  std::lock_guard lock(mutex);
  const auto now = std::chrono::steady_clock::now();
  if (now - second >= std::chrono::seconds(1)) {
    second = now;
    lines = 0;
  }
  if (++lines > 40) return;
  std::fprintf(stderr, "vantry: ffmpeg %s", line.c_str());
}

[[maybe_unused]] const bool kLogRouted = [] {
  av_log_set_callback(&logLine);
  return true;
}();

// Containers that hold their media themselves. Playlists, concatenation lists, image
// sequences and the like would make the library open further files or addresses that the
// file names.
constexpr const char* kContainers = "mov,matroska,avi,wav,mp3,ogg,flac,aac";

// The size of the file open as `fd`, or an FFmpeg error.
int64_t descriptorSize(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 ? int64_t(st.st_size) : AVERROR(errno);
}

// Where one of the library's seeks in a file now at `at` lands (AVSEEK_SIZE: the file's size,
// which `size()` gives); the new place or an FFmpeg error.
template <typename Size>
int64_t seekIn(int64_t& at, int64_t offset, int whence, Size size) {
  if (whence & AVSEEK_SIZE) return size();
  int64_t to = offset;
  switch (whence & ~AVSEEK_FORCE) {
    case SEEK_SET:
      break;
    case SEEK_CUR:
      to += at;
      break;
    case SEEK_END: {
      const int64_t end = size();
      if (end < 0) return end;
      to += end;
      break;
    }
    default:
      return AVERROR(EINVAL);
  }
  if (to < 0) return AVERROR(EINVAL);
  return at = to;
}

// The one descriptor a movie or sound is read through, and where its reading ends: a
// recording cut short inside its last fragment ends at its last whole frame, and that
// fragment's header is read as saying so.
struct InputFile {
  explicit InputFile(int descriptor) : fd(descriptor) {}
  ~InputFile() { ::close(fd); }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  int64_t size() const { return end ? *end : descriptorSize(fd); }

  const int fd;
  int64_t at = 0;
  std::optional<int64_t> end;
  std::vector<HeaderPatch> patches;
};

int readInput(void* opaque, uint8_t* buffer, int size) {
  auto* file = static_cast<InputFile*>(opaque);
  int64_t wanted = size;
  if (file->end) wanted = std::min(wanted, *file->end - file->at);
  if (wanted <= 0) return AVERROR_EOF;
  for (;;) {
    const ssize_t n = ::pread(file->fd, buffer, size_t(wanted), off_t(file->at));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return AVERROR(errno);
    if (n == 0) return AVERROR_EOF;
    applyPatches(file->patches, uint64_t(file->at), buffer, size_t(n));
    file->at += n;
    return int(n);
  }
}

int64_t seekInput(void* opaque, int64_t offset, int whence) {
  auto* file = static_cast<InputFile*>(opaque);
  return seekIn(file->at, offset, whence, [file] { return file->size(); });
}

void closeInput(AVIOContext* io) {
  if (!io) return;
  delete static_cast<InputFile*>(io->opaque);
  av_freep(&io->buffer);
  avio_context_free(&io);
}

// The one descriptor a movie is written through, and where the muxer writes next.
struct OutputFile {
  explicit OutputFile(int descriptor) : fd(descriptor) {}
  ~OutputFile() { ::close(fd); }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  const int fd;
  int64_t at = 0;
};

// The library's writing callback took a buffer it may change until version 61.
#if LIBAVFORMAT_VERSION_MAJOR >= 61
using WrittenBytes = const uint8_t*;
#else
using WrittenBytes = uint8_t*;
#endif

int writeOutput(void* opaque, WrittenBytes buffer, int size) {
  auto* file = static_cast<OutputFile*>(opaque);
  for (int done = 0; done < size;) {
    const ssize_t n = ::pwrite(file->fd, buffer + done, size_t(size - done), off_t(file->at));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return AVERROR(errno);
    done += int(n);
    file->at += n;
  }
  return size;
}

int64_t seekOutput(void* opaque, int64_t offset, int whence) {
  auto* file = static_cast<OutputFile*>(opaque);
  return seekIn(file->at, offset, whence, [file] { return descriptorSize(file->fd); });
}

// The library's I/O through the one descriptor of `file`; null when out of memory.
template <typename File>
AVIOContext* ioOver(File* file) {
  constexpr int kBuffer = 64 << 10;
  constexpr bool writing = std::is_same_v<File, OutputFile>;
  auto* buffer = static_cast<unsigned char*>(av_malloc(kBuffer));
  AVIOContext* io =
      buffer ? avio_alloc_context(buffer, kBuffer, writing ? 1 : 0, file,
                                  writing ? nullptr : readInput, writing ? writeOutput : nullptr,
                                  writing ? seekOutput : seekInput)
             : nullptr;
  if (!io) av_free(buffer);
  return io;
}

// Whatever a file names from inside it (a reference to another movie, a segment) is not
// opened: only the file itself is read.
int refuseNested(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) {
  return AVERROR(EPERM);
}

// Why `st` is nothing a movie is read from; none for a regular file.
std::optional<std::string> notReadable(const struct stat& st, bool* notAFile) {
  if (S_ISREG(st.st_mode)) return std::nullopt;
  if (S_ISDIR(st.st_mode)) return systemReason(EISDIR);
  if (notAFile) *notAFile = true;
  return L("它不是普通文件，而是管道或设备。");
}

}  // namespace

void FormatContextDeleter::operator()(AVFormatContext* c) const {
  if (!c) return;
  if (!(c->oformat && (c->oformat->flags & AVFMT_NOFILE))) closeOutput(c);
  avformat_free_context(c);
}

void InputContextDeleter::operator()(AVFormatContext* c) const {
  if (!c) return;
  // Every input with an I/O of its own comes from openInput(), which reads through an
  // InputFile; the library leaves such an I/O to its caller.
  AVIOContext* io = c->flags & AVFMT_FLAG_CUSTOM_IO ? c->pb : nullptr;
  avformat_close_input(&c);
  closeInput(io);
}

FramePtr makeFrame() {
  return FramePtr(av_frame_alloc());
}
PacketPtr makePacket() {
  return PacketPtr(av_packet_alloc());
}

std::string errorText(int code) {
  char buf[AV_ERROR_MAX_STRING_SIZE] = {};
  if (av_strerror(code, buf, sizeof buf) < 0) return "error " + std::to_string(code);
  return buf;
}

std::string failureReason(int code) {
  // AVERROR(e) is -e for the system's error numbers; -1 is also the older decoders' bare
  // failure, not a permission.
  if (code < -1 && code > -4096) {
    if (std::string reason = systemReason(-code); !reason.empty()) return reason;
    return withDetail(L("读取时出错。"), errorText(code));
  }
  return withDetail(L("它已损坏或不完整。"), errorText(code));
}

InputFormatPtr openInput(const std::string& path, std::string* reason, bool* notAFile) {
  if (notAFile) *notAFile = false;
  auto refuse = [&](std::string why) {
    if (reason) *reason = std::move(why);
    return nullptr;
  };
  // The library would take "http:", "pipe:" or "file:" for protocols, and a relative path
  // would be found from wherever the app was started.
  if (!path.starts_with('/') || path.find('\0') != std::string::npos)
    return refuse(L("它不是本机文件的路径。"));
  // A pipe would block reading for ever and a device might do something on opening: both
  // are refused before opening where they can be, and once open by what was opened, which is
  // what is read (the path may have been replaced meanwhile). Not waiting, so that a pipe
  // swapped in is not waited on either.
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return refuse(failureReason(AVERROR(errno)));
  if (auto why = notReadable(st, notAFile)) return refuse(*why);
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return refuse(failureReason(AVERROR(errno)));
  auto file = std::make_unique<InputFile>(fd);
  if (::fstat(fd, &st) != 0) return refuse(failureReason(AVERROR(errno)));
  if (auto why = notReadable(st, notAFile)) return refuse(*why);
  if (FragmentLayout layout = fragmentLayout(fd); layout.cut()) {
    file->end = int64_t(layout.complete);
    file->patches = std::move(layout.patches);
  }

  AVIOContext* io = ioOver(file.get());
  if (!io) return refuse(failureReason(AVERROR(ENOMEM)));
  file.release();  // the I/O owns it now
  std::unique_ptr<AVIOContext, void (*)(AVIOContext*)> held(io, closeInput);
  AVFormatContext* raw = avformat_alloc_context();
  if (!raw) return refuse(failureReason(AVERROR(ENOMEM)));
  raw->pb = io;
  raw->io_open = refuseNested;
  AVDictionary* options = nullptr;
  av_dict_set(&options, "protocol_whitelist", "file", 0);
  av_dict_set(&options, "format_whitelist", kContainers, 0);
  // The path only helps to tell the format by its extension: nothing is opened by it.
  int rc = avformat_open_input(&raw, path.c_str(), nullptr, &options);
  av_dict_free(&options);
  // A format off the list is refused as an invalid argument: to a person, not a movie.
  if (rc == AVERROR(EINVAL)) rc = AVERROR_INVALIDDATA;
  if (rc < 0) return refuse(failureReason(rc));  // the library freed the context, not the I/O
  held.release();
  InputFormatPtr ctx(raw);
  rc = avformat_find_stream_info(ctx.get(), nullptr);
  if (rc < 0) return refuse(failureReason(rc));
  return ctx;
}

int openOutput(AVFormatContext* fmt, const std::string& path) {
  const int fd = platform::openPrivateFile(path);
  if (fd < 0) return AVERROR(errno);
  auto file = std::make_unique<OutputFile>(fd);
  AVIOContext* io = ioOver(file.get());
  if (!io) return AVERROR(ENOMEM);
  file.release();  // the I/O owns it now
  fmt->pb = io;
  // Marks the I/O as ours: the library never closes it, closeOutput() does.
  fmt->flags |= AVFMT_FLAG_CUSTOM_IO;
  return 0;
}

int outputDescriptor(const AVFormatContext* fmt) {
  if (!fmt || !fmt->pb || !(fmt->flags & AVFMT_FLAG_CUSTOM_IO)) return -1;
  return static_cast<const OutputFile*>(fmt->pb->opaque)->fd;
}

void closeOutput(AVFormatContext* fmt) {
  if (!fmt || !fmt->pb) return;
  if (!(fmt->flags & AVFMT_FLAG_CUSTOM_IO)) {
    avio_closep(&fmt->pb);
    return;
  }
  AVIOContext* io = fmt->pb;
  fmt->pb = nullptr;
  avio_flush(io);
  delete static_cast<OutputFile*>(io->opaque);
  av_freep(&io->buffer);
  avio_context_free(&io);
}

int64_t toTicks(double seconds, AVRational tb) {
  return static_cast<int64_t>(std::llround(seconds * tb.den / tb.num));
}

double toSeconds(int64_t ticks, AVRational tb) {
  return static_cast<double>(ticks) * av_q2d(tb);
}

double streamDuration(const AVFormatContext* fmt, int stream) {
  const AVStream* st = fmt->streams[stream];
  if (st->duration > 0) return toSeconds(st->duration, st->time_base);
  if (fmt->duration > 0) return fmt->duration / static_cast<double>(AV_TIME_BASE);
  return 0;
}

int seekFromStart(AVFormatContext* fmt, int stream, int64_t offset) {
  const int64_t start = fmt->streams[stream]->start_time;
  const int64_t origin = start != AV_NOPTS_VALUE ? start : 0;
  int rc = av_seek_frame(fmt, stream, origin + offset, AVSEEK_FLAG_BACKWARD);
  if (rc < 0) rc = av_seek_frame(fmt, stream, origin, AVSEEK_FLAG_BACKWARD);
  return rc;
}

}  // namespace vantry::ff
