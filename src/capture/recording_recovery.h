// Rebuilding recordings whose process died while recording (killed, crashed, power lost).
// Such a folder holds "screen.mp4" and "pointer-samples.partial" but no "project.json", and
// no recording holds its lock (recording_lock.h): one still being made looks the same, and
// is left alone. Its document is rebuilt from what is really on disk: the duration is the
// end of the movie's last whole frame, the pointer track is the journal's intact records up
// to that time, and the camera and voice files with the offsets known at the start (the
// journal's header) are added when they open as movies. The journal is removed once
// "project.json" is durable; the movies are cut back to their last whole fragment and every
// other file stays as it is, but for the space held for the document, which is given back.
//
// The app calls recoverRecordings() once at start-up, off the main thread, and shows
// recoveryNotice() when it is not empty.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "model/clip.h"

namespace vantry {

struct RecoveredRecording {
  std::string folder;
  Clip clip;  // as written to "project.json"
};

struct RecoveryReport {
  std::vector<RecoveredRecording> recovered;
  // Folder and translated reason. A folder whose movie holds no picture at all had nothing
  // to recover: its journal is removed so that it is not reported again.
  std::vector<std::pair<std::string, std::string>> failed;
  bool empty() const { return recovered.empty() && failed.empty(); }
};

// True when `folder` holds a movie and a pointer journal but no "project.json" (as the
// folder of a recording still being made does too).
bool needsRecovery(const std::string& folder);

// Rebuilds and writes the document of one interrupted recording folder and returns it,
// holding the folder's lock while it works. Nothing when there is nothing to do: a
// recording or another recovery holds the folder, or it does not need recovery. Throws
// StudioError with a translated message naming the file that failed.
std::optional<Clip> recoverRecording(const std::string& folder);

// Every folder directly under `recordingsFolder` that needs recovery, oldest first; links
// and folders held by a recording are passed over without a word. A missing recordings
// folder gives an empty report. Never throws.
RecoveryReport recoverRecordings(const std::string& recordingsFolder);

// One translated notice for the whole report; empty when there is nothing to say.
std::string recoveryNotice(const RecoveryReport& report);

}  // namespace vantry
