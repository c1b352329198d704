#include "platform/ffmpeg/ff_util.h"

#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <utility>

#include "localization/localization.h"
#include "localization/user_message.h"

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

}  // namespace

void FormatContextDeleter::operator()(AVFormatContext* c) const {
  if (!c) return;
  if (c->pb && !(c->oformat && (c->oformat->flags & AVFMT_NOFILE))) avio_closep(&c->pb);
  avformat_free_context(c);
}

void InputContextDeleter::operator()(AVFormatContext* c) const {
  if (c) avformat_close_input(&c);
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

InputFormatPtr openInput(const std::string& path, std::string* reason) {
  auto refuse = [&](std::string why) {
    if (reason) *reason = std::move(why);
    return nullptr;
  };
  // The library would take "http:", "pipe:" or "file:" for protocols, and a relative path
  // would be found from wherever the app was started.
  if (!path.starts_with('/') || path.find('\0') != std::string::npos)
    return refuse(L("它不是本机文件的路径。"));
  // A pipe or a device would block reading for ever.
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return refuse(failureReason(AVERROR(errno)));
  if (S_ISDIR(st.st_mode)) return refuse(systemReason(EISDIR));
  if (!S_ISREG(st.st_mode)) return refuse(L("它不是普通文件，而是管道或设备。"));

  AVFormatContext* raw = nullptr;
  AVDictionary* options = nullptr;
  av_dict_set(&options, "protocol_whitelist", "file", 0);
  av_dict_set(&options, "format_whitelist", kContainers, 0);
  // Explicitly a file, so that a folder name with a colon is not read as a protocol.
  const std::string url = "file:" + path;
  int rc = avformat_open_input(&raw, url.c_str(), nullptr, &options);
  av_dict_free(&options);
  // A format off the list is refused as an invalid argument: to a person, not a movie.
  if (rc == AVERROR(EINVAL)) rc = AVERROR_INVALIDDATA;
  if (rc < 0) return refuse(failureReason(rc));
  InputFormatPtr ctx(raw);
  rc = avformat_find_stream_info(ctx.get(), nullptr);
  if (rc < 0) return refuse(failureReason(rc));
  return ctx;
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
