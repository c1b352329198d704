// Helpers of the recorder tests: a private folder, and what a recorded movie holds.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>

#include "platform/ffmpeg/ff_util.h"

namespace vantry::test {

struct RecorderTempDir {
  std::filesystem::path path;
  RecorderTempDir() {
    std::string t = (std::filesystem::temp_directory_path() / "vantry-rec-XXXXXX").string();
    path = mkdtemp(t.data());
  }
  ~RecorderTempDir() {
    if (!getenv("VANTRY_KEEP_TEST_FILES")) std::filesystem::remove_all(path);
  }
};

// A private Xvfb server of the given size, stopped when this goes away. `display` is empty
// when it could not start.
struct PrivateXvfbServer {
  pid_t pid = -1;
  std::string display;  // ":N"
  PrivateXvfbServer(int width, int height) {
    int fds[2];
    if (pipe(fds) != 0) return;
    pid = fork();
    if (pid == 0) {
      close(fds[0]);
      const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
      const std::string fd = std::to_string(fds[1]);
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "+extension",
             "RANDR", "+extension", "Composite", "-nolisten", "tcp", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    std::string number;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n')
      number += c;
    close(fds[0]);
    if (!number.empty()) display = ":" + number;
  }
  ~PrivateXvfbServer() {
    if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
  }
  PrivateXvfbServer(const PrivateXvfbServer&) = delete;
  PrivateXvfbServer& operator=(const PrivateXvfbServer&) = delete;
};

struct MovieFacts {
  bool opened = false;
  std::string error;
  int width = 0;
  int height = 0;
  AVCodecID codec = AV_CODEC_ID_NONE;
  AVColorPrimaries primaries{};
  AVColorTransferCharacteristic transfer{};
  AVColorSpace matrix{};
  int packets = 0;
  double end = 0;  // end of the last video packet, seconds
  double firstPts = -1;
  double longestGap = 0;  // between consecutive frames (before the last), seconds
};

inline MovieFacts readMovie(const std::filesystem::path& file) {
  MovieFacts f;
  ff::InputFormatPtr in = ff::openInput(file.string(), &f.error);
  if (!in) return f;
  f.opened = true;
  int vi = av_find_best_stream(in.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (vi < 0) return f;
  const AVCodecParameters* p = in->streams[vi]->codecpar;
  f.width = p->width;
  f.height = p->height;
  f.codec = p->codec_id;
  f.primaries = p->color_primaries;
  f.transfer = p->color_trc;
  f.matrix = p->color_space;
  const AVRational tb = in->streams[vi]->time_base;
  ff::PacketPtr pkt = ff::makePacket();
  double previous = -1;
  while (av_read_frame(in.get(), pkt.get()) >= 0) {
    if (pkt->stream_index == vi) {
      ++f.packets;
      const double pts = ff::toSeconds(pkt->pts, tb);
      if (f.firstPts < 0) f.firstPts = pts;
      if (previous >= 0) f.longestGap = std::max(f.longestGap, pts - previous);
      previous = pts;
      f.end = std::max(f.end, ff::toSeconds(pkt->pts + pkt->duration, tb));
    }
    av_packet_unref(pkt.get());
  }
  return f;
}

inline std::string readText(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

}  // namespace vantry::test
