// A recording's movie as the writer leaves it while recording (fragmented, never finished),
// and the top-level boxes of a movie file, for cutting or damaging it where a full disk or
// a crash would.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/ffmpeg/movie_writer.h"

namespace vantry::test {

// Top-level boxes of a file: offset and type.
inline std::vector<std::pair<uint64_t, std::string>> movieBoxes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<std::pair<uint64_t, std::string>> list;
  uint64_t at = 0;
  unsigned char h[8];
  while (in.seekg(std::streamoff(at)) && in.read(reinterpret_cast<char*>(h), 8)) {
    const uint64_t size = uint64_t(h[0]) << 24 | h[1] << 16 | h[2] << 8 | h[3];
    list.emplace_back(at, std::string(reinterpret_cast<char*>(h) + 4, 4));
    if (size < 8) break;
    at += size;
  }
  return list;
}

// Where the last box of `type` starts; 0 when there is none.
inline uint64_t lastBox(const std::filesystem::path& file, const std::string& type) {
  uint64_t found = 0;
  for (const auto& [at, t] : movieBoxes(file))
    if (t == type) found = at;
  return found;
}

// Sixty frames in fragments of ten, left fragmented as a recording that never finished;
// frame i is grey at i * 4.
inline void writeFragmentedMovie(const std::filesystem::path& file) {
  MovieWriterSettings s;
  s.path = file.string();
  VideoTrackSettings v;
  v.width = 320;
  v.height = 240;
  v.keyFrameInterval = 10;
  v.encoderOptions = {{"preset", "ultrafast"}, {"sc_threshold", "0"}};
  s.video = v;
  MovieWriter writer(s);
  ASSERT_TRUE(writer.start()) << writer.error();
  for (int i = 0; i < 60; ++i) {
    // A buffer of its own: the encoder thread may still read the frames before it.
    auto pixels = std::make_shared<std::vector<uint8_t>>(320 * 240 * 4, uint8_t(i * 4));
    VideoFrameView f{pixels->data(), 320, 240, 320 * 4, AV_PIX_FMT_BGRA, pixels};
    ASSERT_TRUE(writer.appendVideo(f, i / 60.0, {}, true));
  }
  // Cancelling drops what still waits for the encoder: all sixty first.
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (writer.stats().framesEncoded < 60 && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_EQ(writer.stats().framesEncoded, 60);
  writer.cancel();  // the trailer closes the last fragment; no rewrite
}

}  // namespace vantry::test
