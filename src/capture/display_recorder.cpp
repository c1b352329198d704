#include "capture/display_recorder.h"

#include <QLocale>
#include <QStandardPaths>
#include <QTime>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <thread>

#include "capture/capture_target.h"
#include "capture/display_preview.h"
#include "capture/recording_messages.h"
#include "localization/localization.h"
#include "localization/user_message.h"
#include "model/document_json.h"
#include "platform/durable_file.h"
#include "platform/studio_error.h"

namespace vantry {

namespace {

constexpr double kFrame = 1.0 / 60.0;
// The screen hands over its first frame within moments of the stream's start.
constexpr double kFirstFrameGrace = 1.0;
constexpr int kMaxCaptureWidth = 2560;
// A taller source is scaled down to this: libx264 refuses heights beyond 16384, and players'
// decoders commonly stop at 4096.
constexpr int kMaxCaptureHeight = 4096;

VideoFrameView viewOf(const platform::Frame& frame) {
  VideoFrameView v;
  v.data = frame.image->pixels.data();
  v.width = frame.image->width;
  v.height = frame.image->height;
  v.stride = frame.image->stride;
  v.format = AV_PIX_FMT_BGRA;
  v.owner = frame.image;
  return v;
}

}  // namespace

DisplayRecorder::DisplayRecorder(RecorderEnvironment environment) : env_(std::move(environment)) {
  if (!env_.makeSink) env_.makeSink = makeScreenMovieSink;
  if (env_.recordingsFolder.empty()) {
    env_.recordingsFolder = defaultRecordingsFolder();
    inDataFolder_ = true;
  }
  // Whatever escapes a frame or a tick is a failure of the recording, never of the program.
  queue_.setErrorHandler([this](const std::string& error) {
    recordFailure({withDetail(L("录制时发生意外错误。"), error), {}});
  });
}

DisplayRecorder::~DisplayRecorder() {
  queue_.stopTimer();
  if (stream_) {
    try {
      stream_->stop();
    } catch (...) {
    }
  }
  // Frames still queued are not written any more, and report nothing.
  queue_.sync([this] { finished_ = true; });
  if (!stopped_.load()) {
    for (size_t i = preparedCompanions_; i-- > 0;)
      companions_[i]->abandon();
  }
  // The movie keeps what was written: it is crash-safe while writing.
  if (sink_) sink_->cancel();
}

std::string DisplayRecorder::titleAt(const QTime& time) {
  return L("录屏 · ") + QLocale::system().toString(time, QLocale::ShortFormat).toStdString();
}

std::string DisplayRecorder::defaultRecordingsFolder() {
  const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
  return (std::filesystem::path(base.toStdString()) / "Pexilar" / "Recordings").string();
}

DisplayRecorder::CaptureSize DisplayRecorder::captureSizeFor(const platform::Rect& points,
                                                             double scale) {
  const double pw = points.width * scale;
  const double ph = points.height * scale;
  double w = pw;
  double h = ph;
  // A capped side is exactly its limit; scaling by 2560 / pw and back would lose a pixel to
  // rounding for some sizes.
  if (w > kMaxCaptureWidth) {
    w = kMaxCaptureWidth;
    h = ph * kMaxCaptureWidth / pw;
  }
  if (h > kMaxCaptureHeight) {
    h = kMaxCaptureHeight;
    w = pw * kMaxCaptureHeight / ph;
  }
  auto even = [](double v) {
    if (!(v >= 2)) return 2;  // also NaN
    const int i = int(std::min(std::floor(v + 1e-9), 1e9));
    return i < 2 ? 2 : i - (i % 2);
  };
  return CaptureSize{even(w), even(h)};
}

std::optional<double> DisplayRecorder::startClock() const {
  std::lock_guard lock(stateMutex_);
  return startClock_;
}

platform::Rect DisplayRecorder::screenRect() const {
  std::lock_guard lock(stateMutex_);
  return screenRect_;
}

DisplayRecorder::CaptureSize DisplayRecorder::captureSize() const {
  std::lock_guard lock(stateMutex_);
  return captureSize_;
}

std::string DisplayRecorder::folder() const {
  std::lock_guard lock(stateMutex_);
  return folder_;
}

DisplayRecorder::Stats DisplayRecorder::stats() const {
  return Stats{framesTaken_.load(), framesWritten_.load(), framesDropped_.load(), ticks_.load()};
}

std::string DisplayRecorder::warning() const {
  std::lock_guard lock(stateMutex_);
  std::string text;
  for (const auto& w : warnings_)
    text += (text.empty() ? "" : "\n") + w;
  return text;
}

void DisplayRecorder::start(platform::DisplayId displayID,
                            std::optional<platform::WindowId> windowID,
                            std::vector<std::shared_ptr<RecordingCompanion>> companions) {
  // One recorder serves one recording.
  if (started_.exchange(true)) throw StudioError(L("录屏文件无法写入。"));
  companions_ = std::move(companions);
  try {
    startSteps(displayID, windowID);
  } catch (...) {
    stopped_.store(true);
    removeUnrecordedFolder();
    throw;
  }
}

void DisplayRecorder::removeUnrecordedFolder() {
  // Nothing was recorded: an empty folder would only stand in the recordings as a broken
  // one. The files in it are this start's own (an empty movie, a camera file of one frame).
  const std::string dir = folder();
  if (dir.empty()) return;
  if (sink_) sink_->cancel();
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  folderLock_.release();
}

std::filesystem::path DisplayRecorder::makeFolder() {
  namespace fs = std::filesystem;
  const fs::path recordings = env_.recordingsFolder;
  const fs::path folder = recordings / Uuid::random().toString();
  {
    std::lock_guard lock(stateMutex_);
    folder_ = folder.string();
  }
  // Private whatever the umask: a recording holds whatever was on the screen. The folders
  // above it that are ours are closed too, so that the recordings made before are.
  std::string made;
  if (inDataFolder_) made = platform::makePrivateFolder(recordings.parent_path());
  if (made.empty()) made = platform::makePrivateFolder(recordings);
  if (made.empty()) made = platform::makePrivateFolder(folder);
  // Locked before anything is written into it: a recording being made is never recovered.
  if (made.empty()) made = folderLock_.takeNew(folder);
  if (!made.empty()) {
    throw StudioError(
        recordingFolderFailure(env_.recordingsFolder, systemErrorNumberOf(made), made));
  }
  return folder;
}

void DisplayRecorder::startSteps(platform::DisplayId displayID,
                                 std::optional<platform::WindowId> windowID) {
  if (!env_.screen) env_.screen = platform::defaultScreenCapture();

  // 1. The recording folder.
  const std::filesystem::path folder = makeFolder();

  // 2, 3. What to capture.
  const platform::ShareableContent content = env_.screen->shareableContent();
  const CaptureTarget target =
      CaptureTarget::resolve(content, displayID, windowID, env_.screen->ownApplication());
  capturedWindowID_ = windowID;

  // The pointer reader lives on the writer queue (one X connection per thread). It is made
  // now, so that a server refusing the connection fails the start, not the recording.
  // Where the app's own windows are left out, a press in them is no click of the recording:
  // it would zoom onto a painted-out place (the Stop button, to begin with).
  const auto& excluded = target.filter.excludedApplications;
  const bool ownLeftOut =
      std::any_of(excluded.begin(), excluded.end(),
                  [](const platform::ApplicationInfo& app) { return app.thisApplication; }) &&
      env_.screen->canExcludeOwnWindows();
  queue_.sync([this, ownLeftOut] {
    pointer_ = env_.screen->createPointerSource();
    if (ownLeftOut) pointer_->tellOwnWindows();
  });

  // 4. The pixel size of the stream and the movie.
  const CaptureSize size = captureSizeFor(target.rect, target.filter.pointPixelScale);
  {
    std::lock_guard lock(stateMutex_);
    screenRect_ = target.rect;
    captureSize_ = size;
  }

  // 5. The stream's configuration.
  platform::StreamConfiguration config;
  config.width = size.width;
  config.height = size.height;
  config.minimumFrameInterval = kFrame;
  config.queueDepth = 6;
  config.showsCursor = false;

  // 6-8. The screen movie.
  VideoSinkRequest request;
  request.path = (folder / "screen.mp4").string();
  request.width = size.width;
  request.height = size.height;
  request.onFailure = [this](const std::string&) { queue_.post([this] { movieFailed(); }); };
  std::unique_ptr<VideoSink> sink = env_.makeSink(request);
  if (!sink) throw StudioError(L("无法创建录屏编码器。"));
  if (!sink->start()) {
    const int errnum = sink->errorNumber();
    const std::string error = sink->error();
    sink.reset();
    throw StudioError(recordingWriteFailure(RecordingFile::screen, request.path, errnum, error,
                                            errnum ? writeAdvice(errnum) : std::string()));
  }
  sink_ = std::move(sink);

  try {
    // 9. Camera or voice.
    for (auto& c : companions_) {
      ++preparedCompanions_;  // a companion that fails part way is undone too
      c->prepare(folder.string());
    }

    // 10. The stream; its frames are handled on the writer queue.
    platform::FrameStream::Callbacks callbacks;
    callbacks.onFrame = [this](const platform::Frame& frame) {
      queue_.post([this, frame] { handleFrame(frame); });
    };
    callbacks.onStopped = [this](std::exception_ptr error) {
      std::string text;
      try {
        if (error) std::rethrow_exception(error);
      } catch (const std::exception& e) {
        text = e.what();
      } catch (...) {
      }
      queue_.post([this, text] { streamStopped(text.empty() ? L("录屏文件无法写入。") : text); });
    };
    stream_ = env_.screen->createStream(target.filter, config, std::move(callbacks));
    stream_->start();
    streamStartedAt_.store(platform::hostTime());

    // 11. The voice recording begins only once the screen is captured.
    for (auto& c : companions_)
      c->begin();
  } catch (...) {
    undoStart();
    throw;
  }

  // 12. The pointer, sixty times a second on the writer queue.
  queue_.startTimer(kFrame, [this] { tick(); });
}

void DisplayRecorder::undoStart() {
  if (stream_) {
    try {
      stream_->stop();
    } catch (...) {
    }
    stream_.reset();
  }
  for (size_t i = preparedCompanions_; i-- > 0;)
    companions_[i]->abandon();
  preparedCompanions_ = 0;
  if (sink_) sink_->cancel();
  stopped_.store(true);
}

void DisplayRecorder::recordFailure(Trouble trouble) {
  if (finished_) return;
  // What goes wrong at every tick is told once.
  if (std::find(troubles_.begin(), troubles_.end(), trouble) != troubles_.end()) return;
  const bool first = troubles_.empty();
  troubles_.push_back(std::move(trouble));
  if (first && onFailure) onFailure(troubles_.back().message);
}

void DisplayRecorder::streamStopped(const std::string& message) {
  if (finished_) return;
  endByItself({message, {}});
}

void DisplayRecorder::movieFailed() {
  if (finished_ || !sink_ || streamEnded_) return;
  const int errnum = sink_->errorNumber();
  // What the movie cannot hold is not recorded: going on would only show a recording that
  // is not there.
  endByItself({recordingWriteFailure(RecordingFile::screen, moviePath(), errnum, sink_->error()),
               writeAdvice(errnum)});
}

void DisplayRecorder::endByItself(Trouble trouble) {
  if (finished_) return;
  // The first of these ends the recording at its last real frame; a later one is only told.
  trouble.endedRecording = !streamEnded_;
  recordFailure(std::move(trouble));
  if (streamEnded_) return;
  streamEnded_ = true;
  journal_.write();
  ended_.store(true);
  if (onEnded) onEnded();
}

std::string DisplayRecorder::moviePath() const {
  return (std::filesystem::path(folder()) / "screen.mp4").string();
}

void DisplayRecorder::openJournal() {
  journalTried_ = true;
  JournalHeader header;
  const CaptureSize size = captureSize();
  header.width = size.width;
  header.height = size.height;
  header.startClock = *firstPTS_;
  for (const auto& c : companions_)
    c->describe(header, *firstPTS_);
  // Without a journal the recording goes on; only a crash would then lose the track.
  journal_.open((std::filesystem::path(folder()) / kPointerJournalName).string(), header);
}

void DisplayRecorder::handleFrame(const platform::Frame& frame) {
  if (finished_ || !sink_ || !frame.image) return;
  if (sink_->failed()) return;
  if (frame.status != platform::FrameStatus::complete) return;

  // Live view, at most sixty images a second, fed whether or not the frame is written.
  const double now = platform::hostTime();
  if (now - lastPreviewTime_ > kFrame) {
    lastPreviewTime_ = now;
    if (onFrame) onFrame(liveImage(frame.image));
  }

  // The first frame taken fixes the recording's time 0.
  if (!firstPTS_) {
    firstPTS_ = frame.timestamp;
    {
      std::lock_guard lock(stateMutex_);
      startClock_ = frame.timestamp;
    }
    timings_["screenFirstPTS"] = frame.timestamp;
    timings_["screenCallbackHostTime"] = platform::hostTime();
  }

  // Frames that find the encoder busy are dropped, never queued without bound.
  framesTaken_.fetch_add(1, std::memory_order_relaxed);
  if (!sink_->readyForVideo()) {
    framesDropped_.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  if (sink_->appendVideo(viewOf(frame), frame.timestamp - *firstPTS_, std::nullopt)) {
    framesWritten_.fetch_add(1, std::memory_order_relaxed);
    lastSample_ = frame;
  } else {
    movieFailed();
  }
}

void DisplayRecorder::tick() {
  if (finished_ || streamEnded_ || !firstPTS_ || !pointer_) return;
  // Opened at the first tick: by then every companion has begun and knows its offset.
  if (!journalTried_) openJournal();
  const double now = platform::hostTime();
  for (auto& c : companions_)
    c->tick(now, timings_);

  platform::Rect rect;
  CaptureSize size;
  {
    std::lock_guard lock(stateMutex_);
    rect = screenRect_;
    size = captureSize_;
  }
  if (capturedWindowID_ && now - lastWindowRefresh_ > 0.1) {
    lastWindowRefresh_ = now;
    if (auto current = CaptureTarget::windowRect(*env_.screen, *capturedWindowID_)) {
      rect = *current;
      std::lock_guard lock(stateMutex_);
      screenRect_ = rect;
    }
  }

  // An unreadable pointer repeats the last known place with the button up.
  const platform::PointerState state = pointer_->read();
  const double t = std::max(platform::hostTime() - *firstPTS_, 0.0);  // when it was read
  const bool pressed = state.live && state.leftDown;
  const Point at = CaptureTarget::normalizedPointer(
      state.location, rect, platform::Size{double(size.width), double(size.height)});
  // A press edge, or a tap that began and ended between two ticks.
  const bool newPress = pressed && (!lastPressed_ || state.pressesSinceLastRead > 0);
  const bool clicked = newPress && rect.contains(state.location) && !state.overOwnWindow;
  samples_.push_back(PointerSample{t, at.x, at.y, clicked});
  ticks_.fetch_add(1, std::memory_order_relaxed);
  lastPressed_ = pressed;
  // Twice a second of recording time into the journal, however many ticks a busy machine
  // skipped: a crash loses at most the last half second.
  journal_.add(samples_.back());
  if (t - journalWritten_ >= 0.5) {
    journalWritten_ = t;
    journal_.write();
  }
}

Clip DisplayRecorder::stop() {
  if (!started_.load() || stopped_.exchange(true))
    throw StudioError(L("没有捕获到画面。请检查屏幕录制权限，然后重试。"));
  // Whatever the outcome, the folder is done with once this returns.
  struct Unlock {
    RecordingLock& lock;
    ~Unlock() { lock.release(); }
  } unlock{folderLock_};
  const double stopAsked = platform::hostTime();

  std::vector<std::string> late = stopSources();
  Captured captured = takeCaptured();
  // Completed only now: their finishing is not recording.
  for (std::string& w : finishCompanions())
    late.push_back(std::move(w));
  if (!captured.anyFrame || !sink_) throw nothingKept(captured, stopAsked);

  const double duration = finishMovie(captured, late);
  if (!(duration > 0)) {
    throw StudioError(!captured.troubles.empty() ? captured.troubles.front().alone()
                      : !late.empty()            ? late.front()
                                      : L("没有捕获到画面。请检查屏幕录制权限，然后重试。"));
  }
  std::vector<std::string> warnings = toldTroubles(captured, duration);
  warnings.insert(warnings.end(), late.begin(), late.end());

  const Clip clip = makeClip(captured, duration);
  // The document first: it is what the user opens, the timings only explain it.
  writeDocument(clip);
  if (auto w = writeTimings(captured.timings)) warnings.push_back(std::move(*w));
  {
    std::lock_guard lock(stateMutex_);
    warnings_ = std::move(warnings);
  }
  return clip;
}

std::string DisplayRecorder::Trouble::alone() const {
  return endedRecording ? appendSentence(message, advice) : message;
}

bool DisplayRecorder::Captured::ended() const {
  return std::any_of(troubles.begin(), troubles.end(),
                     [](const Trouble& t) { return t.endedRecording; });
}

// 1-4. No pointer sample, no frame and no sound after this. What went wrong in stopping.
std::vector<std::string> DisplayRecorder::stopSources() {
  queue_.stopTimer();
  std::vector<std::string> warnings;
  if (stream_) {
    try {
      stream_->stop();
    } catch (const std::exception& e) {
      warnings.push_back(e.what());
    }
    stream_.reset();
  }
  const std::optional<double> clock = startClock();
  for (auto& c : companions_) {
    if (auto w = c->stop(clock)) warnings.push_back(*w);
  }
  return warnings;
}

// 5. On the writer queue, after everything already queued there.
DisplayRecorder::Captured DisplayRecorder::takeCaptured() {
  return queue_.sync([this] {
    Captured c;
    c.startClock = firstPTS_;
    c.anyFrame = lastSample_.has_value();
    journal_.write();
    // A recording that ended by itself ends at its last real frame: nothing is placed after
    // it.
    if (firstPTS_ && lastSample_ && sink_ && !streamEnded_) placeLastFrame(c);
    finished_ = true;
    lastSample_.reset();
    c.samples = std::move(samples_);
    c.troubles = troubles_;
    c.timings = timings_;
    return c;
  });
}

// The last frame again at the stop instant, so that the movie lasts until the user stopped.
// Writer queue.
void DisplayRecorder::placeLastFrame(Captured& captured) {
  captured.length = std::max(platform::hostTime() - *firstPTS_, kFrame);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (!sink_->readyForVideo() && !sink_->failed() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  if (sink_->readyForVideo()) {
    if (sink_->appendVideo(viewOf(*lastSample_), captured.length, kFrame))
      captured.placed = true;
    else
      recordFailure({withDetail(L("最后一帧保存失败。"), sink_->error()), {}});
  } else if (!sink_->failed()) {
    recordFailure({L("保存录屏最后一帧时超时，请重新录制。"), {}});
  }
}

std::vector<std::string> DisplayRecorder::finishCompanions() {
  std::vector<std::string> warnings;
  for (auto& c : companions_) {
    if (auto w = c->finish()) warnings.push_back(*w);
  }
  return warnings;
}

// Why nothing can be kept of a recording whose movie holds no frame.
StudioError DisplayRecorder::nothingKept(const Captured& captured, double stopAsked) {
  if (sink_) sink_->cancel();
  if (!captured.troubles.empty()) {
    // The screen ended before it handed over a frame (its server was lost): the recording
    // never began, and goes as a failed start does.
    if (captured.ended() && framesTaken_.load() == 0) removeUnrecordedFolder();
    return StudioError(captured.troubles.front().alone());
  }
  // Frames came but the writer never took one: the screen was readable, the file was not.
  if (framesTaken_.load() > 0) {
    return StudioError(recordingWriteFailure(RecordingFile::screen, moviePath(),
                                             sink_ ? sink_->errorNumber() : 0,
                                             sink_ ? sink_->error() : std::string()));
  }
  // The screen hands over its first frame at once: a stop before it, that soon, is the
  // person's, not a screen that shows nothing.
  if (stopAsked - streamStartedAt_.load() < kFirstFrameGrace) {
    removeUnrecordedFolder();
    return StudioError(L("录制在捕获到任何画面之前就停止了，没有保留任何内容。请重新开始录制。"));
  }
  return StudioError(L("没有捕获到画面。请检查屏幕录制权限，然后重试。"));
}

// 6. Completes "screen.mp4"; the recording's length: to the stop instant when the last
// frame was placed there, else to the end of what the movie holds.
double DisplayRecorder::finishMovie(const Captured& captured, std::vector<std::string>& warnings) {
  const bool finished = sink_->finish();
  // A movie that failed while recording has said so already.
  if (!finished && !captured.ended()) {
    warnings.push_back(recordingWriteFailure(RecordingFile::screen, moviePath(),
                                             sink_->errorNumber(), sink_->error()));
  }
  return captured.placed && finished ? captured.length + kFrame : sink_->writtenDuration();
}

// The troubles as the person reads them: the one that ended the recording says where it
// ended and what is kept of it.
std::vector<std::string> DisplayRecorder::toldTroubles(const Captured& captured,
                                                       double duration) const {
  std::vector<std::string> told;
  for (const Trouble& t : captured.troubles) {
    told.push_back(t.endedRecording
                       ? appendSentence(t.message, recordingKept(duration, folder(), t.advice))
                       : t.message);
  }
  return told;
}

// 8 (prepared first: the companions add their parts and timings). The pointer track ends
// with the picture.
Clip DisplayRecorder::makeClip(Captured& captured, double duration) {
  auto& samples = captured.samples;
  samples.erase(std::find_if(samples.begin(), samples.end(),
                             [&](const PointerSample& s) { return s.time > duration; }),
                samples.end());
  const std::filesystem::path folder = this->folder();
  const CaptureSize size = captureSize();
  Clip clip;
  clip.id = Uuid::random();
  clip.title = titleAt(QTime::currentTime());
  clip.duration = duration;
  clip.screenPath = (folder / "screen.mp4").string();
  clip.samples = std::move(samples);
  clip.isDemo = false;
  clip.width = size.width;
  clip.height = size.height;
  for (auto& c : companions_)
    c->complete(clip, *captured.startClock, captured.timings);
  return clip;
}

// "project.json". Every file of the recording is complete now: the space held for the
// documents is given back for them. The journal stays until the document is durable: with
// it the recording can be rebuilt.
void DisplayRecorder::writeDocument(const Clip& clip) {
  const std::filesystem::path folder = this->folder();
  const std::string failed = L("无法写入文件 {0}。", shownPath((folder / "project.json").string()));
  std::string bytes;
  try {
    bytes = encodeClip(clip);
  } catch (const std::exception& e) {
    throw StudioError(withDetail(failed, e.what()));
  }
  journal_.close();
  const std::string error = platform::writeFileAtomically(folder / "project.json", bytes);
  if (!error.empty()) {
    const int errnum = systemErrorNumberOf(error);
    // Gone with everything in it: there is nothing left to recover.
    std::error_code ec;
    if (errnum == ENOENT &&
        std::filesystem::symlink_status(folder, ec).type() == std::filesystem::file_type::not_found)
      throw StudioError(recordingFolderRemoved(folder.string()));
    throw StudioError(systemFailure(failed, errnum, recoveryAdvice(errnum, folder), error));
  }
  std::error_code ignored;
  std::filesystem::remove(folder / kPointerJournalName, ignored);
}

// 7. The timings, a diagnostic: a failure to write them is a warning only.
std::optional<std::string> DisplayRecorder::writeTimings(const CaptureTimings& timings) {
  const std::filesystem::path file = std::filesystem::path(folder()) / "capture-timing.json";
  nlohmann::json timing = nlohmann::json::object();
  for (const auto& [key, value] : timings)
    if (std::isfinite(value)) timing[key] = value;
  const std::string error = platform::writeFileAtomically(file, timing.dump());
  if (error.empty()) return std::nullopt;
  return systemFailure(L("无法写入文件 {0}。", shownPath(file.string())),
                       systemErrorNumberOf(error), {}, error);
}

}  // namespace vantry
