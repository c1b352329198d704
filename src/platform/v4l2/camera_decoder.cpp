#include "platform/v4l2/camera_decoder.h"

#include <cstring>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace vantry::platform {

CameraPictureDecoder::CameraPictureDecoder(CameraPixelFormat format, int sourceWidth,
                                           int sourceHeight, int outWidth, int outHeight)
    : format_(format),
      sourceWidth_(sourceWidth),
      sourceHeight_(sourceHeight),
      outWidth_(outWidth),
      outHeight_(outHeight),
      bgra_(size_t(outWidth) * size_t(outHeight) * 4, 0) {
  if (format_ == CameraPixelFormat::mjpeg) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MJPEG);
    if (codec) {
      codec_.reset(avcodec_alloc_context3(codec));
      if (codec_ && avcodec_open2(codec_.get(), codec, nullptr) < 0) codec_.reset();
    }
    packet_ = ff::makePacket();
    frame_ = ff::makeFrame();
  }
}

CameraPictureDecoder::~CameraPictureDecoder() {
  sws_freeContext(sws_);
}

bool CameraPictureDecoder::convert(const uint8_t* const src[], const int srcStride[], int w, int h,
                                   int avFormat, bool fullRange) {
  sws_ = sws_getCachedContext(sws_, w, h, AVPixelFormat(avFormat), outWidth_, outHeight_,
                              AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
  if (!sws_) {
    const char* name = av_get_pix_fmt_name(AVPixelFormat(avFormat));
    error_ = std::string("no conversion from ") + (name ? name : "?");
    return false;
  }
  // Webcams encode with the BT.601 matrix; MJPEG is full range, raw YUYV is video range.
  const int* coefficients = sws_getCoefficients(SWS_CS_ITU601);
  sws_setColorspaceDetails(sws_, coefficients, fullRange ? 1 : 0, coefficients, 1, 0, 1 << 16,
                           1 << 16);
  uint8_t* dst[4] = {bgra_.data(), nullptr, nullptr, nullptr};
  int dstStride[4] = {stride(), 0, 0, 0};
  if (sws_scale(sws_, src, srcStride, 0, h, dst, dstStride) <= 0) {
    error_ = "conversion failed";
    return false;
  }
  return true;
}

bool CameraPictureDecoder::decode(const uint8_t* data, size_t size) {
  error_.clear();
  if (format_ == CameraPixelFormat::yuyv) {
    const size_t rowBytes = size_t(sourceWidth_) * 2;
    if (sourceWidth_ <= 0 || sourceHeight_ <= 0 || size < rowBytes * size_t(sourceHeight_)) {
      error_ = "short YUYV buffer";
      return false;
    }
    const uint8_t* src[4] = {data, nullptr, nullptr, nullptr};
    int srcStride[4] = {int(rowBytes), 0, 0, 0};
    return convert(src, srcStride, sourceWidth_, sourceHeight_, AV_PIX_FMT_YUYV422, false);
  }

  if (!codec_ || !packet_ || !frame_) {
    error_ = "no Motion JPEG decoder";
    return false;
  }
  if (size == 0 || size > size_t(INT32_MAX - AV_INPUT_BUFFER_PADDING_SIZE)) {
    error_ = "empty picture";
    return false;
  }
  av_packet_unref(packet_.get());
  if (av_new_packet(packet_.get(), int(size)) < 0) {
    error_ = "out of memory";
    return false;
  }
  std::memcpy(packet_->data, data, size);
  int rc = avcodec_send_packet(codec_.get(), packet_.get());
  if (rc < 0) {
    error_ = ff::errorText(rc);
    avcodec_flush_buffers(codec_.get());
    return false;
  }
  rc = avcodec_receive_frame(codec_.get(), frame_.get());
  if (rc < 0) {
    error_ = ff::errorText(rc);
    avcodec_flush_buffers(codec_.get());
    return false;
  }
  int avFormat = frame_->format;
  bool fullRange = frame_->color_range == AVCOL_RANGE_JPEG;
  // The "J" formats are full-range aliases; name the plain format and the range instead.
  switch (avFormat) {
    case AV_PIX_FMT_YUVJ420P:
      avFormat = AV_PIX_FMT_YUV420P;
      fullRange = true;
      break;
    case AV_PIX_FMT_YUVJ422P:
      avFormat = AV_PIX_FMT_YUV422P;
      fullRange = true;
      break;
    case AV_PIX_FMT_YUVJ444P:
      avFormat = AV_PIX_FMT_YUV444P;
      fullRange = true;
      break;
    case AV_PIX_FMT_YUVJ440P:
      avFormat = AV_PIX_FMT_YUV440P;
      fullRange = true;
      break;
    default:
      if (frame_->color_range == AVCOL_RANGE_UNSPECIFIED) fullRange = true;  // JPEG default
      break;
  }
  const bool ok =
      convert(frame_->data, frame_->linesize, frame_->width, frame_->height, avFormat, fullRange);
  av_frame_unref(frame_.get());
  return ok;
}

}  // namespace vantry::platform
