// The sentences a person reads about a recording that went wrong: which file or folder
// (home shown as "~"), why in words, what was kept and what to do; a library's own text
// only on a second line. Built where the failure is met, in the interface language then in
// force.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vantry {

enum class RecordingFile { screen, camera, voice };

// "Could not write the screen recording ~/…/screen.mp4. The disk is full." and `then`.
// `detail` is the library's text, shown only when the error number has no words.
std::string recordingWriteFailure(RecordingFile file, const std::string& path, int errnum,
                                  std::string_view detail, std::string_view then = {});

// The folder of a new recording could not be made inside `recordingsFolder`.
std::string recordingFolderFailure(const std::string& recordingsFolder, int errnum,
                                   std::string_view detail);

// "Kept 00:25 of the recording in ~/…/<id>." followed by `advice`, what to do. The length
// is rounded to the nearest second, or said to be less than a second.
std::string recordingKept(double seconds, const std::string& folder, std::string_view advice = {});

// "Kept 00:25 of the camera picture." (or of the sound), the length as above; none: the file
// holds nothing of it.
enum class KeptTrack { camera, sound };
std::string trackKept(KeptTrack track, std::optional<double> seconds);
// The same for a camera movie that carries the microphone's sound too: one sentence when both
// kept as much ("Kept 00:25 of the camera picture and the sound."), else one for each.
std::string cameraAndSoundKept(std::optional<double> picture, std::optional<double> sound);

// What to do after a write of the recording's files failed with `errnum`.
std::string writeAdvice(int errnum);

// The document of the recording in `folder` could not be written (for `errnum`): where the
// recording is kept and how it comes back.
std::string recoveryAdvice(int errnum, const std::string& folder);

// The recording's folder was removed while it recorded: nothing of it is left.
std::string recordingFolderRemoved(const std::string& folder);

// The camera or the microphone went away part way: what is gone, what of its track was
// kept, what to do.
enum class LostInput { cameraDevice, microphoneDevice, soundServer };
std::string lostInputMessage(LostInput what, double keptSeconds, std::string_view detail);

// A camera or microphone that went away while recording, as its recorder saw it.
struct InputLoss {
  LostInput what = LostInput::cameraDevice;
  double keptUntil = 0;  // host clock: the end of what its track holds
  std::string detail;    // the device's or the server's own words
};

// A file of the camera or the microphone that could no longer be written.
struct TrackWriteFailure {
  int errnum = 0;
  std::string detail;  // the library's own words
  // Host clock: the end of what the file holds (of the picture in a camera movie); none when
  // it holds nothing.
  std::optional<double> keptUntil;
  // A camera movie with the microphone: the end of its sound, none when it holds none.
  std::optional<double> soundKeptUntil;
};

}  // namespace vantry
