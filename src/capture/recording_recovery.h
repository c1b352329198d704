// Rebuilding recordings whose process died while recording (killed, crashed, power lost).
// Such a folder holds "screen.mp4" and "pointer-samples.partial" but no "project.json", and
// no recording holds its lock (recording_lock.h): one still being made looks the same, and
// is left alone. Its document is rebuilt from what is really on disk: the duration is the
// end of the movie's last whole frame, the pointer track is the journal's intact records up
// to that time, and the camera and voice files with the offsets known at the start (the
// journal's header) are added when they open as movies. No box of the movie alone decides
// the length: it is never longer than the folder says the recording lasted (its pointer
// track, and its files' times since its start); frames claiming to lie beyond are passed
// over. Every file is read through the locked folder's descriptor, never through a link.
//
// Only a document that opens is written. Then the space held for it is given back, and the
// journal is removed once "project.json" is durable; the movies are cut back to their last
// whole fragment and every other file stays as it is. A recovery that fails writes no
// document and removes nothing: journal and reserve stay for a later try.
//
// The app calls recoverRecordings() once at start-up, off the main thread, and shows
// recoveryNotice() when it is not empty.
#pragma once

#include <optional>
#include <stop_token>
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
  // Folder and translated reason.
  std::vector<std::pair<std::string, std::string>> failed;
  bool empty() const { return recovered.empty() && failed.empty(); }
};

// True when `folder` holds a movie and a pointer journal but no "project.json" (as the
// folder of a recording still being made does too).
bool needsRecovery(const std::string& folder);

// Rebuilds and writes the document of one interrupted recording folder and returns it,
// holding the folder's lock while it works. Nothing when there is nothing to do: a
// recording or another recovery holds the folder (or, without locks, may), or it does not
// need recovery. Throws StudioError with a translated message naming the file or folder that
// failed; a folder that is a symbolic link is refused.
std::optional<Clip> recoverRecording(const std::string& folder);

// Every folder directly under `recordingsFolder` that needs recovery, oldest first; links
// and folders held by a recording are passed over without a word. A missing recordings
// folder gives an empty report. Once `stop` is requested no further folder is begun: the
// rest wait for the next time. Never throws.
RecoveryReport recoverRecordings(const std::string& recordingsFolder, std::stop_token stop = {});

// One translated notice for the whole report; empty when there is nothing to say.
std::string recoveryNotice(const RecoveryReport& report);

}  // namespace vantry
