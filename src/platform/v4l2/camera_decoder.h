// Turns what a webcam delivers (Motion JPEG or packed YUYV) into BGRA at a fixed size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/ffmpeg/ff_util.h"

namespace vantry::platform {

enum class CameraPixelFormat { mjpeg, yuyv };

class CameraPictureDecoder {
 public:
  // Source pictures are sourceWidth x sourceHeight; output is outWidth x outHeight BGRA.
  CameraPictureDecoder(CameraPixelFormat format, int sourceWidth, int sourceHeight, int outWidth,
                       int outHeight);
  ~CameraPictureDecoder();
  CameraPictureDecoder(const CameraPictureDecoder&) = delete;
  CameraPictureDecoder& operator=(const CameraPictureDecoder&) = delete;

  // Decodes one buffer into bgra() and returns true; false (with error()) for a corrupt or
  // short buffer, which callers skip. Webcams send a broken JPEG now and then.
  bool decode(const uint8_t* data, size_t size);

  const uint8_t* bgra() const { return bgra_.data(); }
  int width() const { return outWidth_; }
  int height() const { return outHeight_; }
  int stride() const { return outWidth_ * 4; }
  const std::string& error() const { return error_; }

 private:
  bool convert(const uint8_t* const src[], const int srcStride[], int w, int h, int avFormat,
               bool fullRange);

  CameraPixelFormat format_;
  int sourceWidth_;
  int sourceHeight_;
  int outWidth_;
  int outHeight_;
  ff::CodecContextPtr codec_;
  ff::PacketPtr packet_;
  ff::FramePtr frame_;
  SwsContext* sws_ = nullptr;  // cached by sws_getCachedContext
  std::vector<uint8_t> bgra_;
  std::string error_;
};

}  // namespace vantry::platform
