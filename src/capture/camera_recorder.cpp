#include "capture/camera_recorder.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "capture/microphone_recorder.h"
#include "localization/localization.h"
#include "localization/user_message.h"
#include "platform/ffmpeg/movie_fragments.h"
#include "platform/screen_source.h"
#include "platform/studio_error.h"

namespace vantry {

std::string cameraErrorMessage(const platform::CameraError& error) {
  using platform::CameraFailure;
  switch (error.kind()) {
    case CameraFailure::NoDevice:
      return L("没有找到摄像头。可关闭摄像头后继续录屏。");
    case CameraFailure::AccessDenied:
      return L("摄像头权限未开启。请在系统设置 → 隐私与安全性 → 摄像头中允许 Vantry。");
    case CameraFailure::Busy:
      return L("摄像头未能启动，请检查设备是否被其他应用占用。");
    case CameraFailure::CannotOpen:
    case CameraFailure::Unsupported:
      // The device's own reason follows the sentence, as it has no translation.
      return withDetail(L("摄像头暂时无法使用。"), error.what());
    case CameraFailure::Stopped:
      break;
  }
  return L("摄像头暂时无法使用。");
}

CameraRecorder::CameraRecorder(CameraFactory camera, MicrophoneFactory microphone)
    : cameraFactory_(std::move(camera)), microphoneFactory_(std::move(microphone)) {
  if (!cameraFactory_) cameraFactory_ = [] { return platform::makeCameraSource(); };
  if (!microphoneFactory_) microphoneFactory_ = [] { return platform::makeMicrophoneSource(); };
}

CameraRecorder::~CameraRecorder() {
  try {
    stop();
  } catch (...) {
    // Nothing to report to from a destructor; the file keeps what was written.
  }
  stopMicrophone();
  if (camera_) camera_->close();
}

void CameraRecorder::setOnFrame(FrameHandler handler) {
  std::lock_guard lock(mutex_);
  onFrame_ = std::move(handler);
}

void CameraRecorder::preparePreview() {
  // One device for the life of the recorder: a second call after a failure part way
  // continues with the same one instead of adding it again.
  if (!camera_) camera_ = cameraFactory_();
  try {
    camera_->open();
    if (!camera_->isRunning()) {
      camera_->start([this](const platform::CameraFrame& f) { onCameraFrame(f); },
                     [this](const platform::CameraError& e) { onCameraError(e); });
    }
  } catch (const platform::CameraError& e) {
    throw StudioError(cameraErrorMessage(e));
  }
  if (!camera_->isRunning()) {
    throw StudioError(L("摄像头未能启动，请检查设备是否被其他应用占用。"));
  }
}

void CameraRecorder::start(const std::string& path, bool microphone) {
  if (!camera_ || !camera_->isRunning()) preparePreview();
  {
    std::lock_guard lock(mutex_);
    if (armed_ || recording_ || writer_) throw StudioError(L("摄像头未能开始录像。"));
  }

  int rate = 48000;
  if (microphone) {
    // The sound stream runs before the file is armed, so its clock has settled when the
    // first frame fixes the recording's start.
    microphone_ = microphoneFactory_();
    rate = microphone_->sampleRate();
    track_ = std::make_unique<MicrophoneTrack>(rate, [this](const float* s, int n, double t) {
      if (writer_) writer_->appendAudio(s, n, t);
    });
    try {
      microphone_->start(
          [this](const platform::AudioChunk& c) { track_->add(c); },
          [this](const platform::AudioError& e) {
            // The sound is kept up to its newest sample.
            const auto begin = track_->beginTime();
            const double at = begin ? *begin + track_->currentTime() : 0;
            std::lock_guard lock(mutex_);
            if (!recording_) return;
            losses_.push_back(InputLoss{e.kind() == platform::AudioFailure::ServerLost
                                            ? LostInput::soundServer
                                            : LostInput::microphoneDevice,
                                        at, e.what()});
          });
    } catch (const platform::AudioError& e) {
      microphone_.reset();
      track_.reset();
      throw StudioError(microphoneErrorMessage(e, true));
    }
  }

  // Every track is in the file before the first frame arrives.
  MovieWriterSettings settings;
  settings.path = path;
  settings.container = "mov";
  VideoTrackSettings video;
  video.width = kWidth;
  video.height = kHeight;
  video.timeBase = {1, 90000};
  video.frameRate = 30;
  video.averageBitRate = 6'000'000;
  video.keyFrameInterval = 30;
  // 720p at 30 frames a second needs little; libx264's default thread count (one and a half
  // per core) would hold far more pictures than that.
  video.encoderOptions = {{"preset", "superfast"}, {"threads", "2"}};
  settings.video = video;
  if (microphone) {
    AudioTrackSettings audio;
    audio.sampleRate = rate;
    audio.channels = 1;
    settings.audio = audio;
  }
  settings.onFailure = [this](const std::string& error) {
    std::lock_guard lock(mutex_);
    if (writeFailure_.empty()) writeFailure_ = error;
  };
  auto writer = std::make_unique<MovieWriter>(settings);
  if (!writer->start()) {
    const int errnum = writer->errorNumber();
    const std::string error = writer->error();
    stopMicrophone();
    throw StudioError(recordingWriteFailure(RecordingFile::camera, path, errnum, error,
                                            errnum ? writeAdvice(errnum) : std::string()));
  }
  path_ = path;

  std::unique_lock lock(mutex_);
  writer_ = std::move(writer);
  armed_ = true;
  startError_.reset();
  const bool ended = started_.wait_for(lock, std::chrono::duration<double>(startTimeout_),
                                       [this] { return recording_ || startError_.has_value(); });
  if (recording_) return;
  armed_ = false;
  const std::string message =
      ended && startError_ ? *startError_ : L("等待摄像头首帧超时，请重新录制。");
  auto failed = std::move(writer_);
  lock.unlock();
  stopMicrophone();
  failed->cancel();  // the empty file stays where it is
  throw StudioError(message);
}

void CameraRecorder::onCameraFrame(const platform::CameraFrame& frame) {
  if (!frame.bgra || frame.width <= 0 || frame.height <= 0) return;
  {
    std::lock_guard lock(mutex_);
    if (!armed_ && !recording_ && !onFrame_) return;  // nobody wants this frame
  }
  // One copy serves the file and the preview; the camera reuses its buffer.
  const int stride = frame.width * 4;
  auto pixels = freeBuffer(size_t(stride) * size_t(frame.height));
  if (!pixels) return;  // the file and the preview are far behind: this frame is dropped
  for (int y = 0; y < frame.height; ++y) {
    std::memcpy(pixels->data() + size_t(y) * stride, frame.bgra + size_t(y) * frame.stride,
                size_t(stride));
  }

  FrameHandler handler;
  {
    std::lock_guard lock(mutex_);
    if (armed_) {
      armed_ = false;
      startedAt_ = frame.time;
      firstSampleHostTime_ = frame.time;
      recording_ = true;
      lastVideoTime_ = -1;
      if (track_) track_->begin(frame.time);
    }
    if (recording_ && writer_) {
      const double t = frame.time - *startedAt_;
      if (t > lastVideoTime_) {
        VideoFrameView view;
        view.data = pixels->data();
        view.width = frame.width;
        view.height = frame.height;
        view.stride = stride;
        view.owner = pixels;
        const bool first = lastVideoTime_ < 0;
        // A busy encoder drops this frame rather than holding up the camera.
        const bool taken = writer_->appendVideo(view, t);
        if (taken) lastFrameAt_ = frame.time;
        if (taken || first) lastVideoTime_ = t;
        if (first) {
          startNotificationHostTime_ = platform::hostTime();
          started_.notify_all();
        }
      }
    }
    handler = onFrame_;
  }
  if (handler) {
    auto* keep = new std::shared_ptr<std::vector<uint8_t>>(pixels);
    QImage image(
        pixels->data(), frame.width, frame.height, stride, QImage::Format_RGB32,
        [](void* p) { delete static_cast<std::shared_ptr<std::vector<uint8_t>>*>(p); }, keep);
    handler(image);
  }
}

std::shared_ptr<std::vector<uint8_t>> CameraRecorder::freeBuffer(size_t bytes) {
  for (auto& b : buffers_) {
    // Only this thread hands buffers out, so a count of one cannot rise behind our back.
    if (b.use_count() == 1) {
      std::atomic_thread_fence(std::memory_order_acquire);
      b->resize(bytes);
      return b;
    }
  }
  if (buffers_.size() >= kBuffers) return nullptr;
  buffers_.push_back(std::make_shared<std::vector<uint8_t>>(bytes));
  return buffers_.back();
}

void CameraRecorder::onCameraError(const platform::CameraError& error) {
  std::lock_guard lock(mutex_);
  if (armed_) {
    startError_ = cameraErrorMessage(error);
    started_.notify_all();
  } else if (recording_ && std::none_of(losses_.begin(), losses_.end(), [](const InputLoss& l) {
               return l.what == LostInput::cameraDevice;
             })) {
    // The picture is kept up to its last frame.
    losses_.push_back(InputLoss{LostInput::cameraDevice,
                                lastFrameAt_.value_or(startedAt_.value_or(0)), error.what()});
  }
}

void CameraRecorder::stopMicrophone() {
  if (microphone_) microphone_->stop();  // no chunk arrives after this
  if (track_) track_->flush();
}

void CameraRecorder::endRecording() {
  bool wasRecording;
  {
    std::lock_guard lock(mutex_);
    wasRecording = recording_;
    recording_ = false;
    armed_ = false;
    if (wasRecording && writer_) finishPending_ = true;
  }
  if (wasRecording) stopMicrophone();  // the last sound is handed over before the file closes
  if (camera_) camera_->stop();
}

void CameraRecorder::finishRecording() {
  {
    std::lock_guard lock(mutex_);
    if (!finishPending_) return;
    finishPending_ = false;
  }
  writer_->finish();
  if (const auto failure = writeFailure()) {
    throw StudioError(
        recordingWriteFailure(RecordingFile::camera, path_, failure->errnum, failure->detail));
  }
}

void CameraRecorder::stop() {
  endRecording();
  finishRecording();
}

void CameraRecorder::stopPreview() {
  if (camera_) camera_->stop();
}

std::optional<double> CameraRecorder::startedAt() const {
  std::lock_guard lock(mutex_);
  return startedAt_;
}

std::optional<double> CameraRecorder::firstSampleHostTime() const {
  std::lock_guard lock(mutex_);
  return firstSampleHostTime_;
}

std::optional<double> CameraRecorder::startNotificationHostTime() const {
  std::lock_guard lock(mutex_);
  return startNotificationHostTime_;
}

bool CameraRecorder::recordsMicrophone() const {
  return track_ != nullptr;
}

std::vector<InputLoss> CameraRecorder::losses() const {
  std::lock_guard lock(mutex_);
  return losses_;
}

std::optional<TrackWriteFailure> CameraRecorder::writeFailure() const {
  if (!writer_) return std::nullopt;
  const auto state = writer_->state();
  if (state != MovieWriter::State::failed) return std::nullopt;
  // Read from the file: with sound beside the pictures, what reached it is not known exactly
  // while writing.
  const std::optional<double> picture = movieEnd(path_, AVMEDIA_TYPE_VIDEO);
  const std::optional<double> sound =
      recordsMicrophone() ? movieEnd(path_, AVMEDIA_TYPE_AUDIO) : std::nullopt;
  std::lock_guard lock(mutex_);
  TrackWriteFailure f;
  f.errnum = writer_->errorNumber();
  f.detail = writeFailure_.empty() ? writer_->error() : writeFailure_;
  const double start = startedAt_.value_or(0);
  if (picture) f.keptUntil = start + *picture;
  if (sound) f.soundKeptUntil = start + *sound;
  return f;
}

}  // namespace vantry
