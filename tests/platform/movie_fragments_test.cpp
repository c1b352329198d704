// A recording's movie cut short while it was written (a full disk takes the last partial
// page, a killed process stops anywhere): cut inside its last fragment's header the whole
// file does not open; repaired to its last complete fragment, every frame before reads.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/ffmpeg/ff_util.h"
#include "platform/ffmpeg/movie_fragments.h"
#include "platform/ffmpeg/movie_writer.h"
#include "platform/ffmpeg/video_reader.h"
#include "support/temp_dir.h"

namespace vantry {
namespace {

namespace fs = std::filesystem;

// Top-level boxes of a file: offset and type.
std::vector<std::pair<uint64_t, std::string>> boxes(const fs::path& file) {
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

uint64_t lastOf(const fs::path& file, const std::string& type) {
  uint64_t found = 0;
  for (const auto& [at, t] : boxes(file))
    if (t == type) found = at;
  return found;
}

// Sixty frames in fragments of ten, left fragmented as a recording that never finished.
void writeFragmented(const fs::path& file) {
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
  auto pixels = std::make_shared<std::vector<uint8_t>>(320 * 240 * 4);
  for (int i = 0; i < 60; ++i) {
    std::fill(pixels->begin(), pixels->end(), uint8_t(i * 4));
    VideoFrameView f{pixels->data(), 320, 240, 320 * 4, AV_PIX_FMT_BGRA, pixels};
    ASSERT_TRUE(writer.appendVideo(f, i / 60.0, {}, true));
  }
  writer.cancel();  // the trailer closes the last fragment; no rewrite
}

int framesRead(const fs::path& file) {
  VideoReader::OpenError kind;
  std::string error;
  auto reader = VideoReader::open(file.string(), &kind, &error);
  EXPECT_TRUE(reader) << error;
  if (!reader) return -1;
  int frames = 0;
  ff::FramePtr frame;
  double seconds = 0;
  while (reader->next(frame, seconds, &error))
    ++frames;
  EXPECT_EQ(error, "");
  return frames;
}

TEST(MovieFragments, ACutInsideTheLastFragmentHeaderIsRepairedWhenOpened) {
  test::TempDir dir;
  const fs::path movie = dir.path / "screen.mp4";
  writeFragmented(movie);
  const uint64_t lastFragment = lastOf(movie, "moof");
  ASSERT_GT(lastFragment, 0u);
  // 97 bytes into the last fragment's header, as a full disk left it.
  fs::resize_file(movie, lastFragment + 97);
  EXPECT_FALSE(ff::openInput(movie.string()));
  EXPECT_TRUE(fragmentLayout(movie.string()).cut());

  // Opening cuts it back to where the last complete fragment ends: fifty whole frames.
  EXPECT_EQ(framesRead(movie), 50);
  EXPECT_EQ(fs::file_size(movie), lastFragment);
  EXPECT_FALSE(fragmentLayout(movie.string()).cut());
}

TEST(MovieFragments, ACutInsideFragmentDataIsCutBackAndAnythingElseIsLeftAlone) {
  test::TempDir dir;
  const fs::path movie = dir.path / "camera.mov";
  writeFragmented(movie);
  const uint64_t lastFragment = lastOf(movie, "moof");
  fs::resize_file(movie, lastOf(movie, "mdat") + 12);  // inside its first frame
  EXPECT_TRUE(repairCutMovie(movie.string()));
  EXPECT_EQ(fs::file_size(movie), lastFragment);
  EXPECT_EQ(framesRead(movie), 50);
  EXPECT_FALSE(repairCutMovie(movie.string()));  // whole now: nothing to do

  // A finished (ordinary) movie cut short is not this kind of damage: left as it is.
  const fs::path finished = dir.path / "finished.mp4";
  MovieWriterSettings s;
  s.path = finished.string();
  VideoTrackSettings v;
  v.width = 64;
  v.height = 64;
  s.video = v;
  {
    MovieWriter writer(s);
    ASSERT_TRUE(writer.start());
    auto pixels = std::make_shared<std::vector<uint8_t>>(64 * 64 * 4, 90);
    for (int i = 0; i < 30; ++i)
      writer.appendVideo({pixels->data(), 64, 64, 256, AV_PIX_FMT_BGRA, pixels}, i / 60.0, {},
                         true);
    ASSERT_TRUE(writer.finish());
  }
  const auto size = fs::file_size(finished) - 100;
  fs::resize_file(finished, size);
  EXPECT_FALSE(repairCutMovie(finished.string()));
  EXPECT_EQ(fs::file_size(finished), size);
  EXPECT_FALSE(repairCutMovie((dir.path / "missing.mp4").string()));
  // A pipe in a movie's place is not waited on.
  ASSERT_EQ(::mkfifo((dir.path / "pipe.mp4").c_str(), 0600), 0);
  EXPECT_FALSE(repairCutMovie((dir.path / "pipe.mp4").string()));
}

}  // namespace
}  // namespace vantry
