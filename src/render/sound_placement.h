// The one rule that lays the recorded sound on the output timeline, shared by export and
// the playback clock: each kept range contributes the stretch of the sound file that
// belongs to it, cut at both ends of the file.
#pragma once

#include <vector>

#include "model/clip.h"

namespace vantry {

struct SoundPiece {
  double read = 0;    // where reading starts in the sound file, seconds
  double length = 0;  // seconds, > 0
  double at = 0;      // output time where the piece goes
};

// `soundDuration` is the length of the sound file in seconds.
std::vector<SoundPiece> soundPieces(const Clip& clip, double soundDuration);

}  // namespace vantry
