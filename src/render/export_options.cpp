#include "render/export_options.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <thread>

namespace vantry {

const ExportOptions ExportOptions::legacy = [] {
  ExportOptions o;
  o.legacyBitRate = 10'000'000;
  return o;
}();

int64_t ExportOptions::bitRate() const {
  if (legacyBitRate) return *legacyBitRate;
  const double pixels = static_cast<double>(int64_t{width()} * height());
  double rate = static_cast<double>(baseRate(quality)) * std::pow(pixels / 2'073'600.0, 0.8);
  rate *= framesPerSecond == FrameRate::fps60 ? 1.5 : 1.0;
  rate *= encoding == Encoding::hevc ? 0.65 : 1.0;
  return static_cast<int64_t>(rate);
}

int64_t ExportOptions::estimatedBytes(double duration) const {
  if (!std::isfinite(duration) || !(duration > 0)) return 0;
  const double bytes = duration * static_cast<double>(bitRate() + 192'000) * 0.125 * 1.02;
  if (!(bytes < 9223372036854775808.0)) return std::numeric_limits<int64_t>::max();
  return static_cast<int64_t>(bytes);
}

std::string ExportOptions::summary() const {
  return std::to_string(width()) + " \u00D7 " + std::to_string(height()) + " \u00B7 " +
         std::to_string(frameRate()) + " fps \u00B7 " + rawValue(format) + " \u00B7 " +
         shortName(encoding);
}

std::vector<std::string> ExportOptions::encoders() const {
  if (const char* forced = std::getenv("VANTRY_EXPORT_ENCODER"); forced && *forced) return {forced};
  std::error_code ec;
  const bool nvidia = std::filesystem::exists("/dev/nvidiactl", ec);
  const bool vaapi = std::filesystem::exists("/dev/dri/renderD128", ec);
  const std::string family = codec();
  std::vector<std::string> list;
  if (nvidia) list.push_back(family + "_nvenc");
  if (vaapi) list.push_back(family + "_vaapi");
  list.push_back(encoding == Encoding::h264 ? "libx264" : "libx265");
  return list;
}

namespace {

// libx264's own choice (1.5 per core) up to 16: each frame thread holds frames of its own
// (about 75 MB at 2160p), so on a many-core machine memory would grow with the cores for
// little speed.
std::string encoderThreads() {
  const unsigned cores = std::thread::hardware_concurrency();
  if (cores == 0) return "auto";
  return std::to_string(std::clamp(cores * 3 / 2, 1u, 16u));
}

}  // namespace

VideoTrackSettings ExportOptions::writerSettings() const {
  VideoTrackSettings v;
  v.encoders = encoders();
  v.width = width();
  v.height = height();
  v.timeBase = AVRational{1, 60000};
  v.frameRate = frameRate();
  v.averageBitRate = bitRate();
  v.keyFrameInterval = keyFrameInterval();
  v.maxBFrames = 3;  // frame reordering allowed
  // "fast": export is what users wait for; the rate is fixed by the options anyway.
  v.encoderOptions = {{"preset", "fast"}, {"threads", encoderThreads()}};
  if (encoding == Encoding::h264) {
    v.encoderOptions["profile"] = "high";
    // At 2160p every frame libx264 looks ahead at holds about 25 MB; 20 instead of the
    // preset's 30 frees about 250 MB at no cost in speed or quality there (at 1080p it
    // would cost quality).
    if (height() >= 2160) v.encoderOptions["x264-params"] = "rc-lookahead=20";
  } else {
    v.codecTag = "hvc1";
    v.encoderOptions["x265-params"] = "log-level=error";
  }
  v.primaries = AVCOL_PRI_BT709;
  v.transfer = AVCOL_TRC_IEC61966_2_1;
  v.matrix = AVCOL_SPC_BT709;
  return v;
}

std::string rawValue(ExportOptions::Format f) {
  return f == ExportOptions::Format::mp4 ? "MP4" : "MOV";
}

std::string rawValue(ExportOptions::Encoding e) {
  return e == ExportOptions::Encoding::h264 ? "H.264 · 兼容性优先" : "HEVC · 文件更小";
}

int rawValue(ExportOptions::Resolution r) {
  return static_cast<int>(r);
}
int rawValue(ExportOptions::FrameRate r) {
  return static_cast<int>(r);
}

std::string rawValue(ExportOptions::Quality q) {
  switch (q) {
    case ExportOptions::Quality::compact:
      return "体积优先";
    case ExportOptions::Quality::balanced:
      return "均衡（推荐）";
    case ExportOptions::Quality::high:
      return "画质优先";
  }
  return {};
}

std::string shortName(ExportOptions::Encoding e) {
  return e == ExportOptions::Encoding::h264 ? "H.264" : "HEVC";
}

std::string label(ExportOptions::Resolution r) {
  if (r == ExportOptions::Resolution::p2160) return "4K · 2160p";
  return std::to_string(static_cast<int>(r)) + "p";
}

int64_t baseRate(ExportOptions::Quality q) {
  switch (q) {
    case ExportOptions::Quality::compact:
      return 2'500'000;
    case ExportOptions::Quality::balanced:
      return 4'000'000;
    case ExportOptions::Quality::high:
      return 8'000'000;
  }
  return 4'000'000;
}

template <typename E, size_t N, typename Raw>
static std::optional<E> fromRaw(const std::array<E, N>& all, const Raw& raw) {
  for (E e : all)
    if (rawValue(e) == raw) return e;
  return std::nullopt;
}

std::optional<ExportOptions::Format> formatFromRaw(const std::string& raw) {
  return fromRaw(ExportOptions::allFormats, raw);
}
std::optional<ExportOptions::Encoding> encodingFromRaw(const std::string& raw) {
  return fromRaw(ExportOptions::allEncodings, raw);
}
std::optional<ExportOptions::Resolution> resolutionFromRaw(int raw) {
  return fromRaw(ExportOptions::allResolutions, raw);
}
std::optional<ExportOptions::FrameRate> frameRateFromRaw(int raw) {
  return fromRaw(ExportOptions::allFrameRates, raw);
}
std::optional<ExportOptions::Quality> qualityFromRaw(const std::string& raw) {
  return fromRaw(ExportOptions::allQualities, raw);
}

}  // namespace vantry
