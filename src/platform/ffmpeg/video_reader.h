// Sequential video decoding of one movie file: decoded pictures in presentation order,
// restartable at any time, converted to BGRA (BT.709) only on request, with the stream's
// display rotation applied.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/ffmpeg/ff_util.h"

namespace vantry {

// Pulls the decoded frames of one stream: reads packets as the decoder asks for them and
// drains the decoder at the end of the file. Shared by the picture and sound readers.
struct PacketPump {
  enum class Result { frame, end, failed };
  // `skipDamaged`: a packet the decoder refuses as damaged is dropped and decoding goes on
  // (a damaged picture, or a stretch of sound that the reader fills with silence);
  // otherwise it is a failure.
  Result next(AVFormatContext* fmt, AVCodecContext* codec, int stream, AVFrame* frame,
              bool skipDamaged, std::string* error);
  void restart() {
    ended = flushing = false;
    damagedInARow = 0;
  }

  bool ended = false;
  bool flushing = false;
  static constexpr int kMostDamagedInARow = 1000;
  int damagedInARow = 0;
  ff::PacketPtr packet = ff::makePacket();

 private:
  bool damaged(int rc);
};

class VideoReader {
 public:
  enum class OpenError { none, noVideoTrack, notAFile, failed };

  // Null on failure: `kind` tells whether the file has no video track, is a pipe or a device
  // rather than a file, or could not be opened at all (`error` then says why, in words, as
  // ff::openInput does). `threads` caps the decoder's threads (0: one a core); each frame
  // thread holds pictures of its own.
  static std::unique_ptr<VideoReader> open(const std::string& path, OpenError* kind,
                                           std::string* error, int threads = 0);
  ~VideoReader();

  // Restarts decoding so that the first pictures returned include the one shown at
  // `seconds` (decoding starts at the key frame before it). false with `error` (why, in
  // words) on failure.
  bool restart(double seconds, std::string* error);

  // The next decoded picture in presentation order. false at the end of the movie (then
  // `error` is empty) or on a failure (`error` set).
  bool next(ff::FramePtr& frame, double& seconds, std::string* error);

  // Picture size after rotation.
  int width() const;
  int height() const;
  // Clockwise rotation in degrees applied to every picture (0, 90, 180, 270).
  int rotation() const { return rotation_; }
  double duration() const;
  // Threads the decoder runs with.
  int decoderThreads() const;

  // Whether a decoded picture is already what the export encodes, so that it can be
  // sampled as it is: 8-bit planar 4:2:0 in limited range, of even size, not rotated, and
  // with the colours convert() reads as BT.709.
  bool isEncoderReady(const AVFrame* frame) const;
  // Converts a decoded picture to BGRA (premultiplied, opaque) at width() x height(), with
  // the matrix and range its stream is tagged with.
  bool convert(const AVFrame* frame, uint8_t* dst, int stride);
  // Whether convertHalved() can halve a decoded picture: 8-bit planar 4:2:0 of an even size
  // of at least 4 x 4 (its half has the same shape).
  static bool canHalve(const AVFrame* frame);
  // The same at half the size each way, each pixel the mean of a 2 x 2 block: a quarter of
  // the work, for a picture shown at most that large.
  bool convertHalved(const AVFrame* frame, uint8_t* dst, int stride);

 private:
  VideoReader() = default;
  bool convertGeneral(const AVFrame* frame, uint8_t* target, int targetStride, int space,
                      int range);
  // The scaler's coefficient table for a stream's colour matrix tag.
  static int matrixOf(int colorspace);
  bool rotate(const uint8_t* target, int w, int h, uint8_t* dst, int stride);

  ff::InputFormatPtr fmt_;
  ff::CodecContextPtr codec_;
  int stream_ = -1;
  AVRational timeBase_{1, 1};
  int rotation_ = 0;
  PacketPump pump_;
  int64_t fallbackPts_ = 0;
  SwsContext* sws_ = nullptr;
  int swsW_ = 0, swsH_ = 0, swsFormat_ = -1, swsSpace_ = -1, swsRange_ = -1;
  ff::FramePtr halved_;  // the halved planes convertHalved() converts
  std::unique_ptr<uint8_t[]> rotateBuffer_;
  size_t rotateSize_ = 0;
};

}  // namespace vantry
