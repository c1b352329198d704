// Live preview setup and teardown, and the lists of displays and windows to record.
#include <QGuiApplication>

#include <algorithm>
#include <cmath>
#include <exception>

#include "localization/localization.h"
#include "platform/memory_release.h"
#include "studio/capture_worker.h"
#include "studio/queued_task.h"

namespace vantry {

namespace {

// The reason without its closing full stop: the sentence around it brings its own.
std::string describe(const std::exception_ptr& error) {
  std::string text;
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    text = e.what();
  } catch (...) {
  }
  for (const std::string_view stop : {std::string_view("."), std::string_view("。")}) {
    if (text.ends_with(stop)) text.resize(text.size() - stop.size());
  }
  return text;
}

// The windows a user may record: ordinary, titled, big enough and not our own, sorted by
// application name and title.
std::vector<platform::WindowInfo> recordableWindows(const std::vector<platform::WindowInfo>& all) {
  std::vector<platform::WindowInfo> kept;
  for (const auto& w : all) {
    // Our own windows as the backend tells them; a name alone would let any window hide.
    if (!w.onScreen || w.application.thisApplication || w.layer != 0) continue;
    if (!(w.frame.width > 100) || !(w.frame.height > 80) || w.title.empty()) continue;
    kept.push_back(w);
  }
  std::stable_sort(kept.begin(), kept.end(), [](const auto& a, const auto& b) {
    return a.application.name + a.title < b.application.name + b.title;
  });
  return kept;
}

}  // namespace

// --- The worker ---

Studio::CaptureWorker::CaptureWorker(Studio& owner) : studio(owner) {
  waitTimer.setSingleShot(false);
  QObject::connect(&waitTimer, &QTimer::timeout, &relay, [this] {
    if (waitGeneration != studio.setupGeneration_) return stopWaiting();
    if (waitDone()) return;
    if (++passes >= waitPasses) finishWait();
  });
}

Studio::CaptureWorker::~CaptureWorker() {
  waitTimer.stop();
  // The main thread waits here, so the queue may touch the capture members freely.
  queue.post([this] {
    stopCapture();
    studio.recorder_.reset();
  });
}

void Studio::CaptureWorker::deliver(Kind kind, std::int64_t tag, const QImage& image) {
  std::lock_guard lock(mutex_);
  auto& slot = slots_[static_cast<int>(kind)];
  slot.image = image;
  slot.tag = tag;
  slot.full = true;
  if (posted_) return;
  posted_ = true;
  postTask(&relay, [this] { drain(); });
}

void Studio::CaptureWorker::toMain(std::function<void()> f) {
  postTask(&relay, std::move(f));
}

void Studio::CaptureWorker::drain() {
  Slot taken[3];
  {
    std::lock_guard lock(mutex_);
    for (int i = 0; i < 3; ++i) {
      taken[i] = std::move(slots_[i]);
      slots_[i] = Slot{};
    }
    posted_ = false;
  }
  Studio& s = studio;
  const auto& screen = taken[static_cast<int>(Kind::screen)];
  if (screen.full && screen.tag == s.setupGeneration_ && s.previewing())
    s.setLiveScreenImage(screen.image);
  const auto& camera = taken[static_cast<int>(Kind::camera)];
  if (camera.full && camera.tag == s.setupGeneration_ &&
      (s.previewing() || s.recording_ || s.busy_))
    s.setLiveCameraImage(camera.image);
  const auto& recorded = taken[static_cast<int>(Kind::recording)];
  if (recorded.full && s.recorder_ && recorded.tag == recorderSerial)
    s.setLiveScreenImage(recorded.image);
  if (waitGeneration >= 0) waitDone();
}

std::int64_t Studio::CaptureWorker::advance() {
  ++studio.setupGeneration_;
  latest.store(studio.setupGeneration_);
  stopWaiting();
  return studio.setupGeneration_;
}

void Studio::CaptureWorker::stopCapture() {
  if (studio.preview_) {
    studio.preview_->stop();
    studio.preview_.reset();
  }
  if (studio.preparedCamera_) {
    studio.preparedCamera_->stopPreview();
    studio.preparedCamera_.reset();
  }
}

void Studio::CaptureWorker::retireRecorder() {
  std::shared_ptr<Recording> old(studio.recorder_.release());
  if (!old) return;
  queue.post([old]() mutable {
    old.reset();
    // A recording's frame buffers and encoders stay with the allocator otherwise.
    platform::releaseFreedMemory();
  });
}

void Studio::CaptureWorker::beginWait(std::int64_t generation, bool camera) {
  if (generation != studio.setupGeneration_) return;
  waitGeneration = generation;
  waitCamera = camera;
  passes = 0;
  if (!waitDone()) waitTimer.start(waitIntervalMs);
}

void Studio::CaptureWorker::stopWaiting() {
  waitTimer.stop();
  waitGeneration = -1;
}

bool Studio::CaptureWorker::waitDone() {
  const bool frames =
      !studio.liveScreenImage_.isNull() && (!waitCamera || !studio.liveCameraImage_.isNull());
  if (!frames && !studio.setupError_) return false;
  finishWait();
  return true;
}

void Studio::CaptureWorker::finishWait() {
  stopWaiting();
  studio.setPreparing(false);
  const bool frames =
      !studio.liveScreenImage_.isNull() && (!waitCamera || !studio.liveCameraImage_.isNull());
  if (!studio.setupError_ && !frames)
    studio.setSetupError(L("未收到实时画面。请检查所选屏幕、摄像头和系统权限，再点击重新预览。"));
}

// --- The operations ---

void Studio::launchPreview() {
  if (hasLaunched_) return;
  hasLaunched_ = true;
  enterStandby();
}

void Studio::prepareRecording() {
  if (!previewing() || busy_) return;
  auto& w = *captureWorker_;
  const auto gen = w.advance();
  setLiveScreenImage({});
  setLiveCameraImage({});
  setSetupError(std::nullopt);
  setPreparing(true);
  const auto display = selectedDisplay_;
  const auto window = selectedWindowID_;
  const bool camera = useCamera_;
  const auto capture = services_.capture;

  w.queue.post([this, &w, gen, display, window, camera, capture] {
    // The previous setup has ended (the queue is serial); stop what it left running.
    w.stopCapture();
    if (w.superseded(gen) || !capture) return;

    preview_ = capture->makePreview();
    preview_->onFrame = [&w, gen](const QImage& frame) {
      w.deliver(CaptureWorker::Kind::screen, gen, frame);
    };
    preview_->onError = [this, &w, gen](const std::string& message) {
      w.toMain([this, gen, message] {
        if (gen == setupGeneration_ && previewing()) setSetupError(message);
      });
    };
    try {
      preview_->start(display, window);
    } catch (...) {
      const auto text =
          L("屏幕预览失败：") + describe(std::current_exception()) + L("。请检查屏幕录制权限。");
      w.toMain([this, gen, text] {
        if (gen == setupGeneration_) setSetupError(text);
      });
    }
    if (w.superseded(gen)) return;

    if (camera) {
      preparedCamera_ = capture->makeCamera();
      preparedCamera_->setOnFrame(
          [&w, gen](const QImage& frame) { w.deliver(CaptureWorker::Kind::camera, gen, frame); });
      try {
        preparedCamera_->preparePreview();
      } catch (...) {
        const auto text = describe(std::current_exception());
        w.toMain([this, gen, text] {
          if (gen != setupGeneration_) return;
          setSetupError(setupError_ ? *setupError_ + "\n" + text : text);
        });
      }
    }
    w.toMain([&w, gen, camera] { w.beginWait(gen, camera); });
  });
}

void Studio::cancelRecordingSetup() {
  if (busy_) return;
  setShowingRecordingSetup(false);
  setStandby(false);
  auto& w = *captureWorker_;
  const auto gen = w.advance();
  w.queue.post([this, &w, gen] {
    w.stopCapture();
    w.toMain([this, gen] {
      // A newer setup owns the published state now.
      if (gen != setupGeneration_) return;
      setLiveScreenImage({});
      setLiveCameraImage({});
      setPreparing(false);
    });
  });
}

void Studio::dismissRecordingSetup() {
  if (busy_) return;
  setShowingRecordingSetup(false);
  if (!standby_) cancelRecordingSetup();
}

void Studio::setUseCamera(bool on) {
  if (busy_) return;
  useCamera_ = on;
  emit changed();
  if (!on) setFullPresenter(false);
  prepareRecording();
}

void Studio::refreshCaptureSources() {
  const auto capture = services_.capture;
  if (!capture) return;
  loadingSources_ = true;
  sourceListError_.reset();
  emit changed();
  auto& w = *captureWorker_;
  const auto serial = ++w.sourcesSerial;
  // Icons are shown 24 points wide; a window keeps the icon read when it was first listed.
  const auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
  const int iconSize = int(std::lround(24 * (gui ? gui->devicePixelRatio() : 1.0)));
  w.queue.post([this, &w, serial, capture, iconSize, known = w.icons] {
    struct Listing {
      platform::ShareableContent content;
      std::vector<platform::WindowInfo> windows;
      std::map<platform::WindowId, QImage> icons;
    };
    auto listing = std::make_shared<Listing>();
    std::optional<std::string> failure;
    try {
      listing->content = capture->shareableContent();
      listing->windows = recordableWindows(listing->content.windows);
      for (const auto& window : listing->windows) {
        const auto cached = known.find(window.id);
        QImage icon =
            cached != known.end() ? cached->second : capture->windowIcon(window.id, iconSize);
        if (!icon.isNull()) listing->icons[window.id] = std::move(icon);
      }
    } catch (...) {
      failure = describe(std::current_exception());
    }
    w.toMain([this, &w, serial, listing, failure] {
      if (serial != w.sourcesSerial) return;  // a newer listing is on its way
      loadingSources_ = false;
      if (failure) {
        sourceListError_ = *failure;
      } else {
        captureApplications_ = std::move(listing->content.applications);
        displays_ = std::move(listing->content.displays);
        captureWindows_ = std::move(listing->windows);
        w.icons = std::move(listing->icons);
      }
      emit changed();
    });
  });
}

QImage Studio::captureWindowIcon(platform::WindowId id) const {
  const auto& icons = captureWorker_->icons;
  const auto found = icons.find(id);
  return found == icons.end() ? QImage() : found->second;
}

void Studio::openScreenPermissionSettings() {
  if (services_.desktop) services_.desktop->openPermissionHelp();
}

}  // namespace vantry
