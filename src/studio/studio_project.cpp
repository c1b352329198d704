// Projects: loading a document all or nothing, opening project files, the demonstration
// project, leaving for live preview, and the autosave on its serial writer.
#include <QMetaObject>
#include <QPointer>
#include <QTimer>
#include <filesystem>

#include "capture/display_recorder.h"
#include "localization/localization.h"
#include "model/demo_project.h"
#include "model/document_json.h"
#include "platform/durable_file.h"
#include "studio/queued_task.h"
#include "studio/save_worker.h"
#include "studio/studio.h"

namespace vantry {

namespace fs = std::filesystem;

// --- The serial writer ---

Studio::SaveWorker::SaveWorker() : thread_([this] { run(); }) {}

Studio::SaveWorker::~SaveWorker() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

std::shared_future<std::string> Studio::SaveWorker::submit(Clip clip, std::string path, Done done) {
  Job job{std::move(clip), std::move(path), std::move(done), {}};
  std::shared_future<std::string> result = job.result.get_future().share();
  {
    std::lock_guard lock(mutex_);
    jobs_.push_back(std::move(job));
  }
  wake_.notify_one();
  return result;
}

void Studio::SaveWorker::flush() {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [this] { return jobs_.empty() && !writing_; });
}

int Studio::SaveWorker::writes() const {
  std::lock_guard lock(mutex_);
  return writes_;
}

void Studio::SaveWorker::run() {
  for (;;) {
    Job job;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return quit_ || !jobs_.empty(); });
      if (jobs_.empty()) return;  // quitting with nothing left to write
      job = std::move(jobs_.front());
      jobs_.pop_front();
      writing_ = true;
    }
    std::string failure;
    try {
      failure = platform::writeFileAtomically(job.path, encodeClip(job.clip));
    } catch (const std::exception& e) {
      failure = e.what();
    }
    if (job.done) job.done(failure);
    job.result.set_value(failure);
    {
      std::lock_guard lock(mutex_);
      if (failure.empty()) ++writes_;
      writing_ = false;
    }
    idle_.notify_all();
  }
}

// --- Saving ---

bool Studio::saveNow() {
  saveTimer_->stop();
  if (standby_ || recording_ || !projectURL_) return true;
  Clip snapshot = clip_;
  snapshot.savedSettings = settings_;
  // Waits for any autosave still being written, then for this one.
  std::string failure = saver_->submit(std::move(snapshot), *projectURL_).get();
  if (!failure.empty()) {
    setError(L("编辑未能保存：") + failure);
    return false;
  }
  return true;
}

void Studio::scheduleSave() {
  if (standby_ || recording_ || !projectURL_) return;
  saveTimer_->start();  // restarts: a burst of edits saves once, after the last
}

void Studio::autosave() {
  if (standby_ || recording_ || !projectURL_) return;
  Clip snapshot = clip_;
  snapshot.savedSettings = settings_;
  QPointer<Studio> self(this);
  saver_->submit(std::move(snapshot), *projectURL_, [self](const std::string& failure) {
    if (failure.empty()) return;
    postTask(self.data(), [self, failure] {
      if (self) self->setError(L("编辑未能保存：") + failure);
    });
  });
}

// --- Loading ---

struct Studio::Readers {
  std::unique_ptr<FrameSource> screen;
  std::unique_ptr<FrameSource> camera;
  std::unique_ptr<PlaybackAudio> voice;
  std::optional<std::string> audioError;
};

Studio::Readers Studio::openReaders(const Clip& clip) {
  Readers readers;
  if (services_.openFrames) {
    if (clip.screenPath) readers.screen = services_.openFrames(*clip.screenPath);
    if (clip.cameraPath) readers.camera = services_.openFrames(*clip.cameraPath);
  }
  // A sound that cannot be read leaves the project silent, with the reason shown.
  readers.voice = openAudio(clip, &readers.audioError);
  return readers;
}

bool Studio::load(const Clip& clip) {
  Readers readers;
  try {
    readers = openReaders(clip);
  } catch (const std::exception& e) {
    setError(std::string(e.what()));
    return false;
  }
  // The project being left is kept only when its edits are on disk.
  if (!saveNow()) return false;
  cancelRecordingSetup();
  setProjectURL(std::nullopt);
  setStandby(false);
  if (voice_) voice_->pause();
  voice_.reset();

  QPointer<Studio> self(this);
  auto notify = [self] {
    postTask(self.data(), [self] {
      if (self) self->framesArrived();
    });
  };
  if (readers.screen) readers.screen->onReady = notify;
  if (readers.camera) readers.camera->onReady = notify;
  source_ = std::move(readers.screen);
  face_ = std::move(readers.camera);

  setClip(clip);
  setTime(0);
  setPlaying(false);
  undoStack_.clear();
  redoStack_.clear();
  gestureOpen_ = gestureCheckpointed_ = false;
  setSelectedSegment(std::nullopt);
  setSelectedZoomID(std::nullopt);
  setSelectedPresenterID(std::nullopt);
  setTimelineZoom(TimelineScale::defaultZoom);
  setSettings(clip.savedSettings.value_or(EditSettings()));

  ++seekGeneration_;
  setSeeking(false);
  voice_ = std::move(readers.voice);
  if (readers.audioError) setError(readers.audioError);

  rebuild();
  if (!clip.cameraPath && !clip.isDemo) {
    EditSettings hidden = settings_;
    hidden.showCamera = false;
    setSettings(hidden);
  }
  requestFrames();
  return true;
}

void Studio::openProject() {
  if (recording_ || busy_ || exporting_ || !services_.dialogs) return;
  std::optional<std::string> chosen = services_.dialogs->chooseProject();
  if (!chosen || chosen->empty()) return;
  openProjectFile(*chosen);
}

bool Studio::openProjectFile(const std::string& path) {
  // The dialog runs its own event loop: a recording or export may have started meanwhile.
  if (recording_ || busy_ || exporting_) return false;
  fs::path chosen(path);
  fs::path edits = chosen.parent_path() / "edit.json";
  bool recorded = chosen.filename() == "project.json";
  std::error_code ec;
  fs::path read = recorded && fs::exists(edits, ec) ? edits : chosen;
  Clip clip;
  try {
    clip = decodeClipFile(read.string());
  } catch (const std::exception& e) {
    setError(std::string(e.what()));  // names the file and says what is wrong
    return false;
  }
  if (!load(clip)) return false;
  setProjectURL((recorded ? edits : chosen).string());
  setNotice(L("编辑自动保存 · 原始素材保留"));
  return true;
}

void Studio::demo() {
  if (recording_ || busy_ || exporting_) return;
  if (!load(makeDemoClip())) return;
  setPlaying(true);
  setNotice(L("演示项目 · 自动缩放 / 指针跟随 / 人物画中画"));
}

void Studio::revealRecordings() {
  std::string folder = services_.recordingsFolder.empty()
                           ? DisplayRecorder::defaultRecordingsFolder()
                           : services_.recordingsFolder;
  platform::makePrivateFolder(folder);
  if (services_.desktop) services_.desktop->openFolder(folder);
}

void Studio::revealExportResult() {
  if (exportResultURL_ && services_.desktop) services_.desktop->revealFile(*exportResultURL_);
}

void Studio::openExportResult() {
  if (exportResultURL_ && services_.desktop) services_.desktop->openFile(*exportResultURL_);
}

// --- Leaving for live preview ---

void Studio::enterStandby() {
  if (recording_ || busy_ || exporting_) return;
  if (!saveNow()) return;
  setProjectURL(std::nullopt);
  setSelectedPresenterID(std::nullopt);
  setPlaying(false);
  if (voice_) voice_->pause();
  setStandby(true);
  setTime(0);
  EditSettings shown = settings_;
  shown.showCamera = useCamera_;
  setSettings(shown);
  liveState_ = FrameState();
  liveMotion_ = MotionEngine();
  presenterSpring_ = MotionSpring{fullPresenter_ ? 1.0 : 0.0, 0};
  setNotice(L("实时预览 · 尚未录制，点击开始录屏后才会保存视频"));
  prepareRecording();
}

}  // namespace vantry
