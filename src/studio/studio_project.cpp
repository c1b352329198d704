// Projects: loading a document all or nothing (opened on a worker), opening project files,
// the demonstration project, leaving for live preview, and the autosave on its serial
// writer.
#include <QMetaObject>
#include <QPointer>
#include <QTimer>
#include <cerrno>
#include <filesystem>

#include "capture/display_recorder.h"
#include "localization/localization.h"
#include "localization/user_message.h"
#include "model/demo_project.h"
#include "model/document_json.h"
#include "platform/durable_file.h"
#include "platform/studio_error.h"
#include "studio/project_opener.h"
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

std::shared_future<Studio::SaveWorker::Result> Studio::SaveWorker::submit(Clip clip,
                                                                          std::string path,
                                                                          std::uint64_t revision,
                                                                          Done done) {
  Job job{std::move(clip), std::move(path), revision, std::move(done), {}};
  std::shared_future<Result> result = job.result.get_future().share();
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

bool Studio::SaveWorker::holds(std::uint64_t revision, const std::string& path) const {
  std::lock_guard lock(mutex_);
  return held_ && held_->first == revision && held_->second == path;
}

void Studio::SaveWorker::markHeld(std::uint64_t revision, std::string path) {
  std::lock_guard lock(mutex_);
  held_.emplace(revision, std::move(path));
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
    Result failure;
    try {
      const std::string error = platform::writeFileAtomically(job.path, encodeClip(job.clip));
      if (!error.empty()) failure = SaveFailure{job.path, systemErrorNumberOf(error), error};
    } catch (const std::exception& e) {
      failure = SaveFailure{job.path, 0, e.what()};
    }
    if (job.done) job.done(failure);
    job.result.set_value(failure);
    {
      std::lock_guard lock(mutex_);
      if (!failure) {
        ++writes_;
        held_.emplace(job.revision, job.path);
      }
      writing_ = false;
    }
    idle_.notify_all();
  }
}

std::string saveFailureAlert(const SaveFailure& failure) {
  std::string advice;
  switch (failure.errnum) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      advice = L("请释放一些磁盘空间。");
      break;
    case EROFS:
    case EACCES:
    case EPERM:
      advice = L("请确认项目所在的文件夹可以写入。");
      break;
    default:
      advice = L("请检查磁盘和项目所在的文件夹。");
      break;
  }
  return L("编辑未能保存：") +
         systemFailure(L("项目文件 {0} 无法写入。", shownPath(failure.path)), failure.errnum,
                       joinSentences({advice, L("在保存成功之前，修改会保留在窗口中。")}),
                       failure.detail);
}

// --- Saving ---

std::optional<std::shared_future<Studio::SaveWorker::Result>> Studio::submitSave() {
  saveTimer_->stop();
  if (standby_ || recording_ || !projectURL_) return std::nullopt;
  // Unchanged since the file was written or read: writing it again could only fail.
  if (saver_->holds(revision_, *projectURL_)) return std::nullopt;
  Clip snapshot = clip_;
  snapshot.savedSettings = settings_;
  return saver_->submit(std::move(snapshot), *projectURL_, revision_);
}

bool Studio::saveNow() {
  // An autosave still being written may be the one that holds these edits.
  saver_->flush();
  const auto written = submitSave();
  saveFailure_ = written ? written->get() : std::nullopt;
  if (saveFailure_) {
    setError(saveFailureAlert(*saveFailure_));
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
  if (saver_->holds(revision_, *projectURL_)) return;
  Clip snapshot = clip_;
  snapshot.savedSettings = settings_;
  QPointer<Studio> self(this);
  saver_->submit(std::move(snapshot), *projectURL_, revision_,
                 [self](const SaveWorker::Result& failure) {
                   if (!failure) return;
                   postTask(self.data(), [self, failure] {
                     if (self) self->setError(saveFailureAlert(*failure));
                   });
                 });
}

// --- Loading ---

namespace {

// Whether two paths name one file: the same file where both exist, else the same name in
// the same folder (a file the save on its way creates).
bool sameFile(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  if (fs::equivalent(a, b, ec)) return true;
  return a.filename() == b.filename() && fs::equivalent(a.parent_path(), b.parent_path(), ec);
}

}  // namespace

bool Studio::leavingRefused() const {
  return recording_ || exporting_ || (busy_ && !opening());
}

bool Studio::load(const Clip& clip) {
  Opened opened;
  opened.clip = clip;
  try {
    opener_->shared->openMedia(opened);
  } catch (const std::exception& e) {
    setError(std::string(e.what()));
    return false;
  }
  // The project being left is kept only when its edits are on disk.
  if (!saveNow()) {
    opener_->release(std::move(opened));
    return false;
  }
  cancelOpening();
  install(std::move(opened));
  return true;
}

bool Studio::opening() const {
  return opener_->pending == Opener::Kind::chosen;
}

void Studio::cancelOpening() {
  if (!opening()) return;
  opener_->abandon();
  setBusy(false);
}

void Studio::install(Opened opened) {
  cancelRecordingSetup();
  setProjectURL(std::nullopt);
  setStandby(false);
  if (voice_) voice_->pause();
  // The project being left is closed and freed on the worker.
  opener_->release(std::make_tuple(std::move(source_), std::move(face_), std::move(voice_),
                                   std::exchange(undoStack_, {}), std::exchange(redoStack_, {})));

  QPointer<Studio> self(this);
  auto notify = [self] {
    postTask(self.data(), [self] {
      if (self) self->framesArrived();
    });
  };
  if (opened.screen) opened.screen->onReady = notify;
  if (opened.camera) opened.camera->onReady = notify;
  source_ = std::move(opened.screen);
  face_ = std::move(opened.camera);

  setClip(std::move(opened.clip));
  setTime(0);
  setPlaying(false);
  gestureOpen_ = gestureCheckpointed_ = false;
  setSelectedSegment(std::nullopt);
  setSelectedZoomID(std::nullopt);
  setSelectedPresenterID(std::nullopt);
  setTimelineZoom(TimelineScale::defaultZoom);
  // The settings' observer would bake the motion again on this thread and ask for an
  // autosave, which is refused without a project address: the motion comes baked for
  // these settings.
  settings_ = std::move(opened.settings);
  motion_ = std::move(opened.motion);
  emit changed();

  ++seekGeneration_;
  setSeeking(false);
  voice_ = std::move(opened.voice);
  if (opened.audioError) setError(opened.audioError);
  requestFrames();
}

void Studio::openProject() {
  if (leavingRefused() || !services_.dialogs) return;
  std::optional<std::string> chosen = services_.dialogs->chooseProject();
  if (!chosen || chosen->empty()) return;
  openProjectFile(*chosen);
}

bool Studio::openProjectFile(const std::string& path, std::function<void(bool)> done) {
  // The dialog runs its own event loop: a recording or export may have started meanwhile.
  if (leavingRefused()) return false;
  const fs::path chosen(path);
  const fs::path edits = chosen.parent_path() / "edit.json";
  const bool recorded = chosen.filename() == "project.json";
  const std::string url = (recorded ? edits : chosen).string();
  // The project being left is written meanwhile; it is left only once that succeeded.
  auto leaving = submitSave();
  const std::optional<std::string> left = projectURL_;
  const auto revision = revision_;
  // The task holds what it touches: it may outlive the controller (project_opener.h).
  std::shared_ptr<Opener::Shared> opener = opener_->shared;
  const auto generation = opener_->begin(Opener::Kind::chosen);
  setBusy(true);

  opener_->queue.postOpen([this, opener, generation, chosen, edits, recorded, leaving, url, done,
                           left, revision] {
    auto opened = std::make_shared<Opened>();
    // The project open now, opened again: it is read once its last edits are written.
    const bool again = left && (sameFile(*left, url) || sameFile(*left, chosen));
    if (again && leaving) leaving->wait();
    if (!opener->superseded(generation)) {
      std::error_code ec;
      const fs::path read = recorded && fs::exists(edits, ec) ? edits : chosen;
      try {
        opened->clip = decodeClipFile(read.string());
        opener->openMedia(*opened);
      } catch (const NotAFileError& e) {
        // The project named it: the project is refused, naming the field in words.
        opened->failure = withReason(L("无法打开项目 {0}。", shownPath(read.string())), e.what());
      } catch (const std::exception& e) {
        opened->failure = std::string(e.what());  // names the file and says what is wrong
      }
    }
    if (leaving) opened->saveFailure = leaving->get();
    opener->toMain([this, generation, opened, url, revision, again, done] {
      Opened& o = *opened;
      const bool current = generation == opener_->generation;
      if (current) {
        opener_->pending = Opener::Kind::none;
        setBusy(false);
        // Both are said, the save first: its edits are what is at stake.
        std::string alert = o.saveFailure ? saveFailureAlert(*o.saveFailure) : std::string();
        if (o.failure) alert = joinMessages(alert, *o.failure);
        if (!alert.empty()) setError(alert);
      }
      // Settings changed while it opened are written before the project is left.
      const bool changed = revision_ != revision;
      if (!current || o.saveFailure || o.failure || (changed && !saveNow())) {
        opener_->release(std::move(o));
        if (done) done(false);
        return;
      }
      // Opened again, the project keeps them: the file it was read from holds them now.
      if (again && changed) {
        if (settings_.changesMotion(o.settings)) o.motion = MotionTimeline(o.clip, settings_);
        o.settings = settings_;
      }
      install(std::move(o));
      setProjectURL(url);
      saver_->markHeld(revision_, url);
      setNotice(L("编辑自动保存 · 原始素材保留"));
      if (done) done(true);
    });
  });
  return true;
}

void Studio::demo() {
  if (leavingRefused()) return;
  if (!load(makeDemoClip())) return;
  setPlaying(true);
  setNotice(L("演示项目 · 自动缩放 / 指针跟随 / 人物画中画"));
}

namespace {

// When the desktop did not take the path, the studio's error names it (in `sentence`), says
// why and what to do instead (`advice`), so that the person can open it themselves.
DesktopDone unopenedTold(Studio* studio, const std::string& sentence, const std::string& advice) {
  std::string message = joinSentences({sentence, L("这个桌面没有设置可以打开它的程序。"), advice});
  return [studio = QPointer<Studio>(studio), message = std::move(message)](bool opened) {
    if (!opened && studio) studio->setError(message);
  };
}

}  // namespace

void Studio::revealRecordings() {
  std::string folder = services_.recordingsFolder.empty()
                           ? DisplayRecorder::defaultRecordingsFolder()
                           : services_.recordingsFolder;
  platform::makePrivateFolder(folder);
  if (!services_.desktop) return;
  services_.desktop->openFolder(folder,
                                unopenedTold(this, L("无法打开录制文件夹 {0}。", shownPath(folder)),
                                             L("请在文件管理器中自行打开这个文件夹。")));
}

void Studio::revealExportResult() {
  if (!exportResultURL_ || !services_.desktop) return;
  const std::string& movie = *exportResultURL_;
  services_.desktop->revealFile(
      movie, unopenedTold(this, L("无法在文件管理器中显示 {0}。", shownPath(movie)),
                          L("影片已保存，请在文件管理器中自行打开它所在的文件夹。")));
}

void Studio::openExportResult() {
  if (!exportResultURL_ || !services_.desktop) return;
  const std::string& movie = *exportResultURL_;
  services_.desktop->openFile(movie, unopenedTold(this, L("无法播放 {0}。", shownPath(movie)),
                                                  L("请用视频播放器自行打开这个文件。")));
}

void Studio::openPrivacyNotes(const std::string& path) {
  if (!services_.desktop) return;
  services_.desktop->openFile(path, unopenedTold(this, L("无法打开隐私说明 {0}。", shownPath(path)),
                                                 L("请用文本编辑器自行打开这个文件。")));
}

// --- Leaving for live preview ---

void Studio::enterStandby() {
  if (leavingRefused()) return;
  cancelOpening();
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
