// The user's choices for one export and everything derived from them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/ffmpeg/movie_writer.h"

namespace vantry {

struct ExportOptions {
  enum class Format { mp4, mov };
  enum class Encoding { h264, hevc };
  enum class Resolution { p720 = 720, p1080 = 1080, p1440 = 1440, p2160 = 2160 };
  enum class FrameRate { fps30 = 30, fps60 = 60 };
  enum class Quality { compact, balanced, high };

  static constexpr std::array<Format, 2> allFormats{Format::mp4, Format::mov};
  static constexpr std::array<Encoding, 2> allEncodings{Encoding::h264, Encoding::hevc};
  static constexpr std::array<Resolution, 4> allResolutions{Resolution::p720, Resolution::p1080,
                                                            Resolution::p1440, Resolution::p2160};
  static constexpr std::array<FrameRate, 2> allFrameRates{FrameRate::fps30, FrameRate::fps60};
  static constexpr std::array<Quality, 3> allQualities{Quality::compact, Quality::balanced,
                                                       Quality::high};

  Format format = Format::mp4;
  Encoding encoding = Encoding::h264;
  Resolution resolution = Resolution::p1080;
  FrameRate framesPerSecond = FrameRate::fps60;
  Quality quality = Quality::balanced;
  std::optional<int64_t> legacyBitRate;

  // mp4, h264, 1080p, 60 fps, balanced at a fixed 10 Mbit/s.
  static const ExportOptions legacy;

  bool operator==(const ExportOptions&) const = default;

  int height() const { return static_cast<int>(resolution); }
  int width() const { return height() * 16 / 9; }
  int frameRate() const { return static_cast<int>(framesPerSecond); }
  std::string fileExtension() const { return format == Format::mp4 ? "mp4" : "mov"; }
  // Muxer name for libavformat.
  std::string fileType() const { return format == Format::mp4 ? "mp4" : "mov"; }
  // Codec family name ("h264" / "hevc"); the encoder is picked by the movie writer.
  std::string codec() const { return encoding == Encoding::h264 ? "h264" : "hevc"; }
  int keyFrameInterval() const { return 2 * frameRate(); }
  int64_t bitRate() const;
  int64_t estimatedBytes(double duration) const;
  // "1920 × 1080 · 60 fps · MP4 · H.264"; never translated.
  std::string summary() const;
  // Encoders tried in order: hardware first when its device exists (NVENC, VAAPI), then
  // libx264 / libx265. VANTRY_EXPORT_ENCODER forces one encoder by name.
  std::vector<std::string> encoders() const;
  // The complete video settings of the movie writer: size, rate, bit rate, key frame every
  // two seconds, frame reordering, H.264 High profile (HEVC carries no profile and is
  // tagged "hvc1"), BT.709 primaries and matrix with the sRGB transfer.
  VideoTrackSettings writerSettings() const;
};

// Raw values: the Chinese ones are catalogue keys (shown through L by the sheet).
std::string rawValue(ExportOptions::Format f);
std::string rawValue(ExportOptions::Encoding e);
int rawValue(ExportOptions::Resolution r);
int rawValue(ExportOptions::FrameRate r);
std::string rawValue(ExportOptions::Quality q);
std::string shortName(ExportOptions::Encoding e);
std::string label(ExportOptions::Resolution r);
int64_t baseRate(ExportOptions::Quality q);

std::optional<ExportOptions::Format> formatFromRaw(const std::string& raw);
std::optional<ExportOptions::Encoding> encodingFromRaw(const std::string& raw);
std::optional<ExportOptions::Resolution> resolutionFromRaw(int raw);
std::optional<ExportOptions::FrameRate> frameRateFromRaw(int raw);
std::optional<ExportOptions::Quality> qualityFromRaw(const std::string& raw);

}  // namespace vantry
