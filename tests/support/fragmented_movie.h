// A recording's movie as the writer leaves it while recording (fragmented, never finished),
// and the top-level boxes of a movie file, for cutting or damaging it where a full disk or
// a crash would; what such a movie holds while it is still being written.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "file_bytes.h"
#include "platform/ffmpeg/ff_util.h"
#include "platform/ffmpeg/movie_fragments.h"
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
// frame i is grey at i * 4. With sound, as the camera's movie has, in the same fragments.
inline void writeFragmentedMovie(const std::filesystem::path& file, bool withSound = false) {
  MovieWriterSettings s;
  s.path = file.string();
  VideoTrackSettings v;
  v.width = 320;
  v.height = 240;
  v.keyFrameInterval = 10;
  v.encoderOptions = {{"preset", "ultrafast"}, {"sc_threshold", "0"}};
  s.video = v;
  if (withSound) s.audio = AudioTrackSettings{};
  MovieWriter writer(s);
  ASSERT_TRUE(writer.start()) << writer.error();
  for (int i = 0; i < 60; ++i) {
    // A buffer of its own: the encoder thread may still read the frames before it.
    auto pixels = std::make_shared<std::vector<uint8_t>>(320 * 240 * 4, uint8_t(i * 4));
    VideoFrameView f{pixels->data(), 320, 240, 320 * 4, AV_PIX_FMT_BGRA, pixels};
    ASSERT_TRUE(writer.appendVideo(f, i / 60.0, {}, true));
    if (withSound) {
      const std::vector<float> sound(800, 0.1f);
      ASSERT_TRUE(writer.appendAudio(sound.data(), 800, i / 60.0));
    }
  }
  // Cancelling drops what still waits for the encoder: all sixty first.
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (writer.stats().framesEncoded < 60 && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_EQ(writer.stats().framesEncoded, 60);
  writer.cancel();  // the trailer closes the last fragment; no rewrite
}

// The length of a movie's picture track as the file states it; -1 when it does not open.
// (Read back packet by packet, a fragmented movie's last picture has no length of its own:
// it lasts until the next one, in its fragment's header.)
inline double statedLength(const std::filesystem::path& movie) {
  ff::InputFormatPtr in = ff::openInput(movie.string());
  const int video = in ? av_find_best_stream(in.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0) : -1;
  if (video < 0 || in->streams[video]->duration == AV_NOPTS_VALUE) return -1;
  return ff::toSeconds(in->streams[video]->duration, in->streams[video]->time_base);
}

// What the movie at `live`, still being written, holds in complete fragments: its complete
// part is copied to `copy` and read there. -1 while no fragment is complete.
inline double completeLength(const std::filesystem::path& live, const std::filesystem::path& copy) {
  const uint64_t complete = fragmentLayout(live.string()).complete;  // first: the file grows
  std::string bytes = readFile(live);
  bytes.resize(std::min<uint64_t>(bytes.size(), complete));
  writeFile(copy, bytes);
  return statedLength(copy);
}

// Waits until the movie at `live`, still being written, holds more than `seconds` in
// complete fragments (a loaded machine encodes late), at most `timeout` seconds.
inline bool waitForFragments(const std::filesystem::path& live, const std::filesystem::path& copy,
                             double seconds = 0, double timeout = 30) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout);
  while (completeLength(live, copy) <= seconds) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

}  // namespace vantry::test
