#include "render/file_delivery.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <vector>

#include "render/render_error.h"

namespace vantry {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(int err) {
  throw std::system_error(err, std::generic_category());
}

}  // namespace

void copyToNewFile(const fs::path& from, const fs::path& to, std::optional<mode_t> mode,
                   const std::function<bool()>& cancelled) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) fail(errno);
  // Unnamed until complete where the file system allows: a kill mid-copy leaves nothing.
  const std::string folder = to.parent_path().empty() ? "." : to.parent_path().string();
  const bool existing = ::access(to.c_str(), F_OK) == 0;
  int out = existing ? -1 : ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
  const bool unnamed = out >= 0;
  if (!unnamed) out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (out < 0) {
    const int err = errno;
    ::close(in);
    fail(err);
  }
  int err = 0;
  bool stopped = false;
  // Set explicitly: a replaced file keeps its own mode, whatever the umask says; never a
  // set-id or sticky bit.
  if (mode && ::fchmod(out, *mode & 0777) != 0) err = errno;
  std::vector<char> buffer(1 << 20);
  while (!err) {
    if (cancelled && cancelled()) {
      stopped = true;
      break;
    }
    const ssize_t n = ::read(in, buffer.data(), buffer.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      err = errno;
      break;
    }
    if (n == 0) break;
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = ::write(out, buffer.data() + done, n - done);
      if (w < 0) {
        if (errno == EINTR) continue;
        err = errno;
        break;
      }
      done += w;
    }
  }
  if (!err && !stopped && ::fsync(out) != 0) err = errno;
  if (unnamed && !err && !stopped) {
    const std::string self = "/proc/self/fd/" + std::to_string(out);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, to.c_str(), AT_SYMLINK_FOLLOW) != 0) {
      const int linkError = errno;
      ::close(out);
      ::close(in);
      fail(linkError);  // nothing was named: nothing to remove
    }
  }
  if (::close(out) != 0 && !err) err = errno;
  ::close(in);
  if (err || stopped) {
    if (!unnamed) ::unlink(to.c_str());
    if (stopped) throw CancelledError();
    fail(err);
  }
}

}  // namespace vantry
