#include "capture/camera_companion.h"

#include <cmath>

#include "localization/localization.h"
#include "platform/ffmpeg/ff_util.h"
#include "platform/screen_source.h"
#include "platform/studio_error.h"

namespace vantry {

bool cameraMovieReadable(const std::string& path) {
  auto input = ff::openInput(path);
  if (!input) return false;
  for (unsigned i = 0; i < input->nb_streams; ++i) {
    if (input->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) return true;
  }
  return false;
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

std::optional<std::string> CameraCompanion::stop() {
  camera_->endRecording();
  return camera_->warning();
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
  // A movie that cannot be read is left out of the project (complete()); say so.
  if (!warning && !cameraMovieReadable(path_)) warning = L("摄像头暂时无法使用。");
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

std::optional<std::string> VoiceCompanion::stop() {
  return microphone_.end();
}

std::optional<std::string> VoiceCompanion::finish() {
  return microphone_.finish();
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
