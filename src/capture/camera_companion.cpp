#include "capture/camera_companion.h"

#include <cmath>

#include "localization/localization.h"
#include "localization/user_message.h"
#include "platform/ffmpeg/movie_fragments.h"
#include "platform/screen_source.h"
#include "platform/studio_error.h"

namespace vantry {

namespace {

// Seconds of the recording at host-clock instant `at`.
double recordingTime(double at, std::optional<double> startClock) {
  return startClock ? std::max(at - *startClock, 0.0) : 0.0;
}

// The same for the end of what a file kept; none when it kept nothing.
std::optional<double> keptTime(std::optional<double> until, std::optional<double> startClock) {
  if (!until) return std::nullopt;
  return recordingTime(*until, startClock);
}

std::string joinLines(std::string text, const std::string& line) {
  return text.empty() ? line : text + "\n" + line;
}

// The losses of a camera or microphone as lines for the recording's warning.
std::string lossLines(const std::vector<InputLoss>& losses, std::optional<double> startClock) {
  std::string text;
  for (const InputLoss& loss : losses) {
    text = joinLines(
        text, lostInputMessage(loss.what, recordingTime(loss.keptUntil, startClock), loss.detail));
  }
  return text;
}

std::optional<std::string> nonEmpty(std::string text) {
  if (text.empty()) return std::nullopt;
  return text;
}

}  // namespace

bool cameraMovieReadable(const std::string& path) {
  return movieHolds(path, AVMEDIA_TYPE_VIDEO);
}

CameraCompanion::CameraCompanion(std::shared_ptr<CameraRecorder> camera, bool microphone)
    : camera_(camera ? std::move(camera) : std::make_shared<CameraRecorder>()),
      microphone_(microphone) {}

void CameraCompanion::prepare(const std::string& folder) {
  path_ = folder + "/camera.mov";
  camera_->start(path_, microphone_);
}

void CameraCompanion::abandon() {
  try {
    camera_->stop();  // a reused preview camera is stopped too
  } catch (...) {
  }
}

std::optional<std::string> CameraCompanion::stop(std::optional<double> startClock) {
  startClock_ = startClock;
  camera_->endRecording();
  return nonEmpty(lossLines(camera_->losses(), startClock));
}

std::optional<std::string> CameraCompanion::finish() {
  if (finished_) return std::nullopt;
  finished_ = true;
  std::optional<std::string> warning;
  try {
    camera_->finishRecording();
  } catch (const std::exception& e) {
    warning = e.what();
  }
  if (const auto failed = camera_->writeFailure()) {
    // The file ends at its last complete fragment: say how much of the camera, and of the
    // microphone's sound that lives in it, that is.
    const auto picture = keptTime(failed->keptUntil, startClock_);
    warning = recordingWriteFailure(
        RecordingFile::camera, path_, failed->errnum, failed->detail,
        microphone_ ? cameraAndSoundKept(picture, keptTime(failed->soundKeptUntil, startClock_))
                    : trackKept(KeptTrack::camera, picture));
  }
  // A movie that cannot be read is left out of the project (complete()); say so.
  if (!warning && !cameraMovieReadable(path_)) warning = L("无法读取文件 {0}。", shownPath(path_));
  return warning;
}

void CameraCompanion::complete(Clip& clip, double startClock, CaptureTimings& timings) {
  finish();  // when the recorder did not ask for it already
  // A camera movie that cannot be read would only break the project: leave it out, the
  // file stays in the folder.
  if (cameraMovieReadable(path_)) {
    clip.cameraPath = path_;
    if (auto started = camera_->startedAt()) clip.cameraOffset = startClock - *started;
    if (microphone_) {
      clip.audioPath = clip.cameraPath;
      clip.audioOffset = clip.cameraOffset;
    }
  }
  if (auto t = camera_->firstSampleHostTime()) {
    timings["cameraFirstSampleHostTime"] = *t;
  } else {
    timings.erase("cameraFirstSampleHostTime");
  }
  if (auto t = camera_->startNotificationHostTime()) {
    timings["cameraNotificationHostTime"] = *t;
  } else {
    timings.erase("cameraNotificationHostTime");
  }
}

void CameraCompanion::describe(JournalHeader& header, double startClock) const {
  header.cameraFile = "camera.mov";
  if (auto started = camera_->startedAt()) header.cameraOffset = startClock - *started;
  if (microphone_) {
    header.audioFile = header.cameraFile;
    header.audioOffset = header.cameraOffset;
  }
}

VoiceCompanion::VoiceCompanion(MicrophoneRecorder::SourceFactory factory)
    : microphone_(std::move(factory)) {}

void VoiceCompanion::prepare(const std::string& folder) {
  microphone_.prepare(folder + "/voice.m4a");
}

std::optional<double> VoiceCompanion::audioStartedAt() const {
  const double t = audioStartedAt_.load();
  if (std::isnan(t)) return std::nullopt;
  return t;
}

void VoiceCompanion::begin() {
  const double now = platform::hostTime();
  audioStartedAt_ = now;
  if (!microphone_.record(now)) throw StudioError(L("麦克风无法开始录音。"));
}

void VoiceCompanion::abandon() {
  microphone_.stop();
}

void VoiceCompanion::tick(double now, CaptureTimings& timings) {
  const auto startedAt = audioStartedAt();
  if (!startedAt || !(now - *startedAt > 1.0)) return;
  if (timings.count("audioOriginFromCurrentTime")) return;
  // A source that has sent nothing yet has no position: taking 0 would put the origin at
  // this tick. A later tick takes it once sound has come.
  const auto position = microphone_.currentTime();
  if (!position) return;
  timings["audioOriginFromCurrentTime"] = now - *position;
  timings["audioCurrentTime"] = *position;
}

std::optional<std::string> VoiceCompanion::stop(std::optional<double> startClock) {
  startClock_ = startClock;
  microphone_.end();
  std::vector<InputLoss> losses;
  if (auto loss = microphone_.loss()) losses.push_back(*loss);
  return nonEmpty(lossLines(losses, startClock));
}

std::optional<std::string> VoiceCompanion::finish() {
  if (microphone_.finish()) return std::nullopt;
  const auto failed = microphone_.writeFailure();
  if (!failed) return std::nullopt;
  return recordingWriteFailure(
      RecordingFile::voice, microphone_.path(), failed->errnum, failed->detail,
      trackKept(KeptTrack::sound, keptTime(failed->keptUntil, startClock_)));
}

void VoiceCompanion::complete(Clip& clip, double startClock, CaptureTimings& timings) {
  finish();  // when the recorder did not ask for it already
  clip.audioPath = microphone_.path();
  if (const auto startedAt = audioStartedAt()) {
    clip.audioOffset = startClock - *startedAt;
    timings["audioRecordCalledHostTime"] = *startedAt;
  } else {
    timings.erase("audioRecordCalledHostTime");
  }
}

void VoiceCompanion::describe(JournalHeader& header, double startClock) const {
  header.audioFile = "voice.m4a";
  if (const auto startedAt = audioStartedAt()) header.audioOffset = startClock - *startedAt;
}

std::vector<std::shared_ptr<RecordingCompanion>> makeRecordingCompanions(
    bool camera, bool microphone, std::shared_ptr<CameraRecorder> preparedCamera) {
  std::vector<std::shared_ptr<RecordingCompanion>> companions;
  if (camera) {
    companions.push_back(std::make_shared<CameraCompanion>(std::move(preparedCamera), microphone));
  } else if (microphone) {
    companions.push_back(std::make_shared<VoiceCompanion>());
  }
  return companions;
}

}  // namespace vantry
