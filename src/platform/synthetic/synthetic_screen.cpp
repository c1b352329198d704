#include "platform/synthetic/synthetic_screen.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <thread>

namespace vantry::platform::synthetic {

void paintPattern(FrameBuffer& buffer, int index) {
  const int w = buffer.width;
  const int h = buffer.height;
  for (int y = 0; y < h; ++y)
    std::memset(buffer.row(y), 0x40, std::size_t(w) * 4);
  const int barWidth = std::max(2, w / 16);
  const int x0 = (index * 7) % std::max(1, w - barWidth + 1);
  for (int y = 0; y < h; ++y) {
    std::uint8_t* row = buffer.row(y);
    for (int x = 0; x < w; ++x)
      row[x * 4 + 3] = 255;
    for (int x = x0; x < x0 + barWidth && x < w; ++x) {
      row[x * 4 + 0] = 40;
      row[x * 4 + 1] = 180;
      row[x * 4 + 2] = 240;
    }
  }
}

namespace {

// Opaque squares in a colour of the window's own.
std::vector<WindowIcon> plainIcons(WindowId id) {
  const std::uint32_t colour = 0xFF000000u | ((id * 2654435761u) & 0x00FFFFFFu);
  std::vector<WindowIcon> icons;
  for (int side : {16, 32, 64})
    icons.push_back({side, side, std::vector<std::uint32_t>(std::size_t(side) * side, colour)});
  return icons;
}

}  // namespace

class SyntheticStream : public FrameStream {
 public:
  SyntheticStream(std::shared_ptr<SyntheticScreenCapture> owner, StreamConfiguration config,
                  Callbacks callbacks, SyntheticScreenCapture::StreamFault fault, double faultAfter,
                  std::string faultMessage)
      : owner_(std::move(owner)),
        config_(config),
        callbacks_(std::move(callbacks)),
        fault_(fault),
        faultAfter_(faultAfter),
        faultMessage_(std::move(faultMessage)) {}

  ~SyntheticStream() override { stop(); }

  void start() override {
    if (fault_ == SyntheticScreenCapture::StreamFault::failToStart)
      throw PlatformError(faultMessage_);
    std::lock_guard lock(mutex_);
    if (thread_.joinable()) return;
    stopping_ = false;
    owner_->runningStreams_.fetch_add(1);
    thread_ = std::thread([this] { run(); });
  }

  void stop() override {
    {
      std::lock_guard lock(mutex_);
      if (!thread_.joinable()) return;
      stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
    owner_->runningStreams_.fetch_sub(1);
  }

 private:
  void run() {
    using clock = std::chrono::steady_clock;
    const auto begin = clock::now();
    const auto interval = std::chrono::duration_cast<clock::duration>(
        std::chrono::duration<double>(std::max(config_.minimumFrameInterval, 1e-3)));
    auto deadline = begin;
    for (int index = 0;; ++index) {
      {
        std::unique_lock lock(mutex_);
        if (wake_.wait_until(lock, deadline, [&] { return stopping_; })) return;
      }
      deadline += interval;
      const double elapsed = std::chrono::duration<double>(clock::now() - begin).count();
      if (fault_ == SyntheticScreenCapture::StreamFault::stopWithError && elapsed >= faultAfter_) {
        if (callbacks_.onStopped)
          callbacks_.onStopped(std::make_exception_ptr(PlatformError(faultMessage_)));
        return;
      }
      if (fault_ == SyntheticScreenCapture::StreamFault::noFrames) continue;
      if (fault_ == SyntheticScreenCapture::StreamFault::stall && elapsed >= faultAfter_) continue;
      auto buffer = std::make_shared<FrameBuffer>();
      buffer->width = config_.width;
      buffer->height = config_.height;
      buffer->stride = config_.width * 4;
      buffer->pixels.resize(std::size_t(buffer->stride) * buffer->height);
      paintPattern(*buffer, index);
      Frame frame;
      frame.image = std::move(buffer);
      frame.timestamp = hostTime();
      owner_->framesDelivered_.fetch_add(1);
      if (callbacks_.onFrame) callbacks_.onFrame(frame);
    }
  }

  std::shared_ptr<SyntheticScreenCapture> owner_;
  StreamConfiguration config_;
  Callbacks callbacks_;
  SyntheticScreenCapture::StreamFault fault_;
  double faultAfter_;
  std::string faultMessage_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;
};

class SyntheticPointer : public PointerSource {
 public:
  explicit SyntheticPointer(std::shared_ptr<SyntheticScreenCapture> owner)
      : owner_(std::move(owner)) {}

 protected:
  std::optional<Raw> query() override {
    std::lock_guard lock(owner_->mutex_);
    auto& p = owner_->pointer_;
    if (!p.readable) return std::nullopt;
    Raw raw{p.location, p.leftDown, p.presses};
    p.presses = 0;
    return raw;
  }

 private:
  std::shared_ptr<SyntheticScreenCapture> owner_;
};

SyntheticScreenCapture::SyntheticScreenCapture() {
  DisplayInfo main;
  main.id = 1;
  main.name = "SYNTH-1";
  main.frame = Rect{0, 0, 1920, 1080};
  main.primary = true;
  displays_.push_back(main);
}

void SyntheticScreenCapture::setDisplays(std::vector<DisplayInfo> displays) {
  std::lock_guard lock(mutex_);
  displays_ = std::move(displays);
}

void SyntheticScreenCapture::setWindows(std::vector<WindowInfo> windows) {
  std::lock_guard lock(mutex_);
  windows_ = std::move(windows);
  for (const auto& w : windows_) {
    windowRects_[w.id] = w.frame;
    if (!windowIcons_.count(w.id)) windowIcons_[w.id] = plainIcons(w.id);
  }
}

void SyntheticScreenCapture::setWindowIcons(WindowId id, std::vector<WindowIcon> icons) {
  std::lock_guard lock(mutex_);
  windowIcons_[id] = std::move(icons);
}

std::optional<WindowIcon> SyntheticScreenCapture::windowIcon(WindowId id, int size) {
  std::lock_guard lock(mutex_);
  const auto found = windowIcons_.find(id);
  if (found == windowIcons_.end()) return std::nullopt;
  std::vector<std::pair<int, int>> sizes;
  for (const WindowIcon& icon : found->second)
    sizes.emplace_back(icon.width, icon.height);
  const int chosen = nearestIconSize(sizes, size);
  if (chosen < 0) return std::nullopt;
  return found->second[std::size_t(chosen)];
}

void SyntheticScreenCapture::setWindowRect(WindowId id, std::optional<Rect> rect) {
  std::lock_guard lock(mutex_);
  windowRects_[id] = rect;
}

void SyntheticScreenCapture::setContentError(std::string message) {
  std::lock_guard lock(mutex_);
  contentError_ = std::move(message);
}

void SyntheticScreenCapture::setStreamFault(StreamFault fault, double afterSeconds,
                                            std::string message) {
  std::lock_guard lock(mutex_);
  fault_ = fault;
  faultAfter_ = afterSeconds;
  faultMessage_ = std::move(message);
}

void SyntheticScreenCapture::setPointer(Point location, bool leftDown) {
  std::lock_guard lock(mutex_);
  if (leftDown && !pointer_.leftDown) ++pointer_.presses;
  pointer_.location = location;
  pointer_.leftDown = leftDown;
}

void SyntheticScreenCapture::tap() {
  std::lock_guard lock(mutex_);
  ++pointer_.presses;
}

void SyntheticScreenCapture::setPointerReadable(bool readable) {
  std::lock_guard lock(mutex_);
  pointer_.readable = readable;
}

std::optional<ContentFilter> SyntheticScreenCapture::lastFilter() const {
  std::lock_guard lock(mutex_);
  return lastFilter_;
}

std::optional<StreamConfiguration> SyntheticScreenCapture::lastConfiguration() const {
  std::lock_guard lock(mutex_);
  return lastConfig_;
}

ShareableContent SyntheticScreenCapture::shareableContent() {
  std::lock_guard lock(mutex_);
  if (!contentError_.empty()) throw PlatformError(contentError_);
  ShareableContent content;
  content.displays = displays_;
  content.windows = windows_;
  for (const auto& w : windows_)
    content.applications.push_back(w.application);
  return content;
}

std::optional<Rect> SyntheticScreenCapture::windowRect(WindowId id) {
  std::lock_guard lock(mutex_);
  auto it = windowRects_.find(id);
  return it == windowRects_.end() ? std::nullopt : it->second;
}

std::unique_ptr<FrameStream> SyntheticScreenCapture::createStream(
    const ContentFilter& filter, const StreamConfiguration& config,
    FrameStream::Callbacks callbacks) {
  std::lock_guard lock(mutex_);
  lastFilter_ = filter;
  lastConfig_ = config;
  return std::make_unique<SyntheticStream>(shared_from_this(), config, std::move(callbacks), fault_,
                                           faultAfter_, faultMessage_);
}

void SyntheticScreenCapture::setPointerOpenError(std::string message) {
  std::lock_guard lock(mutex_);
  pointerOpenError_ = std::move(message);
}

std::unique_ptr<PointerSource> SyntheticScreenCapture::createPointerSource() {
  {
    std::lock_guard lock(mutex_);
    if (!pointerOpenError_.empty()) throw PlatformError(pointerOpenError_);
  }
  return std::make_unique<SyntheticPointer>(shared_from_this());
}

std::optional<CursorImage> SyntheticScreenCapture::cursorImage() {
  return std::nullopt;
}

ApplicationInfo SyntheticScreenCapture::ownApplication() {
  return ApplicationInfo{"Vantry", "Vantry", 0, true};
}

}  // namespace vantry::platform::synthetic
