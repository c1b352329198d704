#include "capture/microphone_recorder.h"

#include "localization/localization.h"
#include "platform/studio_error.h"

namespace vantry {

std::string microphoneErrorMessage(const platform::AudioError& error, bool withCamera) {
  using platform::AudioFailure;
  switch (error.kind()) {
    case AudioFailure::AccessDenied:
      return withCamera ? L("麦克风权限未开启。")
                        : L("麦克风权限未开启。可以关闭麦克风录制，或在系统设置中允许访问。");
    case AudioFailure::NoServer:
    case AudioFailure::NoDevice:
      return L("没有找到麦克风。");
    case AudioFailure::CannotOpen:
      return L("无法连接麦克风。");
    case AudioFailure::Stopped:
      break;
  }
  return withCamera ? L("无法连接麦克风。") : L("麦克风无法开始录音。");
}

MicrophoneRecorder::MicrophoneRecorder(SourceFactory factory) : factory_(std::move(factory)) {
  if (!factory_) factory_ = [] { return platform::makeMicrophoneSource(); };
}

MicrophoneRecorder::~MicrophoneRecorder() {
  stop();
}

void MicrophoneRecorder::prepare(const std::string& path) {
  path_ = path;
  source_ = factory_();
  const int rate = source_->sampleRate();

  MovieWriterSettings settings;
  settings.path = path;
  settings.container = "ipod";  // .m4a
  AudioTrackSettings audio;
  audio.sampleRate = rate;
  audio.channels = 1;
  audio.bitRate = 128'000;
  settings.audio = audio;
  settings.onFailure = [this](const std::string& error) {
    std::lock_guard lock(mutex_);
    if (failure_.empty()) failure_ = error;
  };
  // The sound is opened first: a missing microphone should not leave an empty file.
  track_ = std::make_unique<MicrophoneTrack>(rate, [this](const float* s, int n, double t) {
    if (writer_) writer_->appendAudio(s, n, t);
  });
  try {
    source_->start([this](const platform::AudioChunk& c) { track_->add(c); },
                   [this](const platform::AudioError& e) {
                     std::lock_guard lock(mutex_);
                     if (lost_.empty()) lost_ = e.what();
                   });
  } catch (const platform::AudioError& e) {
    source_.reset();
    throw StudioError(microphoneErrorMessage(e, false));
  }
  writer_ = std::make_unique<MovieWriter>(settings);
  if (!writer_->start()) {
    const std::string error = writer_->error();
    source_->stop();
    source_.reset();
    throw StudioError(L("配音文件无法写入。") + (error.empty() ? "" : " (" + error + ")"));
  }
}

bool MicrophoneRecorder::record(double hostTime) {
  if (!source_ || !writer_) return false;
  {
    std::lock_guard lock(mutex_);
    if (!failure_.empty() || !lost_.empty()) return false;
  }
  track_->begin(hostTime);
  return true;
}

std::optional<std::string> MicrophoneRecorder::end() {
  if (ended_) return std::nullopt;
  ended_ = true;
  if (source_) source_->stop();  // no chunk arrives after this
  if (track_) track_->flush();
  std::lock_guard lock(mutex_);
  if (!lost_.empty()) return L("无法连接麦克风。") + " (" + lost_ + ")";
  return std::nullopt;
}

std::optional<std::string> MicrophoneRecorder::finish() {
  end();
  if (finished_) return std::nullopt;
  finished_ = true;
  const bool finished = writer_ ? writer_->finish() : true;
  std::lock_guard lock(mutex_);
  if (!finished && failure_.empty()) failure_ = writer_->error();
  if (failure_.empty()) return std::nullopt;
  return failure_;  // the writer's own description
}

std::optional<std::string> MicrophoneRecorder::stop() {
  auto lost = end();
  auto failed = finish();
  return lost ? lost : failed;
}

std::optional<double> MicrophoneRecorder::currentTime() const {
  return track_ ? track_->position() : std::nullopt;
}

std::optional<double> MicrophoneRecorder::startedAt() const {
  return track_ ? track_->beginTime() : std::nullopt;
}

}  // namespace vantry
