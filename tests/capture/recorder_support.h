// Helpers of the recorder tests: a private folder and X server, and what a recorded movie
// holds.
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

#include "../support/small_disk.h"
#include "../support/temp_dir.h"
#include "../support/xvfb.h"
#include "platform/ffmpeg/ff_util.h"

namespace vantry::test {

struct RecorderTempDir : TempDir {
  RecorderTempDir() : TempDir("vantry-rec") {}
};

// A private Xvfb server of the given size, stopped when this goes away. `display` is empty
// when it could not start.
struct PrivateXvfbServer {
  XvfbProcess process;
  pid_t pid = -1;
  std::string display;  // ":N"
  PrivateXvfbServer(int width, int height)
      : process(width, height), pid(process.pid()), display(process.display()) {}
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
