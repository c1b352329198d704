// Puts sound beside an already encoded movie: the video packets are copied unchanged and
// an AAC track is encoded from pieces of a sound source placed on the movie's timeline.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/ffmpeg/audio_source.h"

namespace vantry {

struct PlacedSound {
  double read = 0;    // seconds into the sound source
  double length = 0;  // seconds
  double at = 0;      // seconds on the movie's timeline
};

enum class RemuxResult { ok, noVideo, soundFailed, failed, cancelled };

// `container` is the libavformat muxer name ("mp4", "mov"). On `failed` (the movie) and
// `soundFailed` (reading the sound), `error` holds the library's text.
RemuxResult remuxWithSound(const std::string& videoPath, const std::string& outputPath,
                           const std::string& container, AudioSource& sound,
                           const std::vector<PlacedSound>& pieces,
                           const std::function<bool()>& cancelled, std::string* error);

}  // namespace vantry
