// One camera session for the presenter: a live picture while the user sets up, then,
// without stopping the camera, its recording to "camera.mov" (H.264 1280 x 720, with the
// microphone as an AAC 48 kHz mono track when wanted). The recording is armed and begins
// at the next camera frame, whose capture instant on the host clock becomes startedAt():
// the instant the recording stop uses to place the camera and its sound against the
// screen.
#pragma once

#include <QImage>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "capture/microphone_track.h"
#include "capture/recording_messages.h"
#include "platform/audio_source.h"
#include "platform/camera_source.h"
#include "platform/ffmpeg/movie_writer.h"

namespace vantry {

// The user's message for a camera that cannot be used.
std::string cameraErrorMessage(const platform::CameraError& error);

class CameraRecorder {
 public:
  using CameraFactory = std::function<std::unique_ptr<platform::CameraSource>()>;
  using MicrophoneFactory = std::function<std::unique_ptr<platform::AudioSource>()>;
  using FrameHandler = std::function<void(const QImage&)>;

  // Empty factories mean the application's camera (platform::makeCameraSource) and the
  // sound server's default input.
  explicit CameraRecorder(CameraFactory camera = {}, MicrophoneFactory microphone = {});
  // Stops whatever still runs; a recording in progress is finished.
  ~CameraRecorder();
  CameraRecorder(const CameraRecorder&) = delete;
  CameraRecorder& operator=(const CameraRecorder&) = delete;

  // Called on the camera's thread with every frame (1280 x 720), also while recording.
  void setOnFrame(FrameHandler handler);

  // Opens the camera and starts its picture. Calling it again (also after a failure part
  // way) reuses the device that is already open. Throws StudioError.
  void preparePreview();
  // Returns once the recording has really started (its first frame is in the file).
  // Prepares the preview first when it does not run. Throws StudioError.
  void start(const std::string& path, bool microphone);
  // Ends a recording in progress, then stops the camera; throws the recording's error
  // (StudioError) after the camera stopped.
  void stop();
  // stop() in two steps, so that a screen recording can read its stop instant as soon as
  // the camera no longer records, before the file is completed: endRecording() stops the
  // pictures, the sound and the camera at once; finishRecording() completes the file and
  // throws its error (StudioError; writeFailure() has its parts). finishRecording() does
  // nothing the second time.
  void endRecording();
  void finishRecording();
  // Stops the camera; harmless when it does not run.
  void stopPreview();

  std::optional<double> startedAt() const;
  std::optional<double> firstSampleHostTime() const;
  std::optional<double> startNotificationHostTime() const;
  // True when the microphone feeds the recording.
  bool recordsMicrophone() const;
  // The camera or its microphone went away part way (the file keeps what came before).
  std::vector<InputLoss> losses() const;
  // "camera.mov" could not be written to the end; it keeps its complete fragments.
  std::optional<TrackWriteFailure> writeFailure() const;

  // How long start() waits for the first frame.
  void setStartTimeout(double seconds) { startTimeout_ = seconds; }
  static constexpr double kStartTimeout = 8.0;
  static constexpr int kWidth = 1280;
  static constexpr int kHeight = 720;
  // Frame buffers kept for reuse: the writer's queue, the preview's and the one being filled.
  static constexpr size_t kBuffers = 12;

 private:
  void onCameraFrame(const platform::CameraFrame& frame);
  void onCameraError(const platform::CameraError& error);
  void stopMicrophone();
  std::shared_ptr<std::vector<uint8_t>> freeBuffer(size_t bytes);

  CameraFactory cameraFactory_;
  MicrophoneFactory microphoneFactory_;
  double startTimeout_ = kStartTimeout;

  std::unique_ptr<platform::CameraSource> camera_;  // made once, on first use
  std::unique_ptr<platform::AudioSource> microphone_;
  std::unique_ptr<MicrophoneTrack> track_;
  std::unique_ptr<MovieWriter> writer_;
  std::string path_;
  // Camera thread only: a new buffer for every frame would leave the allocator holding
  // hundreds of megabytes after a recording.
  std::vector<std::shared_ptr<std::vector<uint8_t>>> buffers_;

  // Everything below is shared with the camera thread.
  mutable std::mutex mutex_;
  std::condition_variable started_;
  FrameHandler onFrame_;
  bool armed_ = false;
  bool recording_ = false;
  std::optional<std::string> startError_;  // ends a pending start with this message
  std::optional<double> startedAt_;
  std::optional<double> firstSampleHostTime_;
  std::optional<double> startNotificationHostTime_;
  double lastVideoTime_ = -1;
  std::optional<double> lastFrameAt_;  // host clock of the newest frame handed to the file
  std::vector<InputLoss> losses_;
  std::string writeFailure_;
  bool finishPending_ = false;  // a recording ended and its file is not completed yet
};

}  // namespace vantry
