// The camera and the microphone as parts of a screen recording: each one joins the
// recorder's start order, its undo and its stop, and adds its file, offset and timings to
// the finished recording.
#pragma once

#include <atomic>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/camera_recorder.h"
#include "capture/display_recorder.h"
#include "capture/microphone_recorder.h"

namespace vantry {

// The camera into "camera.mov", with the microphone's track when `microphone` is set.
class CameraCompanion : public RecordingCompanion {
 public:
  // `camera`: a recorder whose preview already runs (reused), or empty for a new one.
  CameraCompanion(std::shared_ptr<CameraRecorder> camera, bool microphone);

  void prepare(const std::string& folder) override;
  void abandon() override;
  // Stops the camera and the sound at once; finish() completes "camera.mov".
  std::optional<std::string> stop(std::optional<double> startClock) override;
  std::optional<std::string> finish() override;
  void complete(Clip& clip, double startClock, CaptureTimings& timings) override;
  void describe(JournalHeader& header, double startClock) const override;

  const std::shared_ptr<CameraRecorder>& recorder() const { return camera_; }
  bool sharesAudio() const { return microphone_; }

 private:
  std::shared_ptr<CameraRecorder> camera_;
  bool microphone_;
  std::string path_;
  bool finished_ = false;
  std::optional<double> startClock_;
};

// The microphone alone into "voice.m4a".
class VoiceCompanion : public RecordingCompanion {
 public:
  explicit VoiceCompanion(MicrophoneRecorder::SourceFactory factory = {});

  void prepare(const std::string& folder) override;
  // Reads the host clock, then starts keeping sound: that instant is the file's start.
  void begin() override;
  void abandon() override;
  void tick(double now, CaptureTimings& timings) override;
  // Stops the sound at once; finish() completes "voice.m4a".
  std::optional<std::string> stop(std::optional<double> startClock) override;
  std::optional<std::string> finish() override;
  void complete(Clip& clip, double startClock, CaptureTimings& timings) override;
  void describe(JournalHeader& header, double startClock) const override;

  std::optional<double> audioStartedAt() const;

 private:
  MicrophoneRecorder microphone_;
  std::optional<double> startClock_;
  // Written by begin(), read by the ticks on the writer queue; NaN until begun.
  std::atomic<double> audioStartedAt_{std::numeric_limits<double>::quiet_NaN()};
};

// What DisplayRecorder::start takes for the camera and microphone switches. A
// `preparedCamera` is used only when `camera` is set; otherwise it is left alone.
std::vector<std::shared_ptr<RecordingCompanion>> makeRecordingCompanions(
    bool camera, bool microphone, std::shared_ptr<CameraRecorder> preparedCamera = {});

// True when `path` opens as a movie with at least one picture. A fragmented movie whose tail
// was cut (a full disk, a crash) is first cut back to its last complete fragment.
bool cameraMovieReadable(const std::string& path);

}  // namespace vantry
