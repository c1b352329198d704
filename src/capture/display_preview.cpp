#include "capture/display_preview.h"

#include <cmath>

#include "capture/capture_target.h"
#include "render/video_color.h"

namespace vantry {

namespace {

std::string describe(std::exception_ptr error) {
  try {
    if (error) std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
  }
  return {};
}

}  // namespace

DisplayPreview::DisplayPreview(std::shared_ptr<platform::ScreenCapture> capture)
    : capture_(capture ? std::move(capture) : platform::defaultScreenCapture()) {}

DisplayPreview::~DisplayPreview() {
  stop();
}

platform::StreamConfiguration DisplayPreview::configurationFor(const platform::Rect& rect) {
  platform::StreamConfiguration config;
  config.width = 960;
  double h = rect.width > 0 ? 960.0 * rect.height / rect.width : 0.0;
  // Cut toward zero; anything below 2 (or not a number) becomes 2.
  config.height = (h >= 2.0 && h < 1e6) ? int(std::trunc(h)) : (h >= 1e6 ? 1000000 : 2);
  config.minimumFrameInterval = 1.0 / 15.0;
  config.showsCursor = true;
  config.queueDepth = 3;
  return config;
}

void DisplayPreview::start(platform::DisplayId displayID,
                           std::optional<platform::WindowId> windowID) {
  // A stream still running is stopped (and its thread joined) before it is replaced.
  stop();
  const platform::ShareableContent content = capture_->shareableContent();
  const CaptureTarget target =
      CaptureTarget::resolve(content, displayID, windowID, capture_->ownApplication());
  last_.reset();
  auto stream = capture_->createStream(target.filter, configurationFor(target.rect),
                                       {[this](const platform::Frame& frame) { handle(frame); },
                                        [this](std::exception_ptr error) {
                                          if (onError) onError(describe(error));
                                        }});
  std::lock_guard lock(mutex_);
  stream_ = std::move(stream);
  // A failed start keeps the stream: a later stop() clears it.
  stream_->start();
}

void DisplayPreview::stop() {
  std::unique_ptr<platform::FrameStream> stream;
  {
    std::lock_guard lock(mutex_);
    stream = std::move(stream_);
  }
  if (stream) stream->stop();
}

bool DisplayPreview::running() const {
  std::lock_guard lock(mutex_);
  return stream_ != nullptr;
}

void DisplayPreview::handle(const platform::Frame& frame) {
  if (frame.status != platform::FrameStatus::complete || !frame.image) return;
  const platform::FrameBuffer& buffer = *frame.image;
  if (buffer.width <= 0 || buffer.height <= 0 || buffer.pixels.empty()) return;
  if (!onFrame) return;
  // A still screen costs nothing past the grab: a picture equal to the one last handed on
  // (pointer included) is not handed on again.
  if (last_ && last_->width == buffer.width && last_->height == buffer.height &&
      last_->stride == buffer.stride && last_->pixels == buffer.pixels)
    return;
  last_ = frame.image;
  onFrame(liveImage(frame.image));
}

QImage liveImage(const std::shared_ptr<const platform::FrameBuffer>& buffer) {
  // The image keeps the frame's buffer alive instead of copying it.
  auto* keep = new std::shared_ptr<const platform::FrameBuffer>(buffer);
  QImage image(
      buffer->pixels.data(), buffer->width, buffer->height, buffer->stride,
      QImage::Format_ARGB32_Premultiplied,
      [](void* p) { delete static_cast<std::shared_ptr<const platform::FrameBuffer>*>(p); }, keep);
  image.setColorSpace(VideoColor::space());
  return image;
}

}  // namespace vantry
