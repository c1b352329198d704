// The export options as the export and session commands take them:
// [--format mp4|mov] [--encoding h264|hevc] [--resolution 720|1080|1440|2160] [--fps 30|60]
// [--quality compact|balanced|high].
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "args.h"
#include "render/export_options.h"

namespace vantry::tool {

inline constexpr const char* kExportOptionsUsage =
    "[--format mp4|mov] [--encoding h264|hevc] [--resolution 720|1080|1440|2160] "
    "[--fps 30|60] [--quality compact|balanced|high]";

enum class OptionTaken { no, yes, bad };

// Reads the option at args[i] (and its value, moving i past it) into `options`.
inline OptionTaken takeExportOption(const std::vector<std::string>& args, size_t& i,
                                    ExportOptions& options) {
  const std::string& a = args[i];
  if (a != "--format" && a != "--encoding" && a != "--resolution" && a != "--fps" &&
      a != "--quality")
    return OptionTaken::no;
  if (i + 1 >= args.size()) return OptionTaken::bad;
  const std::string v = args[++i];
  if (a == "--format") {
    if (v != "mp4" && v != "mov") return OptionTaken::bad;
    options.format = v == "mp4" ? ExportOptions::Format::mp4 : ExportOptions::Format::mov;
  } else if (a == "--encoding") {
    if (v != "h264" && v != "hevc") return OptionTaken::bad;
    options.encoding = v == "h264" ? ExportOptions::Encoding::h264 : ExportOptions::Encoding::hevc;
  } else if (a == "--resolution") {
    const auto n = parseWhole(v, 100000);
    const auto r = n ? resolutionFromRaw(static_cast<int>(*n)) : std::nullopt;
    if (!r) return OptionTaken::bad;
    options.resolution = *r;
  } else if (a == "--fps") {
    const auto n = parseWhole(v, 1000);
    const auto r = n ? frameRateFromRaw(static_cast<int>(*n)) : std::nullopt;
    if (!r) return OptionTaken::bad;
    options.framesPerSecond = *r;
  } else {
    if (v == "compact")
      options.quality = ExportOptions::Quality::compact;
    else if (v == "balanced")
      options.quality = ExportOptions::Quality::balanced;
    else if (v == "high")
      options.quality = ExportOptions::Quality::high;
    else
      return OptionTaken::bad;
  }
  return OptionTaken::yes;
}

}  // namespace vantry::tool
