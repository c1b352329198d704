#include "platform/ffmpeg/video_reader.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/cpu_dispatch.h"

extern "C" {
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
}

namespace vantry {

namespace {

// One row of blocks: each sample the rounded mean of two neighbours in each of two rows.
VANTRY_TARGET_CLONES void halveRow(const uint8_t* __restrict a, const uint8_t* __restrict b,
                                   uint8_t* __restrict out, int n) {
  for (int x = 0; x < n; ++x)
    out[x] = static_cast<uint8_t>((a[2 * x] + a[2 * x + 1] + b[2 * x] + b[2 * x + 1] + 2) >> 2);
}

// A plane halved into dstW x dstH; a block past an odd last column or row of the source
// takes that column or row twice.
void halvePlane(const uint8_t* src, int srcStride, int srcW, int srcH, uint8_t* dst, int dstStride,
                int dstW, int dstH) {
  const int whole = std::min(dstW, srcW / 2);
  for (int y = 0; y < dstH; ++y) {
    const uint8_t* a = src + std::ptrdiff_t(std::min(2 * y, srcH - 1)) * srcStride;
    const uint8_t* b = src + std::ptrdiff_t(std::min(2 * y + 1, srcH - 1)) * srcStride;
    uint8_t* out = dst + std::ptrdiff_t(y) * dstStride;
    halveRow(a, b, out, whole);
    for (int x = whole; x < dstW; ++x) {
      const int l = std::min(2 * x, srcW - 1), r = std::min(2 * x + 1, srcW - 1);
      out[x] = static_cast<uint8_t>((a[l] + a[r] + b[l] + b[r] + 2) >> 2);
    }
  }
}

}  // namespace

std::unique_ptr<VideoReader> VideoReader::open(const std::string& path, OpenError* kind,
                                               std::string* error, int threads) {
  auto failWith = [&](OpenError k, const std::string& text) -> std::unique_ptr<VideoReader> {
    if (kind) *kind = k;
    if (error) *error = text;
    return nullptr;
  };
  std::unique_ptr<VideoReader> r(new VideoReader());
  std::string text;
  bool notAFile = false;
  // A recording cut short inside its last fragment reads up to its last whole frame.
  r->fmt_ = ff::openInput(path, &text, &notAFile);
  if (!r->fmt_) return failWith(notAFile ? OpenError::notAFile : OpenError::failed, text);
  const AVCodec* decoder = nullptr;
  const int index = av_find_best_stream(r->fmt_.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
  if (index == AVERROR_STREAM_NOT_FOUND) return failWith(OpenError::noVideoTrack, "");
  if (index < 0 || !decoder) return failWith(OpenError::failed, ff::failureReason(index));
  AVStream* st = r->fmt_->streams[index];
  r->stream_ = index;
  r->timeBase_ = st->time_base;
  r->codec_.reset(avcodec_alloc_context3(decoder));
  int rc = avcodec_parameters_to_context(r->codec_.get(), st->codecpar);
  if (rc < 0) return failWith(OpenError::failed, ff::failureReason(rc));
  r->codec_->thread_count = std::max(threads, 0);
  r->codec_->pkt_timebase = st->time_base;
  rc = avcodec_open2(r->codec_.get(), decoder, nullptr);
  if (rc < 0) return failWith(OpenError::failed, ff::failureReason(rc));
  for (int i = 0; i < st->nb_side_data; ++i) {
    if (st->side_data[i].type != AV_PKT_DATA_DISPLAYMATRIX) continue;
    const double angle =
        -av_display_rotation_get(reinterpret_cast<const int32_t*>(st->side_data[i].data));
    if (std::isfinite(angle)) {
      const int quarter = static_cast<int>(std::lround(angle / 90.0));
      r->rotation_ = ((quarter % 4) + 4) % 4 * 90;
    }
  }
  for (unsigned i = 0; i < r->fmt_->nb_streams; ++i)
    if (static_cast<int>(i) != index) r->fmt_->streams[i]->discard = AVDISCARD_ALL;
  if (kind) *kind = OpenError::none;
  return r;
}

VideoReader::~VideoReader() {
  if (sws_) sws_freeContext(sws_);
}

int VideoReader::width() const {
  return rotation_ % 180 ? codec_->height : codec_->width;
}

int VideoReader::height() const {
  return rotation_ % 180 ? codec_->width : codec_->height;
}

int VideoReader::decoderThreads() const {
  return codec_->thread_count;
}

double VideoReader::duration() const {
  return ff::streamDuration(fmt_.get(), stream_);
}

bool VideoReader::restart(double seconds, std::string* error) {
  int rc =
      ff::seekFromStart(fmt_.get(), stream_, seconds > 0 ? ff::toTicks(seconds, timeBase_) : 0);
  if (rc < 0) {
    if (error) *error = ff::failureReason(rc);
    return false;
  }
  avcodec_flush_buffers(codec_.get());
  pump_.restart();
  return true;
}

bool PacketPump::damaged(int rc) {
  // Decoders report damage as invalid data or, the older ones, as a bare -1. Only a long
  // run of nothing else means the stream cannot be decoded at all.
  if (rc != AVERROR_INVALIDDATA && rc != -1) return false;
  return ++damagedInARow <= kMostDamagedInARow;
}

PacketPump::Result PacketPump::next(AVFormatContext* fmt, AVCodecContext* codec, int stream,
                                    AVFrame* frame, bool skipDamaged, std::string* error) {
  for (;;) {
    if (ended) return Result::end;
    int rc = avcodec_receive_frame(codec, frame);
    if (rc >= 0) {
      damagedInARow = 0;
      return Result::frame;
    }
    if (rc == AVERROR_EOF || (rc == AVERROR(EAGAIN) && flushing)) {
      ended = true;
      return Result::end;
    }
    // Some decoders report a damaged packet only when its frame is asked for.
    if (rc != AVERROR(EAGAIN) && skipDamaged && damaged(rc)) continue;
    if (rc != AVERROR(EAGAIN)) {
      if (error) *error = ff::failureReason(rc);
      return Result::failed;
    }
    rc = av_read_frame(fmt, packet.get());
    if (rc == AVERROR_EOF) {
      flushing = true;
      avcodec_send_packet(codec, nullptr);
      continue;
    }
    if (rc < 0) {
      if (error) *error = ff::failureReason(rc);
      return Result::failed;
    }
    if (packet->stream_index != stream) {
      av_packet_unref(packet.get());
      continue;
    }
    rc = avcodec_send_packet(codec, packet.get());
    av_packet_unref(packet.get());
    if (rc < 0 && rc != AVERROR(EAGAIN)) {
      if (skipDamaged && damaged(rc)) continue;
      if (error) *error = ff::failureReason(rc);
      return Result::failed;
    }
  }
}

bool VideoReader::next(ff::FramePtr& frame, double& seconds, std::string* error) {
  if (error) error->clear();
  if (!frame) frame = ff::makeFrame();
  if (pump_.next(fmt_.get(), codec_.get(), stream_, frame.get(), true, error) !=
      PacketPump::Result::frame)
    return false;
  int64_t pts = frame->best_effort_timestamp;
  if (pts == AV_NOPTS_VALUE) pts = frame->pts;
  if (pts == AV_NOPTS_VALUE) pts = fallbackPts_;
  fallbackPts_ = pts + 1;
  const int64_t start = fmt_->streams[stream_]->start_time;
  seconds = ff::toSeconds(pts - (start != AV_NOPTS_VALUE ? start : 0), timeBase_);
  return true;
}

bool VideoReader::isEncoderReady(const AVFrame* frame) const {
  // Keep in step with convert(): the same pictures must come out either way.
  return frame->format == AV_PIX_FMT_YUV420P && frame->color_range != AVCOL_RANGE_JPEG &&
         (frame->colorspace == AVCOL_SPC_BT709 || frame->colorspace == AVCOL_SPC_UNSPECIFIED) &&
         rotation_ == 0 && frame->width % 2 == 0 && frame->height % 2 == 0 && frame->width > 0 &&
         frame->height > 0;
}

int VideoReader::matrixOf(int colorspace) {
  switch (colorspace) {
    case AVCOL_SPC_FCC:
      return SWS_CS_FCC;
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M:
      return SWS_CS_ITU601;
    case AVCOL_SPC_SMPTE240M:
      return SWS_CS_SMPTE240M;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL:
      return SWS_CS_BT2020;
    default:
      // Untagged pictures are taken as BT.709, like everything this system writes.
      return SWS_CS_ITU709;
  }
}

bool VideoReader::convert(const AVFrame* frame, uint8_t* dst, int stride) {
  const int w = frame->width, h = frame->height;
  const int space = matrixOf(frame->colorspace);
  const int range =
      frame->color_range == AVCOL_RANGE_JPEG || frame->format == AV_PIX_FMT_YUVJ420P ||
              frame->format == AV_PIX_FMT_YUVJ422P || frame->format == AV_PIX_FMT_YUVJ444P
          ? 1
          : 0;
  uint8_t* target = dst;
  int targetStride = stride;
  if (rotation_) {
    const size_t need = static_cast<size_t>(w) * h * 4;
    if (rotateSize_ < need) {
      rotateBuffer_.reset(new uint8_t[need]);
      rotateSize_ = need;
    }
    target = rotateBuffer_.get();
    targetStride = w * 4;
  }
  if (!convertGeneral(frame, target, targetStride, space, range)) return false;
  if (!rotation_) return true;
  return rotate(target, w, h, dst, stride);
}

bool VideoReader::canHalve(const AVFrame* frame) {
  return (frame->format == AV_PIX_FMT_YUV420P || frame->format == AV_PIX_FMT_YUVJ420P) &&
         frame->width >= 4 && frame->height >= 4 && frame->width % 2 == 0 && frame->height % 2 == 0;
}

bool VideoReader::convertHalved(const AVFrame* frame, uint8_t* dst, int stride) {
  if (!canHalve(frame)) return false;
  // Halved as planes: four times less to convert than the whole picture.
  const int w = frame->width / 2, h = frame->height / 2;
  if (!halved_ || halved_->width != w || halved_->height != h || halved_->format != frame->format) {
    halved_ = ff::makeFrame();
    if (!halved_) return false;
    halved_->width = w;
    halved_->height = h;
    halved_->format = frame->format;
    if (av_frame_get_buffer(halved_.get(), 0) < 0) {
      halved_.reset();
      return false;
    }
  }
  halvePlane(frame->data[0], frame->linesize[0], frame->width, frame->height, halved_->data[0],
             halved_->linesize[0], w, h);
  for (int i = 1; i < 3; ++i)
    halvePlane(frame->data[i], frame->linesize[i], (frame->width + 1) / 2, (frame->height + 1) / 2,
               halved_->data[i], halved_->linesize[i], (w + 1) / 2, (h + 1) / 2);
  halved_->color_range = frame->color_range;
  halved_->colorspace = frame->colorspace;
  return convert(halved_.get(), dst, stride);
}

bool VideoReader::convertGeneral(const AVFrame* frame, uint8_t* target, int targetStride, int space,
                                 int range) {
  const int w = frame->width, h = frame->height;
  if (!sws_ || swsW_ != w || swsH_ != h || swsFormat_ != frame->format || swsSpace_ != space ||
      swsRange_ != range) {
    if (sws_) sws_freeContext(sws_);
    sws_ = sws_getContext(w, h, static_cast<AVPixelFormat>(frame->format), w, h, AV_PIX_FMT_BGRA,
                          // Same size: the scaler's fast colour converter (SIMD) is used.
                          SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
    if (!sws_) return false;
    const int* table = sws_getCoefficients(space);
    sws_setColorspaceDetails(sws_, table, range, table, 1, 0, 1 << 16, 1 << 16);
    swsW_ = w;
    swsH_ = h;
    swsFormat_ = frame->format;
    swsSpace_ = space;
    swsRange_ = range;
  }
  uint8_t* planes[4] = {target, nullptr, nullptr, nullptr};
  int strides[4] = {targetStride, 0, 0, 0};
  return sws_scale(sws_, frame->data, frame->linesize, 0, h, planes, strides) > 0;
}

bool VideoReader::rotate(const uint8_t* target, int w, int h, uint8_t* dst, int stride) {
  const uint32_t* src = reinterpret_cast<const uint32_t*>(target);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      int dx = x, dy = y;
      if (rotation_ == 90) {
        dx = h - 1 - y;
        dy = x;
      } else if (rotation_ == 180) {
        dx = w - 1 - x;
        dy = h - 1 - y;
      } else if (rotation_ == 270) {
        dx = y;
        dy = w - 1 - x;
      }
      reinterpret_cast<uint32_t*>(dst + static_cast<size_t>(dy) * stride)[dx] =
          src[static_cast<size_t>(y) * w + x];
    }
  }
  return true;
}

}  // namespace vantry
