// The one way a movie or sound is opened: local files only, refused at once otherwise, and
// the library's log kept to ours.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include "localization/localization.h"
#include "localization/user_message.h"
#include "platform/ffmpeg/ff_util.h"
#include "support/file_bytes.h"
#include "support/fragmented_movie.h"
#include "support/temp_dir.h"

namespace vantry {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

using test::writeFile;

// A local server that must never be contacted.
class Listener {
 public:
  Listener() {
    sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t size = sizeof a;
    EXPECT_TRUE(fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&a), size) == 0 &&
                ::listen(fd_, 4) == 0 &&
                ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &size) == 0);
    port_ = ntohs(a.sin_port);
  }
  ~Listener() { ::close(fd_); }
  std::string url(const std::string& file) const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/" + file + "?leak=opened";
  }
  bool contacted() const {
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, 100) > 0;
  }

 private:
  int fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int port_ = 0;
};

// Why opening `path` failed; fails the test when it opened, or took its time.
std::string refusal(const std::string& path) {
  const auto start = Clock::now();
  std::string reason;
  EXPECT_FALSE(ff::openInput(path, &reason)) << path;
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(2)) << path;
  return reason;
}

TEST(MediaOpening, OnlyAbsolutePathsOfLocalFilesAreOpened) {
  test::TempDir dir("vantry-open");
  Listener server;
  const fs::path fifo = dir.path / "screen.mp4";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  fs::create_directory(dir.path / "folder.mp4");
  fs::create_symlink(dir.path / "b.mp4", dir.path / "a.mp4");
  fs::create_symlink(dir.path / "a.mp4", dir.path / "b.mp4");

  const std::string local = L("它不是本机文件的路径。");
  for (const std::string& path :
       {server.url("screen.mp4"), std::string("pipe:3"), "file:" + fifo.string(),
        std::string("file:/dev/zero"), std::string("screen.mp4"), fifo.string().substr(1),
        std::string("/tmp/a\0b", 8)})
    EXPECT_EQ(refusal(path), local) << path;
  EXPECT_FALSE(server.contacted());

  // Local, but nothing a movie is read from: said in words, never the system's text alone.
  EXPECT_EQ(refusal(fifo.string()), L("它不是普通文件，而是管道或设备。"));
  EXPECT_EQ(refusal("/dev/zero"), L("它不是普通文件，而是管道或设备。"));
  EXPECT_EQ(refusal((dir.path / "folder.mp4").string()), systemReason(EISDIR));
  EXPECT_EQ(refusal((dir.path / "a.mp4").string()), systemReason(ELOOP));
  EXPECT_EQ(refusal((dir.path / "gone.mp4").string()), systemReason(ENOENT));
  writeFile(dir.path / "empty.mp4", "");
  EXPECT_EQ(refusal((dir.path / "empty.mp4").string()).rfind(L("它已损坏或不完整。") + "\n", 0),
            0u);
}

// A link flipped between a movie and a pipe while it is opened: what was checked is what is
// read, so each open reads the movie or refuses the pipe, and none waits on the pipe.
TEST(MediaOpening, APipeSwappedInWhileOpeningIsNeverWaitedOn) {
  test::TempDir dir("vantry-open");
  const fs::path movie = dir.path / "movie.mp4", pipe = dir.path / "pipe",
                 link = dir.path / "a.mp4";
  test::writeFragmentedMovie(movie);
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  fs::create_symlink(movie, link);
  std::jthread flipper([&](std::stop_token stop) {
    const fs::path next = dir.path / "next";
    for (int i = 1; !stop.stop_requested(); ++i) {
      std::error_code ec;
      fs::remove(next, ec);
      fs::create_symlink(i % 2 ? pipe : movie, next, ec);
      fs::rename(next, link, ec);  // at once: the link always names one or the other
    }
  });

  const std::string notAFile = L("它不是普通文件，而是管道或设备。");
  auto rounds = std::async(std::launch::async, [&] {
    int opened = 0, refused = 0;
    for (int i = 0; i < 40; ++i) {
      std::string reason;
      bool pipeNamed = false;
      if (ff::openInput(link.string(), &reason, &pipeNamed)) {
        ++opened;
      } else {
        EXPECT_EQ(reason, notAFile);
        EXPECT_TRUE(pipeNamed);
        ++refused;
      }
    }
    return opened + refused;
  });
  // Should an open wait on the pipe after all, writers come to end the wait, and the test
  // fails rather than hangs.
  if (rounds.wait_for(std::chrono::seconds(120)) != std::future_status::ready) {
    ADD_FAILURE() << "an open waited on the pipe";
    while (rounds.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
      const int writer = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (writer >= 0) ::close(writer);
    }
  }
  EXPECT_EQ(rounds.get(), 40);
}

// Playlists and lists of files would have the library open what they name.
TEST(MediaOpening, FilesNamingOtherFilesOrAddressesAreNotFollowed) {
  test::TempDir dir("vantry-open");
  Listener server;
  writeFile(dir.path / "list.m3u8", "#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:10,\n" +
                                        server.url("seg.ts") + "\n#EXT-X-ENDLIST\n");
  const fs::path part = dir.path / "part.mp4";
  ASSERT_EQ(::mkfifo(part.c_str(), 0600), 0);
  writeFile(dir.path / "list.mp4", "ffconcat version 1.0\nfile part.mp4\n");
  // Should the pipe be opened after all, a writer comes to end the wait.
  std::jthread rescue([&](std::stop_token stop) {
    for (int i = 0; i < 50 && !stop.stop_requested(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (!stop.stop_requested()) std::ofstream(part) << "x";
  });

  const std::string damaged = L("它已损坏或不完整。") + "\n";
  EXPECT_EQ(refusal((dir.path / "list.m3u8").string()).rfind(damaged, 0), 0u);
  EXPECT_EQ(refusal((dir.path / "list.mp4").string()).rfind(damaged, 0), 0u);
  EXPECT_FALSE(server.contacted());
  rescue.request_stop();
}

TEST(MediaOpening, TheLibrarysLogIsMarkedAsOursAndKeptQuiet) {
  test::TempDir dir("vantry-open");
  // A movie's first box and nothing else.
  const fs::path cut = dir.path / "cut.mp4";
  writeFile(cut, std::string("\0\0\0\x18"
                             "ftypisom\0\0\x02\0isomiso2",
                             24));
  ::testing::internal::CaptureStderr();
  std::string reason;
  EXPECT_FALSE(ff::openInput(cut.string(), &reason));
  av_log(nullptr, AV_LOG_INFO, "chatter nobody reads\n");
  av_log(nullptr, AV_LOG_ERROR, "in two ");
  av_log(nullptr, AV_LOG_ERROR, "parts\n");
  const std::string log = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find("vantry: ffmpeg (mov,mp4,m4a,3gp,3g2,mj2) moov atom not found\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("vantry: ffmpeg in two parts\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("chatter"), std::string::npos) << log;
  EXPECT_EQ(log.find(" @ 0x"), std::string::npos) << log;
  // The person reading the message gets words; the library's text only as its detail.
  EXPECT_EQ(reason.rfind(L("它已损坏或不完整。") + "\n", 0), 0u) << reason;
  EXPECT_EQ(reason.find("moov"), std::string::npos) << reason;
}

}  // namespace
}  // namespace vantry
