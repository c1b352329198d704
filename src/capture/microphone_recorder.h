// The microphone alone, recorded to "voice.m4a" (AAC, 48 kHz, mono) beside the screen
// recording. prepare() opens the sound stream and the file; record() names the host-clock
// instant that becomes the file's first sample.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "capture/microphone_track.h"
#include "capture/recording_messages.h"
#include "platform/audio_source.h"
#include "platform/ffmpeg/movie_writer.h"

namespace vantry {

// The user's message for a microphone that could not be opened. `withCamera`: the sound
// goes into the camera movie (the messages of the camera recorder), else into the voice
// file.
std::string microphoneErrorMessage(const platform::AudioError& error, bool withCamera);

class MicrophoneRecorder {
 public:
  using SourceFactory = std::function<std::unique_ptr<platform::AudioSource>()>;

  // An empty factory means the sound server's default input.
  explicit MicrophoneRecorder(SourceFactory factory = {});
  ~MicrophoneRecorder();
  MicrophoneRecorder(const MicrophoneRecorder&) = delete;
  MicrophoneRecorder& operator=(const MicrophoneRecorder&) = delete;

  // Opens the stream and creates the file; nothing is kept yet. Throws StudioError.
  void prepare(const std::string& path);
  // The samples captured from `hostTime` on make up the file. False when the stream has
  // already failed.
  bool record(double hostTime);
  // Stops the stream and finishes the file. Returns a translated warning when something
  // went wrong while recording (the file keeps what was written); never throws. Times in it
  // count from the file's start.
  std::optional<std::string> stop();
  // stop() in two steps: end() stops the sound at once (a screen recording reads its stop
  // instant after it); finish() completes the file. Each does nothing the second time; each
  // returns whether its part went well (loss() and writeFailure() say what went wrong).
  bool end();
  bool finish();
  // The stream ended by itself while recording.
  std::optional<InputLoss> loss() const;
  // The file could not be written to the end; it keeps its complete fragments.
  std::optional<TrackWriteFailure> writeFailure() const;

  // Seconds of sound written so far (the file's position); nullopt while no sound has come.
  std::optional<double> currentTime() const;
  // The host-clock instant of the file's first sample: the instant given to record().
  std::optional<double> startedAt() const;
  const std::string& path() const { return path_; }

 private:
  SourceFactory factory_;
  std::string path_;
  std::unique_ptr<platform::AudioSource> source_;
  std::unique_ptr<MovieWriter> writer_;
  std::unique_ptr<MicrophoneTrack> track_;
  mutable std::mutex mutex_;
  std::string failure_;            // first writing failure, the library's own text
  std::optional<InputLoss> lost_;  // the stream ended by itself
  bool ended_ = false;
  bool finished_ = false;
};

}  // namespace vantry
