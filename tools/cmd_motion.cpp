// vantry-tool motion FILE|--demo [--frames A:B] [--at T...]: bakes the motion timeline
// with the document's saved settings (the defaults when it has none) and prints one
// FrameState per line as JSON: the frames A to B (inclusive) and the states at the
// given source times, in that order; every frame when neither is asked for.
#include <iostream>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "args.h"
#include "command.h"
#include "model/demo_project.h"
#include "model/document_json.h"
#include "model/motion_timeline.h"

namespace {

constexpr const char* kUsage = "motion FILE|--demo [--frames A:B] [--at T...]";

std::optional<std::size_t> parseIndex(std::string_view text) {
  return vantry::tool::parseWhole(text, std::numeric_limits<std::size_t>::max());
}

std::string line(const vantry::FrameState& s) {
  nlohmann::ordered_json j;
  j["zoom"] = s.zoom;
  j["center"] = {s.center.x, s.center.y};
  j["pointer"] = {s.pointer.x, s.pointer.y};
  j["pulse"] = s.pulse;
  j["presenterMix"] = s.presenterMix;
  return j.dump();
}

int usage() {
  return vantry::tool::usageError(kUsage);
}

int run(const vantry::tool::Args& args) {
  std::optional<std::string> file;
  bool demo = false;
  std::optional<std::pair<std::size_t, std::size_t>> frames;
  std::vector<double> times;
  bool sawAt = false;

  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--demo") {
      demo = true;
    } else if (a == "--frames") {
      if (i + 1 >= args.size()) return usage();
      const std::string& range = args[++i];
      const auto colon = range.find(':');
      if (colon == std::string::npos) return usage();
      const auto first = parseIndex(std::string_view(range).substr(0, colon));
      const auto last = parseIndex(std::string_view(range).substr(colon + 1));
      if (!first || !last || *first > *last) {
        std::cerr << "vantry-tool motion: --frames wants A:B with 0 <= A <= B\n";
        return 64;
      }
      frames = std::pair{*first, *last};
    } else if (a == "--at") {
      sawAt = true;
      while (i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0) {
        const auto t = vantry::tool::parseNumber(args[++i]);
        if (!t) {
          std::cerr << "vantry-tool motion: not a time: " << args[i] << "\n";
          return 64;
        }
        times.push_back(*t);
      }
      if (times.empty()) return usage();
    } else if (a.rfind("--", 0) == 0 || file) {
      return usage();
    } else {
      file = a;
    }
  }
  if (demo == file.has_value()) return usage();

  vantry::Clip clip;
  if (demo) {
    clip = vantry::makeDemoClip();
  } else {
    try {
      clip = vantry::decodeClipFile(*file);
    } catch (const vantry::DocumentError& e) {
      std::cerr << e.what() << "\n";
      return 1;
    }
  }
  const vantry::MotionTimeline timeline(clip, clip.savedSettings.value_or(vantry::EditSettings{}));
  const std::size_t count = timeline.frames.size();

  if (frames) {
    if (frames->first >= count) {
      std::cerr << "vantry-tool motion: the timeline has frames 0 to " << count - 1 << "\n";
      return 64;
    }
    const std::size_t last = std::min(frames->second, count - 1);
    for (std::size_t i = frames->first; i <= last; ++i)
      std::cout << line(timeline.frames[i]) << "\n";
  }
  for (double t : times)
    std::cout << line(timeline.state(t)) << "\n";
  if (!frames && !sawAt) {
    for (const auto& f : timeline.frames)
      std::cout << line(f) << "\n";
  }
  return 0;
}

const vantry::tool::Command kCommand{"motion", kUsage, run};

}  // namespace
