#include "capture/display_recorder.h"

#include <QLocale>
#include <QStandardPaths>
#include <QTime>
#include <algorithm>
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
  if (env_.recordingsFolder.empty()) env_.recordingsFolder = defaultRecordingsFolder();
  // Whatever escapes a frame or a tick is a failure of the recording, never of the program.
  queue_.setErrorHandler([this](const std::string& error) {
    recordFailure(withDetail(L("录制时发生意外错误。"), error));
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
    removeFolderOfFailedStart();
    throw;
  }
}

void DisplayRecorder::removeFolderOfFailedStart() {
  // Nothing was recorded: an empty folder would only stand in the recordings as a broken
  // one. The files in it are this start's own (an empty movie, a camera file of one frame).
  const std::string dir = folder();
  if (dir.empty()) return;
  if (sink_) sink_->cancel();
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  folderLock_.release();
}

void DisplayRecorder::startSteps(platform::DisplayId displayID,
                                 std::optional<platform::WindowId> windowID) {
  if (!env_.screen) env_.screen = platform::defaultScreenCapture();

  // 1. The recording folder.
  namespace fs = std::filesystem;
  const fs::path folder = fs::path(env_.recordingsFolder) / Uuid::random().toString();
  {
    std::lock_guard lock(stateMutex_);
    folder_ = folder.string();
  }
  // Private whatever the umask: a recording holds whatever was on the screen. The folder of
  // all recordings is closed too, so that those made before are.
  std::string made = platform::makePrivateFolder(env_.recordingsFolder);
  if (made.empty()) made = platform::makePrivateFolder(folder);
  // Locked before anything is written into it: a recording being made is never recovered.
  if (made.empty()) made = folderLock_.takeNew(folder);
  if (!made.empty()) {
    throw StudioError(
        recordingFolderFailure(env_.recordingsFolder, systemErrorNumberOf(made), made));
  }

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

void DisplayRecorder::recordFailure(const std::string& message) {
  if (finished_) return;
  if (std::find(failures_.begin(), failures_.end(), message) != failures_.end()) return;
  const bool first = failures_.empty();
  failures_.push_back(message);
  if (first && onFailure) onFailure(message);
}

void DisplayRecorder::streamStopped(const std::string& message) {
  if (finished_) return;
  recordFailure(message);
  endByItself(message, {});
}

void DisplayRecorder::movieFailed() {
  if (finished_ || !sink_ || streamEnded_) return;
  const int errnum = sink_->errorNumber();
  const std::string message =
      recordingWriteFailure(RecordingFile::screen, moviePath(), errnum, sink_->error());
  recordFailure(message);
  // What the movie cannot hold is not recorded: going on would only show a recording that
  // is not there.
  endByItself(message, writeAdvice(errnum));
}

void DisplayRecorder::endByItself(const std::string& message, const std::string& advice) {
  if (streamEnded_) return;
  // Nothing more can be recorded: the recording ends at its last real frame.
  streamEnded_ = true;
  ending_ = Ending{message, advice};
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
  // Twice a second into the journal: a crash loses at most the last half second.
  journal_.add(samples_.back());
  if (++journalKept_ >= 30) {
    journalKept_ = 0;
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

  // 1. No pointer sample after this.
  queue_.stopTimer();

  std::vector<std::string> late;
  // 2. The stream; no frame arrives after this.
  if (stream_) {
    try {
      stream_->stop();
    } catch (const std::exception& e) {
      late.push_back(e.what());
    }
    stream_.reset();
  }
  // 3, 4. Voice and camera.
  const std::optional<double> clock = startClock();
  for (auto& c : companions_) {
    if (auto w = c->stop(clock)) late.push_back(*w);
  }

  // 5. On the writer queue, after everything already queued there: the last frame again at
  // the stop instant, so that the movie lasts until the user stopped.
  struct Last {
    bool placed = false;
    double length = 0;  // a
    bool anyFrame = false;
    std::optional<double> startClock;
    std::vector<PointerSample> samples;
    std::vector<std::string> failures;
    CaptureTimings timings;
    std::optional<Ending> ending;
  };
  Last last = queue_.sync([this] {
    Last r;
    r.startClock = firstPTS_;
    r.anyFrame = lastSample_.has_value();
    journal_.write();
    journal_.close();
    // A stream that stopped by itself ended the recording at its last real frame: nothing
    // is placed after it.
    if (firstPTS_ && lastSample_ && sink_ && !streamEnded_) {
      const double now = platform::hostTime();
      r.length = std::max(now - *firstPTS_, kFrame);
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
      while (!sink_->readyForVideo() && !sink_->failed() &&
             std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      if (sink_->readyForVideo()) {
        if (sink_->appendVideo(viewOf(*lastSample_), r.length, kFrame))
          r.placed = true;
        else
          recordFailure(withDetail(L("最后一帧保存失败。"), sink_->error()));
      } else if (!sink_->failed()) {
        recordFailure(L("保存录屏最后一帧时超时，请重新录制。"));
      }
    }
    finished_ = true;
    lastSample_.reset();
    r.samples = std::move(samples_);
    r.failures = failures_;
    r.timings = timings_;
    r.ending = ending_;
    return r;
  });

  // The camera and voice files are completed only now: their finishing is not recording.
  for (auto& c : companions_) {
    if (auto w = c->finish()) late.push_back(*w);
  }

  // 6. Keep whatever was recorded; fail only when there is nothing.
  std::vector<std::string> warnings = last.failures;
  warnings.insert(warnings.end(), late.begin(), late.end());
  if (!last.anyFrame || !sink_) {
    if (sink_) sink_->cancel();
    if (!last.failures.empty()) {
      const std::string& first = last.failures.front();
      throw StudioError(last.ending && last.ending->message == first
                            ? appendSentence(first, last.ending->advice)
                            : first);
    }
    // Frames came but the writer never took one: the screen was readable, the file was not.
    if (framesTaken_.load() > 0) {
      throw StudioError(recordingWriteFailure(RecordingFile::screen, moviePath(),
                                              sink_ ? sink_->errorNumber() : 0,
                                              sink_ ? sink_->error() : std::string()));
    }
    throw StudioError(L("没有捕获到画面。请检查屏幕录制权限，然后重试。"));
  }
  const bool finished = sink_->finish();
  if (!finished && !last.ending) {
    const std::string w = recordingWriteFailure(RecordingFile::screen, moviePath(),
                                                sink_->errorNumber(), sink_->error());
    if (std::find(warnings.begin(), warnings.end(), w) == warnings.end()) warnings.push_back(w);
  }
  // The document lasts as long as the movie: to the stop instant when the last frame was
  // placed, else to the end of what was written.
  double duration = last.placed && finished ? last.length + kFrame : sink_->writtenDuration();
  if (!(duration > 0)) {
    throw StudioError(!warnings.empty() ? warnings.front()
                                        : L("没有捕获到画面。请检查屏幕录制权限，然后重试。"));
  }
  // A recording that ended by itself says where it ended and what is kept of it.
  if (last.ending) {
    const std::string kept = recordingKept(duration, folder(), last.ending->advice);
    auto it = std::find(warnings.begin(), warnings.end(), last.ending->message);
    if (it != warnings.end()) *it = appendSentence(*it, kept);
  }
  // The pointer track ends with the picture.
  auto& samples = last.samples;
  samples.erase(std::find_if(samples.begin(), samples.end(),
                             [&](const PointerSample& s) { return s.time > duration; }),
                samples.end());

  // 8 (prepared first, the companions add their parts and timings). The document.
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
  CaptureTimings timings = last.timings;
  for (auto& c : companions_)
    c->complete(clip, *last.startClock, timings);

  // The document is written first: it is what the user opens, the timings only explain it.
  const std::string failedDocument =
      L("无法写入文件 {0}。", shownPath((folder / "project.json").string()));
  std::string bytes;
  try {
    bytes = encodeClip(clip);
  } catch (const std::exception& e) {
    throw StudioError(withDetail(failedDocument, e.what()));
  }
  std::string error = platform::writeFileAtomically(folder / "project.json", bytes);
  // The journal stays until the document is durable: with it the recording can be rebuilt.
  if (!error.empty()) {
    throw StudioError(systemFailure(
        failedDocument, systemErrorNumberOf(error),
        L("录制保存在 {0}，腾出空间后重新打开 Vantry 即可恢复。", shownPath(folder.string())),
        error));
  }
  std::error_code ignored;
  std::filesystem::remove(folder / kPointerJournalName, ignored);

  // 7. The timings, a diagnostic: a failure to write them is a warning only.
  nlohmann::json timing = nlohmann::json::object();
  for (const auto& [key, value] : timings)
    if (std::isfinite(value)) timing[key] = value;
  error = platform::writeFileAtomically(folder / "capture-timing.json", timing.dump());
  if (!error.empty()) {
    warnings.push_back(
        systemFailure(L("无法写入文件 {0}。", shownPath((folder / "capture-timing.json").string())),
                      systemErrorNumberOf(error), {}, error));
  }
  {
    std::lock_guard lock(stateMutex_);
    warnings_ = warnings;
  }
  return clip;
}

}  // namespace vantry
