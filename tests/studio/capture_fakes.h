// A scripted capture for the controller: every call is logged in order, starts can be
// held back or made to fail, and the test hands frames in from its own thread as a
// capture thread would.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/studio_error.h"
#include "studio/capture_worker.h"
#include "studio/export_run.h"
#include "studio/studio.h"
#include "studio_access.h"

namespace vantry {

namespace testing {

inline QImage picture(int w = 64, int h = 36, Qt::GlobalColor color = Qt::red) {
  QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
  image.fill(color);
  return image;
}

// Processes events until `done` holds or a generous deadline passes.
inline bool waitUntil(const std::function<bool()>& done, int ms = 10000) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}

// A door the capture thread waits at until the test opens it.
class Gate {
 public:
  void close() {
    std::lock_guard lock(m_);
    open_ = false;
  }
  void open() {
    {
      std::lock_guard lock(m_);
      open_ = true;
    }
    cv_.notify_all();
  }
  void pass() {
    std::unique_lock lock(m_);
    arrived_ = true;
    cv_.notify_all();
    cv_.wait(lock, [this] { return open_; });
  }
  // Waits until the capture thread reached the gate.
  void awaitArrival() {
    std::unique_lock lock(m_);
    cv_.wait(lock, [this] { return arrived_; });
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool open_ = true;
  bool arrived_ = false;
};

struct CaptureLog {
  std::mutex mutex;
  std::vector<std::string> calls;
  void add(std::string call) {
    std::lock_guard lock(mutex);
    calls.push_back(std::move(call));
  }
  std::vector<std::string> snapshot() {
    std::lock_guard lock(mutex);
    return calls;
  }
};

// The test's side of a display preview. The controller owns, stops and destroys its
// preview on the capture queue; the test holds this part, which outlives it, so a frame or
// an error sent by the test after the controller let go reaches nobody, as with a real
// stream that was stopped.
class FakePreview {
 public:
  FakePreview(CaptureLog& log, int number) : log_(log), number_(number) {}
  std::optional<std::string> startError;
  Gate gate;

  void start(platform::DisplayId display, std::optional<platform::WindowId> window) {
    log_.add("preview" + std::to_string(number_) + ".start " + std::to_string(display) +
             (window ? " window " + std::to_string(*window) : ""));
    started_ = true;
    gate.pass();
    if (startError) throw StudioError(*startError);
  }
  void stop() { log_.add("preview" + std::to_string(number_) + ".stop"); }
  // Whether start() was called (the controller may already have released it since).
  bool started() const { return started_; }

  void frame(const QImage& image = picture()) {
    std::lock_guard lock(m_);
    if (onFrame_) onFrame_(image);
  }
  void fail(const std::string& message) {
    std::lock_guard lock(m_);
    if (onError_) onError_(message);
  }
  // The controller's handlers, from its start until it destroyed the preview.
  void attach(std::function<void(const QImage&)> onFrame,
              std::function<void(const std::string&)> onError) {
    std::lock_guard lock(m_);
    onFrame_ = std::move(onFrame);
    onError_ = std::move(onError);
  }
  void release() { attach(nullptr, nullptr); }

 private:
  CaptureLog& log_;
  int number_;
  std::atomic<bool> started_{false};
  std::mutex m_;
  std::function<void(const QImage&)> onFrame_;
  std::function<void(const std::string&)> onError_;
};

// What the controller owns: a handle on the test's FakePreview.
class HeldPreview : public LivePreview {
 public:
  explicit HeldPreview(std::shared_ptr<FakePreview> preview) : preview_(std::move(preview)) {}
  ~HeldPreview() override { preview_->release(); }
  void start(platform::DisplayId display, std::optional<platform::WindowId> window) override {
    preview_->attach(onFrame, onError);
    preview_->start(display, window);
  }
  void stop() override { preview_->stop(); }

 private:
  std::shared_ptr<FakePreview> preview_;
};

// Made on the capture queue, read by the test on the main thread.
template <class T>
class SharedList {
 public:
  void push(std::shared_ptr<T> item) {
    std::lock_guard lock(m_);
    items_.push_back(std::move(item));
  }
  std::size_t size() const {
    std::lock_guard lock(m_);
    return items_.size();
  }
  bool empty() const { return size() == 0; }
  std::shared_ptr<T> operator[](std::size_t i) const {
    std::lock_guard lock(m_);
    return items_.at(i);
  }
  std::shared_ptr<T> back() const {
    std::lock_guard lock(m_);
    return items_.empty() ? nullptr : items_.back();
  }

 private:
  mutable std::mutex m_;
  std::vector<std::shared_ptr<T>> items_;
};

class FakeCamera : public LiveCamera {
 public:
  FakeCamera(CaptureLog& log, int number) : log_(log), number_(number) {}
  std::optional<std::string> prepareError;
  void setOnFrame(std::function<void(const QImage&)> handler) override {
    std::lock_guard lock(m_);
    handler_ = std::move(handler);
  }
  void preparePreview() override {
    log_.add("camera" + std::to_string(number_) + ".prepare");
    if (prepareError) throw StudioError(*prepareError);
  }
  void stopPreview() override { log_.add("camera" + std::to_string(number_) + ".stop"); }
  void frame(const QImage& image = picture(32, 18, Qt::blue)) {
    std::lock_guard lock(m_);
    if (handler_) handler_(image);
  }
  int number() const { return number_; }

 private:
  CaptureLog& log_;
  int number_;
  std::mutex m_;
  std::function<void(const QImage&)> handler_;
};

// What a test keeps of a recording after the controller released it.
struct RecordingProbe {
  std::atomic<int> stops{0};
  std::function<void(const QImage&)> onFrame;
  std::function<void(const std::string&)> onFailure;
  std::function<void()> onEnded;
  Gate gate;  // the start waits here
  void frame(const QImage& image = picture(48, 27, Qt::green)) { onFrame(image); }
};

class FakeRecording : public Recording {
 public:
  explicit FakeRecording(CaptureLog& log) : log_(log) {}
  std::optional<std::string> startError;
  std::optional<std::string> stopError;
  Clip result;
  std::string warningText;
  std::shared_ptr<RecordingProbe> probe = std::make_shared<RecordingProbe>();

  void start(platform::DisplayId display, std::optional<platform::WindowId> window, bool withCamera,
             bool microphone, std::shared_ptr<LiveCamera> preparedCamera) override {
    probe->onFrame = onFrame;
    probe->onFailure = onFailure;
    probe->onEnded = onEnded;
    auto* fake = dynamic_cast<FakeCamera*>(preparedCamera.get());
    log_.add("recording.start " + std::to_string(display) +
             (window ? " window " + std::to_string(*window) : "") + (withCamera ? " camera" : "") +
             (microphone ? " mic" : "") +
             (fake ? " prepared" + std::to_string(fake->number()) : ""));
    probe->gate.pass();
    if (startError) throw StudioError(*startError);
  }
  Clip stop() override {
    ++probe->stops;
    log_.add("recording.stop");
    if (stopError) throw StudioError(*stopError);
    return result;
  }
  std::string warning() const override { return warningText; }
  std::optional<double> startClock() const override { return std::nullopt; }
  platform::Rect screenRect() const override { return {0, 0, 1920, 1080}; }
  platform::Size captureSize() const override { return {1920, 1080}; }

 private:
  CaptureLog& log_;
};

class FakeCapture : public StudioCapture {
 public:
  CaptureLog log;
  platform::ShareableContent content;
  platform::ApplicationInfo own{"vantry", "Vantry", 1, true};
  std::optional<std::string> contentError;
  std::map<platform::WindowId, QImage> windowIcons;
  std::atomic<int> iconReads{0};
  std::atomic<int> iconSize{0};  // asked for by the last read
  // Applied to the next preview, camera or recording made.
  std::function<void(FakePreview&)> onPreview;
  std::function<void(FakeCamera&)> onCamera;
  std::function<void(FakeRecording&)> onRecording;

  SharedList<FakePreview> previews;
  SharedList<FakeCamera> cameras;
  std::vector<std::shared_ptr<RecordingProbe>> recordings;

  platform::ShareableContent shareableContent() override {
    log.add("content");
    if (contentError) throw platform::PlatformError(*contentError);
    std::lock_guard lock(contentMutex_);
    return content;
  }
  // Changes the displays listed while the controller's worker may be listing them (set
  // `content` itself only before the controller is made).
  void setDisplays(std::vector<platform::DisplayInfo> displays) {
    std::lock_guard lock(contentMutex_);
    content.displays = std::move(displays);
  }
  platform::ApplicationInfo ownApplication() override { return own; }
  std::unique_ptr<LivePreview> makePreview() override {
    auto p = std::make_shared<FakePreview>(log, int(previews.size()) + 1);
    if (onPreview) onPreview(*p);
    previews.push(p);
    return std::make_unique<HeldPreview>(p);
  }
  std::shared_ptr<LiveCamera> makeCamera() override {
    auto c = std::make_shared<FakeCamera>(log, int(cameras.size()) + 1);
    if (onCamera) onCamera(*c);
    cameras.push(c);  // cameras outlive the controller's hold
    return c;
  }
  std::unique_ptr<Recording> makeRecording() override {
    auto r = std::make_unique<FakeRecording>(log);
    if (onRecording) onRecording(*r);
    recordings.push_back(r->probe);
    return r;
  }
  std::unique_ptr<platform::PointerSource> makePointer() override { return nullptr; }
  QImage windowIcon(platform::WindowId id, int size) override {
    ++iconReads;
    iconSize = size;
    auto found = windowIcons.find(id);
    return found == windowIcons.end() ? QImage() : found->second;
  }

 private:
  std::mutex contentMutex_;
};

}  // namespace testing
}  // namespace vantry
