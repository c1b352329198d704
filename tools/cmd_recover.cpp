// vantry-tool recover DIR: rebuilds "project.json" of a recording whose process died while
// recording (DIR is that recording's folder), or of every such recording under DIR (a
// recordings folder). Prints each folder recovered; errors go to stderr. A recording still
// being made is left alone.
#include <filesystem>
#include <iostream>

#include "args.h"
#include "capture/recording_recovery.h"
#include "command.h"

namespace {

constexpr const char* kUsage = "recover DIR";

int run(const vantry::tool::Args& args) {
  if (args.size() != 1) return vantry::tool::usageError(kUsage);
  std::error_code ec;
  // Movies are opened by absolute paths only.
  const std::string dir = std::filesystem::absolute(args[0], ec).string();
  if (!std::filesystem::is_directory(dir, ec)) {
    std::cerr << dir << ": " << std::make_error_code(std::errc::not_a_directory).message() << "\n";
    return 1;
  }
  const bool oneRecording = std::filesystem::exists(std::filesystem::path(dir) / "screen.mp4", ec);
  if (oneRecording) {
    try {
      // A recording still being made there is none to recover.
      if (!vantry::recoverRecording(dir)) {
        std::cerr << dir << ": nothing to recover\n";
        return 1;
      }
      std::cout << dir << "\n";
      return 0;
    } catch (const std::exception& e) {
      std::cerr << e.what() << "\n";
      return 1;
    }
  }
  const vantry::RecoveryReport report = vantry::recoverRecordings(dir);
  for (const auto& r : report.recovered)
    std::cout << r.folder << "\n";
  for (const auto& [folder, error] : report.failed)
    std::cerr << folder << ": " << error << "\n";
  return report.failed.empty() ? 0 : 1;
}

const vantry::tool::Command kCommand{"recover", kUsage, run};

}  // namespace
