// A recording's movie cut short while it was written (a full disk takes the last partial
// page, a killed process stops anywhere): cut inside its last fragment's header the whole
// file would not open; read as if it ended at its last complete fragment, every frame
// before reads, and the file is left as it is. Repaired on disk (by recovery), the same.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <vector>

#include "platform/ffmpeg/ff_util.h"
#include "platform/ffmpeg/movie_fragments.h"
#include "platform/ffmpeg/movie_writer.h"
#include "platform/ffmpeg/video_reader.h"
#include "support/file_bytes.h"
#include "support/fragmented_movie.h"
#include "support/temp_dir.h"

namespace vantry {
namespace {

namespace fs = std::filesystem;
using test::lastBox;
using test::writeFragmentedMovie;
using test::written;

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

// The fixture the cuts below are made in: frame i is grey at i * 4, each frame its own
// (the encoder reads a frame on its own thread after it was handed over).
TEST(MovieFragments, TheFixtureMovieHoldsTheGreyOfEachFrame) {
  test::TempDir dir;
  const fs::path movie = dir.path / "screen.mp4";
  writeFragmentedMovie(movie);
  VideoReader::OpenError kind;
  std::string error;
  auto reader = VideoReader::open(movie.string(), &kind, &error);
  ASSERT_TRUE(reader) << error;
  ff::FramePtr frame;
  double seconds = 0;
  int i = 0;
  for (; reader->next(frame, seconds, &error); ++i) {
    // Limited-range luma of the grey in the middle of the picture.
    const int luma = frame->data[0][120 * frame->linesize[0] + 160];
    EXPECT_NEAR(luma, 16 + i * 4 * 219.0 / 255, 2) << "frame " << i;
  }
  EXPECT_EQ(i, 60) << error;
}

TEST(MovieFragments, ACutInsideTheLastFragmentHeaderReadsToItsLastCompleteFragmentUnwritten) {
  test::TempDir dir;
  const fs::path movie = dir.path / "screen.mp4";
  writeFragmentedMovie(movie);
  const uint64_t lastFragment = lastBox(movie, "moof");
  ASSERT_GT(lastFragment, 0u);
  // 97 bytes into the last fragment's header, as a full disk left it.
  fs::resize_file(movie, lastFragment + 97);
  EXPECT_TRUE(fragmentLayout(movie.string()).cut());
  const test::Written before = written(movie);

  // Every reader sees fifty whole frames, and the file stays as it was.
  EXPECT_EQ(framesRead(movie), 50);
  EXPECT_TRUE(movieHolds(movie.string(), AVMEDIA_TYPE_VIDEO));
  // Where the fiftieth frame starts, or ends.
  EXPECT_NEAR(movieEnd(movie.string(), AVMEDIA_TYPE_VIDEO).value_or(0), 49.5 / 60, 0.6 / 60);
  EXPECT_TRUE(written(movie) == before);
  EXPECT_TRUE(fragmentLayout(movie.string()).cut());
}

// Damage further in is no cut: the fragments after it are not dropped, the reader reads
// what it can of them.
TEST(MovieFragments, ADamagedBoxBeforeTheEndIsNoCut) {
  test::TempDir dir;
  const fs::path movie = dir.path / "screen.mp4";
  writeFragmentedMovie(movie);
  const auto boxes = test::movieBoxes(movie);
  std::vector<uint64_t> data;
  for (const auto& [at, type] : boxes)
    if (type == "mdat") data.push_back(at);
  ASSERT_EQ(data.size(), 6u);
  // The third fragment's data with a size no box can have, and the file cut in its last.
  std::string bytes = test::readFile(movie);
  bytes.replace(data[2], 4, std::string("\0\0\0\4", 4));
  bytes.resize(lastBox(movie, "moof") + 97);
  test::writeFile(movie, bytes);
  EXPECT_FALSE(fragmentLayout(movie.string()).cut());
  const test::Written before = written(movie);
  EXPECT_GT(framesRead(movie), 20);  // past the damaged box's start
  EXPECT_TRUE(written(movie) == before);
}

TEST(MovieFragments, ACutInsideFragmentDataIsCutBackAndAnythingElseIsLeftAlone) {
  test::TempDir dir;
  auto repairCutMovie = [&](const fs::path& file) {
    const int folder = ::open(dir.path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool repaired = vantry::repairCutMovie(folder, file.filename().string());
    ::close(folder);
    return repaired;
  };
  const fs::path movie = dir.path / "camera.mov";
  writeFragmentedMovie(movie);
  const uint64_t lastFragment = lastBox(movie, "moof");
  fs::resize_file(movie, lastBox(movie, "mdat") + 12);  // inside its first frame
  EXPECT_TRUE(repairCutMovie(movie));
  EXPECT_EQ(fs::file_size(movie), lastFragment);
  EXPECT_EQ(framesRead(movie), 50);
  EXPECT_FALSE(repairCutMovie(movie));  // whole now: nothing to do

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
  EXPECT_FALSE(repairCutMovie(finished));
  EXPECT_EQ(fs::file_size(finished), size);
  EXPECT_FALSE(repairCutMovie(dir.path / "missing.mp4"));
  // A pipe in a movie's place is not waited on.
  ASSERT_EQ(::mkfifo((dir.path / "pipe.mp4").c_str(), 0600), 0);
  EXPECT_FALSE(repairCutMovie(dir.path / "pipe.mp4"));
}

}  // namespace
}  // namespace vantry
