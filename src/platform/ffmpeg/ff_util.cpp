#include "platform/ffmpeg/ff_util.h"

#include <sys/stat.h>

#include <cmath>

#include "localization/localization.h"

namespace vantry::ff {

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

InputFormatPtr openInput(const std::string& path, std::string* error) {
  // A pipe or a device at a media path would block reading for ever.
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    if (error) *error = L("不是普通文件。");
    return nullptr;
  }
  AVFormatContext* raw = nullptr;
  int rc = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
  if (rc < 0) {
    if (error) *error = errorText(rc);
    return nullptr;
  }
  InputFormatPtr ctx(raw);
  rc = avformat_find_stream_info(ctx.get(), nullptr);
  if (rc < 0) {
    if (error) *error = errorText(rc);
    return nullptr;
  }
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
