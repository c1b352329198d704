// vantry-tool recover DIR: rebuilds "project.json" of a recording whose process died while
// recording (DIR is that recording's folder), or of every such recording under DIR (a
// recordings folder). Prints each folder recovered; errors go to stderr. A recording still
// being made is left alone. A DIR that is a symbolic link is followed: it is the one the
// person named.
#include <filesystem>
#include <iostream>

#include "args.h"
#include "capture/recording_recovery.h"
#include "command.h"
#include "localization/localization.h"
#include "localization/user_message.h"

namespace {

constexpr const char* kUsage = "recover DIR";

int run(const vantry::tool::Args& args) {
  namespace fs = std::filesystem;
  using vantry::L;
  using vantry::shownPath;
  if (args.size() != 1) return vantry::tool::usageError(kUsage);
  std::error_code ec;
  // Absolute, as movies are opened by absolute paths only; resolved once, here.
  const fs::path named = fs::absolute(args[0], ec);
  const fs::path found = fs::canonical(named, ec);
  if (ec) {
    std::cerr << vantry::systemFailure(L("无法打开录屏文件夹 {0}。", shownPath(named.string())),
                                       ec.value())
              << "\n";
    return 1;
  }
  const std::string dir = found.string();
  if (!fs::is_directory(found, ec)) {
    std::cerr << L("{0} 不是文件夹。请给出一段录屏的文件夹，或存放录屏的文件夹。",
                   shownPath(named.string()))
              << "\n";
    return 1;
  }
  const bool oneRecording = fs::exists(found / "screen.mp4", ec);
  if (oneRecording) {
    try {
      // A recording still being made there is none to recover.
      if (!vantry::recoverRecording(dir)) {
        std::cerr << L("{0} 中没有需要恢复的录屏：没有意外中断的录屏，或它仍在录制中。",
                       shownPath(dir))
                  << "\n";
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
