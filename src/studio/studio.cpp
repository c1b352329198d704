// Construction, the published fields' setters with their observers, and derived state.
#include "studio/studio.h"

#include <QTimer>

#include "localization/localization.h"
#include "model/demo_project.h"
#include "render/frame_renderer.h"
#include "studio/capture_worker.h"
#include "studio/export_run.h"
#include "studio/frame_clock.h"
#include "studio/project_opener.h"
#include "studio/save_worker.h"

namespace vantry {

Studio::Studio(StudioServices services, QObject* parent)
    : QObject(parent), services_(std::move(services)), clip_(makeDemoClip()) {
  if (!services_.clock) services_.clock = [] { return platform::hostTime(); };
  playbackAnchorHost_ = now();
  notice_ = L("实时预览 · 点击开始录屏后才会保存视频");
  if (services_.screens) selectedDisplay_ = services_.screens->primaryDisplay();
  motion_ = MotionTimeline(makeDemoClip(), EditSettings());
  lastTick_ = now();
  renderer_ = std::make_unique<FrameRenderer>();
  saver_ = std::make_unique<SaveWorker>();
  captureWorker_ = std::make_unique<CaptureWorker>(*this);
  exportRun_ = std::make_unique<ExportRun>();
  opener_ = std::make_unique<Opener>(services_);

  saveTimer_ = new QTimer(this);
  saveTimer_->setSingleShot(true);
  saveTimer_->setInterval(services_.autosaveDelayMs);
  connect(saveTimer_, &QTimer::timeout, this, [this] { autosave(); });

  // The clock fires in menus and modal loops too. Every published change may set something
  // moving, so each one asks whether the clock should run.
  clock_ = new FrameClock([this] { tick(); }, this);
  if (services_.startClock) connect(this, &Studio::changed, this, &Studio::updateClock);
  updateClock();
}

Studio::~Studio() {
  clock_->setRunning(false);
  // The readers' threads call back into the controller: they end before anything else.
  source_.reset();
  face_.reset();
  // A pending autosave is written now rather than lost.
  if (saveTimer_->isActive()) {
    saveTimer_->stop();
    saveNow();
  }
  opener_.reset();  // an open still running is dropped, and not waited for
  exportRun_.reset();
  captureWorker_.reset();
  saver_.reset();  // finishes queued writes and joins
  voice_.reset();
  // The full-screen window may still be delivering its own events.
  if (fullscreenController_) fullscreenController_->deleteLater();
}

// --- Setters ---

void Studio::setClip(Clip value) {
  clip_ = std::move(value);
  ++revision_;
  emit changed();
}

void Studio::setSettings(EditSettings value) {
  EditSettings previous = std::exchange(settings_, std::move(value));
  if (settings_ != previous) ++revision_;
  if (settings_.changesMotion(previous)) rebuild();
  scheduleSave();
  emit changed();
}

void Studio::setTime(double value) {
  time_ = value;
  emit timeChanged();
}

void Studio::setPlaying(bool value) {
  const bool stopped = playing_ && !value;
  playing_ = value;
  if (playing_) {
    playbackAnchorTime_ = time_;
    playbackAnchorHost_ = now();
  } else if (voice_) {
    voice_->pause();
  }
  // The still picture is read whole again.
  if (stopped) requestFrames();
  emit changed();
}

void Studio::setPlaybackRate(double value) {
  double previous = std::exchange(playbackRate_, value);
  if (playing_ && !voice_) setTime(playbackAnchorTime_ + previous * (now() - playbackAnchorHost_));
  playbackAnchorTime_ = time_;
  playbackAnchorHost_ = now();
  if (playing_ && !seeking_ && voice_) voice_->play(static_cast<float>(playbackRate_));
  emit changed();
}

#define VANTRY_PLAIN_SETTER(Name, member, Type) \
  void Studio::Name(Type value) {               \
    member = std::move(value);                  \
    emit changed();                             \
  }

VANTRY_PLAIN_SETTER(setFullscreenPreview, fullscreenPreview_, bool)
VANTRY_PLAIN_SETTER(setStandby, standby_, bool)
VANTRY_PLAIN_SETTER(setFullPresenter, fullPresenter_, bool)
VANTRY_PLAIN_SETTER(setSelectedSegment, selectedSegment_, std::optional<Uuid>)
VANTRY_PLAIN_SETTER(setSelectedZoomID, selectedZoomID_, std::optional<Uuid>)
VANTRY_PLAIN_SETTER(setSelectedPresenterID, selectedPresenterID_, std::optional<PresenterBlock::ID>)
VANTRY_PLAIN_SETTER(setTimelineZoom, timelineZoom_, double)
VANTRY_PLAIN_SETTER(setRecording, recording_, bool)
VANTRY_PLAIN_SETTER(setBusy, busy_, bool)
VANTRY_PLAIN_SETTER(setExporting, exporting_, bool)
VANTRY_PLAIN_SETTER(setExportProgress, exportProgress_, double)
VANTRY_PLAIN_SETTER(setShowingExport, showingExport_, bool)
VANTRY_PLAIN_SETTER(setExportOptions, exportOptions_, ExportOptions)
VANTRY_PLAIN_SETTER(setError, error_, std::optional<std::string>)
VANTRY_PLAIN_SETTER(setScreenPermissionNeeded, screenPermissionNeeded_, bool)
VANTRY_PLAIN_SETTER(setNotice, notice_, std::string)
VANTRY_PLAIN_SETTER(setShowingRecordingSetup, showingRecordingSetup_, bool)
VANTRY_PLAIN_SETTER(setSetupMode, setupMode_, RecordingSource)
VANTRY_PLAIN_SETTER(setSetupError, setupError_, std::optional<std::string>)
VANTRY_PLAIN_SETTER(setPreparing, preparing_, bool)
VANTRY_PLAIN_SETTER(setUseMicrophone, useMicrophone_, bool)
VANTRY_PLAIN_SETTER(setSelectedWindowID, selectedWindowID_, std::optional<platform::WindowId>)
VANTRY_PLAIN_SETTER(setSelectedDisplay, selectedDisplay_, platform::DisplayId)
VANTRY_PLAIN_SETTER(setProjectURL, projectURL_, std::optional<std::string>)

#undef VANTRY_PLAIN_SETTER

namespace {

// Stores a live picture; true when it replaced another (neither is null).
bool replacePicture(QImage& field, QImage value) {
  const bool replaced = !field.isNull() && !value.isNull();
  field = std::move(value);
  return replaced;
}

}  // namespace

void Studio::setLiveScreenImage(QImage value) {
  if (replacePicture(liveScreenImage_, std::move(value)))
    emit liveFrame();
  else
    emit changed();
}

void Studio::setLiveCameraImage(QImage value) {
  if (replacePicture(liveCameraImage_, std::move(value)))
    emit liveFrame();
  else
    emit changed();
}

void Studio::rebuild() {
  motion_ = MotionTimeline(clip_, settings_);
}

// --- Derived state ---

bool Studio::canStartRecording() const {
  return previewing() && !preparing_ && !busy_ && !liveScreenImage_.isNull() &&
         (!useCamera_ || !liveCameraImage_.isNull()) && !setupError_;
}

double Studio::duration() const {
  return clip_.editedDuration();
}

double Studio::sourceTime() const {
  return clip_.sourceTime(time_);
}

FrameState Studio::state() const {
  if (live()) {
    FrameState s = liveState_;
    s.presenterMix = presenterSpring_.value;
    return s;
  }
  double at = sourceTime();
  FrameState s = motion_.state(at);
  s.presenterMix = clip_.presenterMix(at);
  return s;
}

bool Studio::presenterFull() const {
  if (live()) return fullPresenter_;
  if (auto block = selectedPresenterBlock()) return block->fullScreen;
  return clip_.presenterIsFullAtOutput(time_);
}

bool Studio::hasCamera() const {
  if (live()) return useCamera_;
  return clip_.cameraPath.has_value() || clip_.isDemo;
}

std::optional<PresenterBlock> Studio::selectedPresenterBlock() const {
  if (!selectedPresenterID_) return std::nullopt;
  for (const PresenterBlock& block : clip_.presenterBlocks())
    if (block.id == *selectedPresenterID_) return block;
  return std::nullopt;
}

std::string Studio::selectedScreenName() const {
  if (selectedWindowID_) {
    for (const platform::WindowInfo& window : captureWindows_) {
      if (window.id != *selectedWindowID_) continue;
      std::string owner = window.application.name.empty() ? L("窗口") : window.application.name;
      return owner + " · " + window.title;
    }
    return L("所选窗口");
  }
  if (services_.screens)
    if (auto name = services_.screens->displayName(selectedDisplay_)) return *name;
  return L("所选屏幕");
}

std::optional<ZoomEvent> Studio::selectedZoom() const {
  if (!selectedZoomID_) return std::nullopt;
  for (const ZoomEvent& event : clip_.zoomEvents())
    if (event.id == *selectedZoomID_) return event;
  return std::nullopt;
}

double Studio::displayTime() const {
  if (voice_ && playing_ && !seeking_) {
    double t = voice_->currentTime();
    if (std::isfinite(t)) return std::max(0.0, std::min(t, duration()));
  }
  return time_;
}

}  // namespace vantry
