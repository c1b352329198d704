#include "render/sound_placement.h"

#include <algorithm>

namespace vantry {

std::vector<SoundPiece> soundPieces(const Clip& clip, double soundDuration) {
  std::vector<SoundPiece> pieces;
  const double offset = clip.audioOffset.value_or(0);
  for (const PlacedRange& p : clip.placedRanges()) {
    const double s = offset + p.range.start;
    const double skip = std::max(-s, 0.0);
    const double read = std::max(s, 0.0);
    const double length = std::min(p.range.duration() - skip, soundDuration - read);
    if (length > 0) pieces.push_back({read, length, p.start + skip});
  }
  return pieces;
}

}  // namespace vantry
