#pragma once

#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace vantry::test {

// A real full disk for a test's recordings: a tmpfs of `bytes` mounted at `dir` where the
// test may mount (CI runs as root), else a limit on the size of every file written (writes
// past it fail with EFBIG, SIGXFSZ ignored): for this process with limitHere(), or for a
// child with applyLimit() between fork and exec, or for a shell command with shellPrefix().
class SmallDisk {
 public:
  SmallDisk(const std::filesystem::path& dir, std::size_t bytes) : dir_(dir), bytes_(bytes) {
    std::filesystem::create_directories(dir);
    const std::string size = "size=" + std::to_string(bytes);
    // VANTRY_TEST_NO_MOUNT=1 tries the file-size limit where mounting would work.
    mounted_ = !std::getenv("VANTRY_TEST_NO_MOUNT") &&
               ::mount("tmpfs", dir.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, size.c_str()) == 0;
  }
  ~SmallDisk() {
    if (limited_) {
      ::setrlimit(RLIMIT_FSIZE, &saved_);
      ::signal(SIGXFSZ, savedSignal_);
    }
    if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  bool mounted() const { return mounted_; }
  // Takes all but a few bytes of a mounted disk with a file named "filler".
  void fill() const {
    if (!mounted_) return;
    std::ofstream filler(dir_ / "filler", std::ios::binary);
    const std::string block(4096, 'x');
    while (filler.write(block.data(), block.size()))
      filler.flush();
  }
  // The reason the recording's messages give for the disk being full.
  std::string reason() const { return mounted_ ? "The disk is full." : "The file is too large."; }
  // Without a mount: limits this process's files from now until this goes away.
  void limitHere() {
    if (mounted_ || limited_) return;
    savedSignal_ = ::signal(SIGXFSZ, SIG_IGN);
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    applyLimit();
    limited_ = true;
  }
  // Without a mount: what a shell command line starts with to be limited alike (dash counts
  // in blocks of 512 bytes).
  std::string shellPrefix() const {
    if (mounted_) return {};
    return "trap '' XFSZ; ulimit -f " + std::to_string(bytes_ / 512) + "; ";
  }
  // Without a mount: limits the calling process (a child before exec; both stay after exec).
  void applyLimit() const {
    if (mounted_) return;
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = bytes_;
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }

 private:
  std::filesystem::path dir_;
  std::size_t bytes_;
  bool mounted_ = false;
  bool limited_ = false;
  rlimit saved_{};
  sighandler_t savedSignal_ = SIG_DFL;
};

}  // namespace vantry::test
