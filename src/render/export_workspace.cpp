#include "render/export_workspace.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <optional>
#include <sstream>

#include "localization/localization.h"
#include "model/uuid.h"
#include "render/render_error.h"

namespace vantry {

namespace fs = std::filesystem;

namespace {

constexpr const char* kPrefix = "pexilar-export-";
constexpr const char* kOwnerFile = "owner";
constexpr const char* kHiddenPrefix = ".pexilar-";

// The kernel's start time of a process (clock ticks since boot): with the process id it
// names one process, even after the id has been used again.
std::optional<unsigned long long> startTime(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto close = text.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  // Field 3 (state) is the first after the name; the start time is field 22.
  for (int i = 3; i < 22 && fields >> field; ++i) {
  }
  unsigned long long start = 0;
  if (!(fields >> start)) return std::nullopt;
  return start;
}

bool ownerAlive(pid_t pid, unsigned long long start) {
  if (pid <= 0) return false;
  if (::kill(pid, 0) != 0 && errno == ESRCH) return false;
  const auto now = startTime(pid);
  return !now || *now == start;  // unreadable /proc: assume it is still ours
}

}  // namespace

ExportWorkspace::ExportWorkspace(const fs::path& root) {
  sweepStale(root);
  path_ = root / (kPrefix + Uuid::random().toString());
  if (::mkdir(path_.c_str(), 0700) != 0) {
    const int err = errno;
    path_.clear();
    throwWriteFailure(L("无法在 {0} 中创建导出的工作文件夹。", shownPath(root.string())), err,
                      ExportPlace::workingFolder);
  }
  std::ofstream(path_ / kOwnerFile)
      << ::getpid() << ' ' << startTime(::getpid()).value_or(0) << '\n';
}

ExportWorkspace::~ExportWorkspace() {
  for (int fd : descriptors_)
    ::close(fd);
  std::error_code ec;
  if (!path_.empty()) fs::remove_all(path_, ec);
}

fs::path ExportWorkspace::file(const std::string& name) {
  const int fd = ::open(path_.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) return path_ / name;
  descriptors_.push_back(fd);
  return fs::path("/proc/self/fd") / std::to_string(fd);
}

void ExportWorkspace::note(const fs::path& file) {
  std::ofstream(path_ / kOwnerFile, std::ios::app) << file.string() << '\n';
}

void ExportWorkspace::sweepStale(const fs::path& root) {
  std::error_code ec;
  fs::directory_iterator it(root, fs::directory_options::skip_permission_denied, ec);
  if (ec) return;
  for (const fs::directory_entry& entry : it) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(kPrefix, 0) != 0) continue;
    struct stat st {};
    if (::lstat(entry.path().c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
      continue;
    std::ifstream owner(entry.path() / kOwnerFile);
    long long pid = 0;
    unsigned long long start = 0;
    if (owner >> pid >> start) {
      if (ownerAlive(static_cast<pid_t>(pid), start)) continue;
    } else {
      // No owner yet: a folder being set up this very moment, unless it is old.
      const auto age =
          std::chrono::system_clock::now() - std::chrono::system_clock::from_time_t(st.st_mtime);
      if (age < std::chrono::minutes(1)) continue;
    }
    std::string line;
    std::getline(owner, line);
    while (std::getline(owner, line)) {
      const fs::path noted(line);
      if (noted.is_absolute() && noted.filename().string().rfind(kHiddenPrefix, 0) == 0)
        fs::remove(noted, ec);
    }
    fs::remove_all(entry.path(), ec);
  }
}

}  // namespace vantry
