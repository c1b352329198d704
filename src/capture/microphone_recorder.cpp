#include "capture/microphone_recorder.h"

#include "localization/localization.h"
#include "localization/user_message.h"
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
    case AudioFailure::ServerLost:
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
                     // The sound is kept up to its newest sample.
                     const auto begin = track_->beginTime();
                     const double at = begin ? *begin + track_->currentTime() : 0;
                     std::lock_guard lock(mutex_);
                     if (lost_) return;
                     lost_ = InputLoss{e.kind() == platform::AudioFailure::ServerLost
                                           ? LostInput::soundServer
                                           : LostInput::microphoneDevice,
                                       at, e.what()};
                   });
  } catch (const platform::AudioError& e) {
    source_.reset();
    throw StudioError(microphoneErrorMessage(e, false));
  }
  writer_ = std::make_unique<MovieWriter>(settings);
  if (!writer_->start()) {
    const int errnum = writer_->errorNumber();
    const std::string error = writer_->error();
    source_->stop();
    source_.reset();
    throw StudioError(recordingWriteFailure(RecordingFile::voice, path, errnum, error,
                                            errnum ? writeAdvice(errnum) : std::string()));
  }
}

bool MicrophoneRecorder::record(double hostTime) {
  if (!source_ || !writer_) return false;
  {
    std::lock_guard lock(mutex_);
    if (!failure_.empty() || lost_) return false;
  }
  track_->begin(hostTime);
  return true;
}

bool MicrophoneRecorder::end() {
  if (ended_) return true;
  ended_ = true;
  if (source_) source_->stop();  // no chunk arrives after this
  if (track_) track_->flush();
  return !loss();
}

bool MicrophoneRecorder::finish() {
  end();
  if (finished_) return true;
  finished_ = true;
  const bool finished = writer_ ? writer_->finish() : true;
  std::lock_guard lock(mutex_);
  if (!finished && failure_.empty()) failure_ = writer_->error();
  return failure_.empty();
}

std::optional<InputLoss> MicrophoneRecorder::loss() const {
  std::lock_guard lock(mutex_);
  return lost_;
}

std::optional<TrackWriteFailure> MicrophoneRecorder::writeFailure() const {
  std::lock_guard lock(mutex_);
  if (failure_.empty() || !writer_) return std::nullopt;
  const auto begin = track_ ? track_->beginTime() : std::nullopt;
  TrackWriteFailure f;
  f.errnum = writer_->errorNumber();
  f.detail = failure_;
  if (const double kept = writer_->writtenDuration(); kept > 0)
    f.keptUntil = begin.value_or(0) + kept;
  return f;
}

std::optional<std::string> MicrophoneRecorder::stop() {
  end();
  finish();
  const double begin = startedAt().value_or(0);
  std::string text;
  if (const auto lost = loss())
    text = lostInputMessage(lost->what, lost->keptUntil - begin, lost->detail);
  if (const auto failed = writeFailure()) {
    std::optional<double> kept;
    if (failed->keptUntil) kept = *failed->keptUntil - begin;
    const std::string line =
        recordingWriteFailure(RecordingFile::voice, path_, failed->errnum, failed->detail,
                              trackKept(KeptTrack::sound, kept));
    text = text.empty() ? line : text + "\n" + line;
  }
  if (text.empty()) return std::nullopt;
  return text;
}

std::optional<double> MicrophoneRecorder::currentTime() const {
  return track_ ? track_->position() : std::nullopt;
}

std::optional<double> MicrophoneRecorder::startedAt() const {
  return track_ ? track_->beginTime() : std::nullopt;
}

}  // namespace vantry
