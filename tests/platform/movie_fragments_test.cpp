// A recording's movie cut short while it was written (a full disk takes the last partial
// page, a killed process stops anywhere): cut inside its last fragment's header the whole
// file would not open; read as if it ended at its last complete fragment, every frame
// before reads, and the file is left as it is. Repaired on disk (by recovery), the same.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
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

// Opens `file` by its path with FFmpeg alone, none of our reading in between.
struct PlainInput {
  explicit PlainInput(const fs::path& file) {
    if (avformat_open_input(&fmt, file.c_str(), nullptr, nullptr) < 0) fmt = nullptr;
    if (fmt && avformat_find_stream_info(fmt, nullptr) < 0) avformat_close_input(&fmt);
  }
  ~PlainInput() { avformat_close_input(&fmt); }
  AVFormatContext* fmt = nullptr;
};

// Where FFmpeg alone finds each packet of `kind` in `file`: its offset and length.
std::vector<std::pair<int64_t, int64_t>> packetPlaces(const fs::path& file, AVMediaType kind) {
  std::vector<std::pair<int64_t, int64_t>> places;
  PlainInput in(file);
  if (!in.fmt) return places;
  const int stream = av_find_best_stream(in.fmt, kind, -1, -1, nullptr, 0);
  ff::PacketPtr packet = ff::makePacket();
  while (stream >= 0 && av_read_frame(in.fmt, packet.get()) >= 0) {
    if (packet->stream_index == stream) places.emplace_back(packet->pos, packet->size);
    av_packet_unref(packet.get());
  }
  return places;
}

// The pictures FFmpeg alone decodes of `file`.
int framesFFmpegDecodes(const fs::path& file) {
  PlainInput in(file);
  const AVCodec* codec = nullptr;
  const int stream =
      in.fmt ? av_find_best_stream(in.fmt, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0) : -1;
  if (stream < 0) return 0;
  ff::CodecContextPtr decoder(avcodec_alloc_context3(codec));
  avcodec_parameters_to_context(decoder.get(), in.fmt->streams[stream]->codecpar);
  if (avcodec_open2(decoder.get(), codec, nullptr) < 0) return 0;
  ff::PacketPtr packet = ff::makePacket();
  ff::FramePtr frame = ff::makeFrame();
  int frames = 0;
  auto receive = [&] {
    while (avcodec_receive_frame(decoder.get(), frame.get()) >= 0)
      ++frames;
  };
  while (av_read_frame(in.fmt, packet.get()) >= 0) {
    if (packet->stream_index == stream) avcodec_send_packet(decoder.get(), packet.get());
    av_packet_unref(packet.get());
    receive();
  }
  avcodec_send_packet(decoder.get(), nullptr);
  receive();
  return frames;
}

// Repairs `file` as recovery does, through its folder.
bool repair(const fs::path& file) {
  const int folder = ::open(file.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const bool repaired = repairCutMovie(folder, file.filename().string());
  ::close(folder);
  return repaired;
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

// A movie header written with a 64-bit size (its box header 16 bytes long) is walked from
// where that header ends: its fragments are found, and so is the cut in the last one.
TEST(MovieFragments, AMovieHeaderWithA64BitSizeStillShowsTheCut) {
  test::TempDir dir;
  const fs::path movie = dir.path / "screen.mp4";
  writeFragmentedMovie(movie);
  const auto boxes = test::movieBoxes(movie);
  ASSERT_EQ(boxes.at(1).second, "moov");
  const uint64_t at = boxes[1].first, size = boxes[2].first - at;
  std::string header("\0\0\0\1moov", 8);  // a size of 1: the real one follows
  for (int i = 7; i >= 0; --i)
    header += char((size + 8) >> (8 * i));
  std::string bytes = test::readFile(movie);
  bytes.replace(at, 8, header);
  const uint64_t lastFragment = lastBox(movie, "moof") + 8;
  bytes.resize(lastFragment + 97);
  test::writeFile(movie, bytes);
  const FragmentLayout layout = fragmentLayout(movie.string());
  EXPECT_TRUE(layout.fragmented);
  EXPECT_TRUE(layout.cut());
  EXPECT_EQ(layout.complete, lastFragment);
  const test::Written before = written(movie);
  EXPECT_EQ(framesRead(movie), 50);
  EXPECT_TRUE(written(movie) == before);
}

// Damage further in is no cut: the fragments after it are not dropped, the reader reads
// what FFmpeg can of them, and the repair writes nothing. A fragment's header whose size
// reads 0 (up to the end of the file) or runs past the end is such damage when whole
// boxes follow its own.
TEST(MovieFragments, ADamagedBoxBeforeTheEndIsNoCut) {
  test::TempDir dir;
  const fs::path whole = dir.path / "whole.mp4";
  writeFragmentedMovie(whole);
  std::vector<uint64_t> headers, data;
  for (const auto& [at, type] : test::movieBoxes(whole)) {
    if (type == "moof") headers.push_back(at);
    if (type == "mdat") data.push_back(at);
  }
  ASSERT_EQ(headers.size(), 6u);
  ASSERT_EQ(data.size(), 6u);
  const std::string bytes = test::readFile(whole);
  std::string flipped = bytes.substr(headers[1], 4);
  flipped[0] = char(flipped[0] ^ 0x80);
  struct Damage {
    uint64_t at;
    std::string size;
    int framesBefore;  // in the fragments before the damaged box
  };
  // The third fragment's data with a size no box can have; the second fragment's header
  // with a size of 0, or with its top bit flipped. Each file cut in its last fragment too.
  for (const Damage& d :
       {Damage{data[2], std::string("\0\0\0\4", 4), 20},
        Damage{headers[1], std::string(4, '\0'), 10}, Damage{headers[1], flipped, 10}}) {
    SCOPED_TRACE(d.at);
    for (const uint64_t size : {bytes.size(), headers.back() + 97}) {
      const fs::path movie = dir.path / "screen.mp4";
      test::writeFile(movie, bytes.substr(0, size).replace(d.at, 4, d.size));
      EXPECT_FALSE(fragmentLayout(movie.string()).cut());
      const test::Written before = written(movie);
      const int frames = framesRead(movie);
      EXPECT_GT(frames, d.framesBefore);  // past the damaged box's start
      EXPECT_EQ(frames, framesFFmpegDecodes(movie));
      EXPECT_FALSE(repair(movie));
      EXPECT_TRUE(written(movie) == before);
    }
  }
}

// A cut inside the last fragment's data keeps every frame that lies whole before it: read
// so with the file unwritten, and repaired so on disk, the fragment's header made to say
// where it ends and the torn frame gone. With picture and sound in one fragment, as in the
// camera's movie, each track keeps what lies whole before the cut.
TEST(MovieFragments, ACutInsideTheLastFragmentDataKeepsEveryWholeFrame) {
  test::TempDir dir;
  const fs::path movie = dir.path / "screen.mp4";
  writeFragmentedMovie(movie);
  const auto pictures = packetPlaces(movie, AVMEDIA_TYPE_VIDEO);
  ASSERT_GE(pictures.size(), 50u);
  // Halfway into frame 48, the eighth of the fifth fragment, which is now the last.
  const auto [at, length] = pictures[47];
  ASSERT_GT(uint64_t(at), test::movieBoxes(movie).at(10).first);  // the fifth "mdat"
  fs::resize_file(movie, uint64_t(at + length / 2));
  const test::Written before = written(movie);
  EXPECT_EQ(framesRead(movie), 47);
  EXPECT_TRUE(written(movie) == before);

  EXPECT_TRUE(repair(movie));
  EXPECT_EQ(fs::file_size(movie), uint64_t(at));
  EXPECT_EQ(framesFFmpegDecodes(movie), 47);  // the file itself says where it ends now
  EXPECT_EQ(framesRead(movie), 47);
  EXPECT_FALSE(repair(movie));

  const fs::path camera = dir.path / "camera.mov";
  writeFragmentedMovie(camera, true);
  const std::string whole = test::readFile(camera);
  const auto picture = packetPlaces(camera, AVMEDIA_TYPE_VIDEO);
  const auto voice = packetPlaces(camera, AVMEDIA_TYPE_AUDIO);
  // The n-th packet in the data of the fragment before the last, which is whole.
  std::vector<int64_t> fragments;
  for (const auto& [at, type] : test::movieBoxes(camera))
    if (type == "moof") fragments.push_back(int64_t(at));
  ASSERT_GE(fragments.size(), 3u);
  const int64_t from = fragments.rbegin()[1], to = fragments.back();
  auto inFragment = [&](const auto& places, size_t n) {
    for (const auto& place : places)
      if (place.first > from && place.first < to && n-- == 0) return place;
    return std::pair<int64_t, int64_t>{};
  };
  for (const auto& [at, length] : {inFragment(picture, 3), inFragment(voice, 2)}) {
    ASSERT_GT(at, from);
    const int64_t cut = at + length / 2;
    auto wholeBefore = [&](const auto& places) {
      return std::count_if(places.begin(), places.end(),
                           [&](const auto& place) { return place.first + place.second <= cut; });
    };
    test::writeFile(camera, whole.substr(0, size_t(cut)));
    EXPECT_EQ(framesRead(camera), wholeBefore(picture));
    EXPECT_TRUE(repair(camera));
    EXPECT_EQ(framesFFmpegDecodes(camera), wholeBefore(picture));
    EXPECT_EQ(std::ssize(packetPlaces(camera, AVMEDIA_TYPE_AUDIO)), wholeBefore(voice));
  }
}

TEST(MovieFragments, ACutInsideFragmentDataIsCutBackAndAnythingElseIsLeftAlone) {
  test::TempDir dir;
  const fs::path movie = dir.path / "camera.mov";
  writeFragmentedMovie(movie);
  const uint64_t lastFragment = lastBox(movie, "moof");
  fs::resize_file(movie, lastBox(movie, "mdat") + 12);  // inside its first frame
  EXPECT_TRUE(repair(movie));
  EXPECT_EQ(fs::file_size(movie), lastFragment);
  EXPECT_EQ(framesRead(movie), 50);
  EXPECT_FALSE(repair(movie));  // whole now: nothing to do

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
  EXPECT_FALSE(repair(finished));
  EXPECT_EQ(fs::file_size(finished), size);
  EXPECT_FALSE(repair(dir.path / "missing.mp4"));
  // A pipe in a movie's place is not waited on.
  ASSERT_EQ(::mkfifo((dir.path / "pipe.mp4").c_str(), 0600), 0);
  EXPECT_FALSE(repair(dir.path / "pipe.mp4"));
}

}  // namespace
}  // namespace vantry
