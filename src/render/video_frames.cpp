#include "render/video_frames.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "localization/localization.h"
#include "platform/studio_error.h"
#include "render/render_error.h"
#include "render/video_color.h"

namespace vantry {

void VideoFrames::fail(const std::string& reason, const char* fallbackKey) const {
  throwStudioError(withReason(L("无法读取视频 {0}。", shownPath(path_)),
                              reason.empty() ? L(fallbackKey) : reason));
}

VideoFrames::VideoFrames(const std::string& path, int decoderThreads) : path_(path) {
  VideoReader::OpenError kind = VideoReader::OpenError::none;
  std::string error;
  reader_ = VideoReader::open(path, &kind, &error, decoderThreads);
  if (!reader_) {
    if (kind == VideoReader::OpenError::noVideoTrack) fail("", "视频文件没有画面轨道。");
    if (kind == VideoReader::OpenError::notAFile)
      throw NotAFileError(withReason(L("无法读取视频 {0}。", shownPath(path_)), error));
    fail(error, "视频无法解码。");
  }
  pending_ = ff::makeFrame();
  candidate_ = ff::makeFrame();
  shown_ = ff::makeFrame();
  reset(0);
}

VideoFrames::~VideoFrames() = default;

bool VideoFrames::readPending(std::string* error) {
  double t = 0;
  hasPending_ = reader_->next(pending_, t, error);
  pendingTime_ = t;
  if (!hasPending_ && error && !error->empty()) {
    failed_ = true;
    failure_ = *error;
    return false;
  }
  return true;
}

void VideoFrames::reset(double seconds) {
  std::string error;
  if (!reader_->restart(seconds, &error)) fail(error, "视频无法解码。");
  ++seeks_;
  failed_ = false;
  failure_.clear();
  if (!readPending(&error)) fail(error, "视频无法解码。");
  currentImage_.reset();
  av_frame_unref(shown_.get());
  currentPlanes_.reset();
  currentTime_ = -1;
}

QImage VideoFrames::takeBuffer(int w, int h) {
  for (QImage& image : pool_) {
    if (image.isDetached() && image.width() == w && image.height() == h) {
      // Held by the pool alone, so this does not copy; it gives the new picture a new
      // cache key, which caches of the last picture (the compositors') go by.
      image.bits();
      return image;
    }
  }
  // The scaler's vector code writes up to a few pixels past the end of the last row when
  // the width is not a multiple of its step: room is left there.
  const qsizetype stride = static_cast<qsizetype>(w) * 4;
  void* memory = std::malloc(static_cast<size_t>(stride) * h + 256);
  if (!memory) return {};
  QImage image(
      static_cast<uchar*>(memory), w, h, stride, QImage::Format_ARGB32_Premultiplied,
      [](void* p) { std::free(p); }, memory);
  image.setColorSpace(VideoColor::space());
  // Pictures stay referenced while an export pipeline composes them (a few frames in
  // flight); keep enough to reuse within about 64 MB. More are made and freed as needed.
  const size_t bytes = static_cast<size_t>(w) * h * 4;
  const size_t limit = std::clamp<size_t>((64u << 20) / std::max<size_t>(bytes, 1), 4, 16);
  if (pool_.size() < limit) pool_.push_back(image);
  return image;
}

bool VideoFrames::advance(double t, double& candidateTime) {
  if (t < lastRequest_ - 0.001 || t - lastRequest_ > 0.8) reset(std::max(t - 0.1, 0.0));
  lastRequest_ = t;
  if (failed_) fail(failure_, "视频读取失败。");

  const double deadline = t + 0.001;
  bool haveCandidate = false;
  std::string error;
  auto take = [&] {
    std::swap(candidate_, pending_);
    candidateTime = pendingTime_;
    haveCandidate = true;
    return readPending(&error);
  };
  while (hasPending_ && pendingTime_ <= deadline) {
    if (!take()) break;
  }
  if (!haveCandidate && hasPending_ && !currentImage_ && !currentPlanes_ && !failed_) take();
  return haveCandidate;
}

void VideoFrames::convert(AVFrame* frame, double time, bool halve) {
  // Sized from the picture itself: a stream may change size part-way.
  const bool turned = reader_->rotation() % 180 != 0;
  halve = halve && VideoReader::canHalve(frame);
  const int w = (turned ? frame->height : frame->width) / (halve ? 2 : 1);
  const int h = (turned ? frame->width : frame->height) / (halve ? 2 : 1);
  QImage buffer = w > 0 && h > 0 ? takeBuffer(w, h) : QImage();
  if (buffer.isNull()) {
    av_frame_unref(frame);
    fail("", "视频读取失败。");
  }
  // The pool keeps a reference: detach-free writing is fine since nobody else holds it.
  uchar* bits = const_cast<uchar*>(buffer.constBits());
  const int stride = static_cast<int>(buffer.bytesPerLine());
  if (halve ? reader_->convertHalved(frame, bits, stride) : reader_->convert(frame, bits, stride)) {
    ++conversions_;
    currentImage_ = buffer;
    currentHalved_ = halve;
    currentTime_ = time;
  }
  // Kept, so that the picture can be converted again at the other size.
  if (frame != shown_.get()) {
    av_frame_unref(shown_.get());
    av_frame_move_ref(shown_.get(), frame);
  }
}

std::optional<QImage> VideoFrames::image(double t, int shownWidth) {
  const bool halve = shownWidth > 0 && shownWidth * 2 <= width();
  double when = 0;
  if (advance(t, when)) {
    convert(candidate_.get(), when, halve);
    currentPlanes_.reset();
  } else if (currentImage_ && shown_->buf[0] &&
             currentHalved_ != (halve && VideoReader::canHalve(shown_.get()))) {
    convert(shown_.get(), currentTime_, halve);
  } else if (!currentImage_ && currentPlanes_) {
    // The last picture was handed out as planes.
    ff::FramePtr copy = ff::makeFrame();
    if (av_frame_ref(copy.get(), currentPlanes_.get()) < 0) fail("", "视频读取失败。");
    convert(copy.get(), currentTime_);
  }
  if (failed_) fail(failure_, "视频读取失败。");
  return currentImage_;
}

VideoFrames::Picture VideoFrames::picture(double t) {
  double when = 0;
  if (advance(t, when)) {
    if (reader_->isEncoderReady(candidate_.get())) {
      std::shared_ptr<AVFrame> planes(av_frame_alloc(), [](AVFrame* f) { av_frame_free(&f); });
      if (!planes) fail("", "视频读取失败。");
      av_frame_move_ref(planes.get(), candidate_.get());
      currentPlanes_ = std::move(planes);
      currentImage_.reset();
      av_frame_unref(shown_.get());
      currentTime_ = when;
    } else {
      convert(candidate_.get(), when);
      currentPlanes_.reset();
    }
  }
  if (failed_) fail(failure_, "视频读取失败。");
  if (currentPlanes_) return {currentPlanes_, std::nullopt};
  return {nullptr, currentImage_};
}

std::optional<QImage> movieThumbnail(const std::string& path) {
  constexpr int maxWidth = 576, maxHeight = 324;
  try {
    VideoFrames frames(path);
    const double length = frames.duration();
    const double at = std::isfinite(length) && length > 0 ? std::min(length / 3, 1.0) : 0.0;
    std::optional<QImage> picture = frames.image(at);
    if (!picture || picture->isNull()) return std::nullopt;
    if (picture->width() > maxWidth || picture->height() > maxHeight) {
      return picture->scaled(maxWidth, maxHeight, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
    // A copy, so the reader's buffer pool is not held past the reader.
    return picture->copy();
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

}  // namespace vantry
