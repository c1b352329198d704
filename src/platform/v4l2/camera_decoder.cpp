#include "platform/v4l2/camera_decoder.h"

#include <algorithm>
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

bool CameraPictureDecoder::convert(const uint8_t* const srcIn[], const int srcStride[], int w,
                                   int h, int avFormat, bool fullRange) {
  // A camera whose picture has another shape (4:3) is cut to the output's shape around
  // its centre rather than stretched.
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(AVPixelFormat(avFormat));
  if (!desc) {
    error_ = "unknown picture format";
    return false;
  }
  int cropW = w, cropH = h;
  if (int64_t(w) * outHeight_ > int64_t(h) * outWidth_) {
    cropW = int(int64_t(h) * outWidth_ / outHeight_);
  } else {
    cropH = int(int64_t(w) * outHeight_ / outWidth_);
  }
  const int alignX = 1 << std::max<int>(desc->log2_chroma_w, 1);
  const int alignY = 1 << desc->log2_chroma_h;
  cropW = std::max(alignX, cropW - cropW % alignX);
  cropH = std::max(alignY, cropH - cropH % alignY);
  int x0 = (w - cropW) / 2;
  int y0 = (h - cropH) / 2;
  x0 -= x0 % alignX;
  y0 -= y0 % alignY;
  const uint8_t* src[4] = {nullptr, nullptr, nullptr, nullptr};
  for (int plane = 0; plane < 4 && srcIn[plane]; ++plane) {
    const bool chroma = plane == 1 || plane == 2;
    const int px = chroma ? (x0 >> desc->log2_chroma_w) : x0;
    const int py = chroma ? (y0 >> desc->log2_chroma_h) : y0;
    // Packed formats (YUYV) hold two bytes a pixel in their one plane.
    const int bytesPerPixel = (desc->flags & AV_PIX_FMT_FLAG_PLANAR) ? 1 : 2;
    src[plane] = srcIn[plane] + ptrdiff_t(py) * srcStride[plane] + ptrdiff_t(px) * bytesPerPixel;
  }
  w = cropW;
  h = cropH;
  sws_ = sws_getCachedContext(sws_, w, h, AVPixelFormat(avFormat), outWidth_, outHeight_,
                              AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
  if (!sws_) {
    const char* name = av_get_pix_fmt_name(AVPixelFormat(avFormat));
    error_ = std::string("no conversion from ") + (name ? name : "?");
    return false;
  }
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
