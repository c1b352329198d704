// Recording start and stop: the prepared previews become a running recording, and a
// stopped recording becomes the open, saved project.
#include <filesystem>

#include "localization/localization.h"
#include "localization/user_message.h"
#include "studio/capture_worker.h"
#include "studio/project_opener.h"
#include "studio/save_worker.h"

namespace vantry {

namespace {

std::string describe(const std::exception& e) {
  return e.what();
}

}  // namespace

void Studio::record() {
  if (busy_ || exporting_) return;
  if (recording_) return stop();
  // Starting a recording leaves the project: keep it open when its edits cannot be saved.
  if (!saveNow()) return;
  setPlaying(false);
  if (voice_) voice_->pause();
  setSetupMode(RecordingSource::display);
  setShowingRecordingSetup(true);
}

void Studio::startPreparedRecording() {
  if (!canStartRecording() || !services_.capture) return;
  auto& w = *captureWorker_;
  // An edit still waiting for its autosave is written now, before the project is set
  // aside; from here on nothing of the recording may be written into it. A failed write
  // keeps the project open and the recording unstarted.
  if (!saveNow()) return;
  if (projectURL_) {
    w.detached = CaptureWorker::Detached{*projectURL_, settings_};
    setProjectURL(std::nullopt);
  }
  setBusy(true);
  w.stopWaiting();
  recorder_ = services_.capture->makeRecording();
  const auto serial = ++w.recorderSerial;
  Recording* recorder = recorder_.get();
  recorder->onFrame = [&w, serial](const QImage& frame) {
    w.deliver(CaptureWorker::Kind::recording, serial, frame);
  };
  recorder->onFailure = [this, &w, serial](const std::string& message) {
    // The recording goes on; say at once what went wrong.
    w.toMain([this, &w, serial, message] {
      if (recorder_ && serial == w.recorderSerial) setNotice(message);
    });
  };
  recorder->onEnded = [this, &w, serial] {
    // A lost stream stops as if the user pressed stop.
    w.toMain([this, &w, serial] {
      if (recorder_ && serial == w.recorderSerial) stop();
    });
  };
  const auto display = selectedDisplay_;
  const auto window = selectedWindowID_;
  const bool camera = useCamera_;
  const bool microphone = useMicrophone_;

  w.queue.post([this, &w, serial, recorder, display, window, camera, microphone] {
    if (preview_) {
      preview_->stop();
      preview_.reset();
    }
    try {
      recorder->start(display, window, camera, microphone, camera ? preparedCamera_ : nullptr);
    } catch (const std::exception& e) {
      if (preparedCamera_) {
        preparedCamera_->stopPreview();
        preparedCamera_.reset();
      }
      const auto text = describe(e);
      w.toMain([this, &w, serial, text] {
        if (serial != w.recorderSerial) return;
        setBusy(false);
        w.retireRecorder();
        reattachProject();
        setLiveCameraImage({});
        setLiveScreenImage({});
        setSetupError(text);
      });
      return;
    }
    preparedCamera_.reset();  // the recording owns the camera now
    w.toMain([this, &w, serial] {
      if (serial != w.recorderSerial || !recorder_) return;
      auto settings = settings_;
      settings.showCamera = useCamera_;
      setSettings(settings);
      setShowingRecordingSetup(false);
      setStandby(false);
      liveMotion_ = MotionEngine();
      liveState_ = FrameState();
      liveClick_ = -100;
      livePressed_ = false;
      recordingLayouts_ = {PresenterEvent{Uuid::random(), 0, fullPresenter_}};
      if (!pointer_) pointer_ = services_.capture->makePointer();
      recordingStart_ = now();
      setTime(0);
      setRecording(true);
      setBusy(false);
      setNotice(L("正在录制：") + selectedScreenName() + L(" · 本窗口不会被录入 · 画面为实时预览"));
    });
  });
}

void Studio::reattachProject() {
  auto& w = *captureWorker_;
  if (!w.detached) return;
  auto detached = std::move(*w.detached);
  w.detached.reset();
  setSettings(detached.settings);
  setProjectURL(detached.url);
}

void Studio::stop() {
  if (!recording_ || busy_ || !recorder_) return;
  setBusy(true);
  auto& w = *captureWorker_;
  const auto serial = w.recorderSerial;
  Recording* recorder = recorder_.get();

  w.queue.post([this, &w, serial, recorder] {
    try {
      auto clip = std::make_shared<Clip>(recorder->stop());
      const auto warning = recorder->warning();
      w.toMain([this, &w, serial, clip, warning] {
        if (serial != w.recorderSerial) return;
        clip->presenterEvents = recordingLayouts_;
        clip->savedSettings = settings_;
        // Shown with the camera exactly when one was recorded.
        clip->savedSettings->showCamera = clip->cameraPath.has_value();
        w.retireRecorder();
        // The stop goes on (the last live picture stays) until the project is open.
        openRecording(std::move(*clip), warning);
      });
    } catch (const std::exception& e) {
      const auto text = describe(e);
      w.toMain([this, &w, serial, text] {
        if (serial != w.recorderSerial) return;
        setRecording(false);
        setBusy(false);
        w.retireRecorder();
        reattachProject();
        setError(text);
      });
    }
  });
}

void Studio::openRecording(Clip recorded, std::string warning) {
  std::shared_ptr<Opener::Shared> opener = opener_->shared;
  SaveWorker* saver = saver_.get();
  const auto generation = opener_->begin(Opener::Kind::recording);
  // Our own recording's files; waited for at the end, since it saves through `saver`.
  opener_->queue.post([this, opener, saver, generation, recorded = std::move(recorded),
                       warning]() mutable {
    auto opened = std::make_shared<Opened>();
    // The automatic zoom events of the recorded clicks become the project's own.
    recorded.zoomEventsOverride = recorded.defaultZoomEvents();
    opened->clip = std::move(recorded);
    std::optional<std::string> url;
    try {
      opener->openMedia(*opened);
      // Its edits are kept beside the recording from the start; "project.json" stays as
      // the recorder wrote it.
      if (opened->clip.screenPath && !opener->superseded(generation)) {
        url =
            (std::filesystem::path(*opened->clip.screenPath).parent_path() / "edit.json").string();
        Clip saved = opened->clip;
        saved.savedSettings = opened->settings;
        opened->saveFailure = saver->submit(std::move(saved), *url, 0).get();
      }
    } catch (const std::exception& e) {
      opened->failure = e.what();
    }
    opener->toMain([this, generation, opened, url, warning] {
      Opened& o = *opened;
      if (generation != opener_->generation) return opener_->release(std::move(o));
      opener_->pending = Opener::Kind::none;
      setRecording(false);
      setBusy(false);
      setLiveScreenImage({});
      setLiveCameraImage({});
      if (o.failure) {
        reattachProject();
        setError(joinMessages(*o.failure, warning));
        return opener_->release(std::move(o));
      }
      const auto saveFailure = std::move(o.saveFailure);
      install(std::move(o));
      captureWorker_->detached.reset();
      if (url) setProjectURL(url);
      if (url && !saveFailure) saver_->markHeld(revision_, *url);
      setNotice(L("已保存原始录屏与鼠标轨迹 · 调整效果后导出"));
      // Both are said: a recording kept despite a failure is not a plain success, and
      // edits that cannot be saved must not hide behind it.
      const std::string alert =
          joinMessages(saveFailure ? saveFailureAlert(*saveFailure) : std::string(), warning);
      if (!alert.empty()) setError(alert);
    });
  });
}

}  // namespace vantry
