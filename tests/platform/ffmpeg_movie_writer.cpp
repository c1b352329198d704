// MovieWriter: what ends up in the file, read back with libavformat.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "platform/ffmpeg/ff_util.h"
#include "platform/ffmpeg/movie_fragments.h"
#include "platform/ffmpeg/movie_writer.h"
#include "support/stall_clock.h"
#include "support/temp_dir.h"

namespace vantry {
namespace {

namespace fs = std::filesystem;

struct TempDir : vantry::test::TempDir {
  TempDir() : vantry::test::TempDir("vantry-writer") {}
};

VideoFrameView solidFrame(int w, int h, uint8_t shade) {
  auto pixels = std::make_shared<std::vector<uint8_t>>(size_t(w) * h * 4);
  for (size_t i = 0; i < pixels->size(); i += 4) {
    (*pixels)[i] = shade;
    (*pixels)[i + 1] = uint8_t(255 - shade);
    (*pixels)[i + 2] = uint8_t(shade / 2);
    (*pixels)[i + 3] = 255;
  }
  VideoFrameView v;
  v.data = pixels->data();
  v.width = w;
  v.height = h;
  v.stride = w * 4;
  v.owner = pixels;
  return v;
}

MovieWriterSettings videoSettings(const fs::path& file, int w = 320, int h = 240) {
  MovieWriterSettings s;
  s.path = file.string();
  VideoTrackSettings v;
  v.width = w;
  v.height = h;
  v.averageBitRate = 2'000'000;
  s.video = v;
  return s;
}

struct Probe {
  double duration = 0;  // container duration, seconds
  int videoPackets = 0;
  double videoEnd = 0;  // end of the last video packet, seconds
  AVCodecParameters video{};
  AVCodecParameters audio{};
  bool hasVideo = false;
  bool hasAudio = false;
  AVRational frameRate{0, 1};
};

Probe probe(const fs::path& file) {
  Probe p;
  std::string error;
  ff::InputFormatPtr in = ff::openInput(file.string(), &error);
  EXPECT_TRUE(in) << error;
  if (!in) return p;
  p.duration = in->duration > 0 ? double(in->duration) / AV_TIME_BASE : 0;
  int vi = -1;
  for (unsigned i = 0; i < in->nb_streams; ++i) {
    AVStream* s = in->streams[i];
    if (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
      p.hasVideo = true;
      p.video = *s->codecpar;
      p.frameRate = s->avg_frame_rate;
      vi = int(i);
    } else if (s->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
      p.hasAudio = true;
      p.audio = *s->codecpar;
    }
  }
  p.video.extradata = nullptr;  // owned by the context, which goes away here
  p.audio.extradata = nullptr;
  ff::PacketPtr pkt = ff::makePacket();
  while (av_read_frame(in.get(), pkt.get()) >= 0) {
    if (pkt->stream_index == vi) {
      ++p.videoPackets;
      AVRational tb = in->streams[vi]->time_base;
      p.videoEnd = std::max(p.videoEnd, ff::toSeconds(pkt->pts + pkt->duration, tb));
    }
    av_packet_unref(pkt.get());
  }
  return p;
}

bool containsAtom(const fs::path& file, const std::string& atom) {
  std::ifstream in(file, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), {});
  return bytes.find(atom) != std::string::npos;
}

TEST(FfmpegMovieWriter, LengthFrameRateAndColourTagsAfterFinish) {
  TempDir dir;
  const fs::path file = dir.path / "screen.mp4";
  MovieWriter writer(videoSettings(file));
  ASSERT_TRUE(writer.start()) << writer.error();
  // 2 s at 60 fps, then the last frame again at 3.5 s lasting 1/60 s: a still screen at the
  // end must still count towards the length.
  for (int i = 0; i < 120; ++i)
    ASSERT_TRUE(writer.appendVideo(solidFrame(320, 240, uint8_t(i * 2)), i / 60.0, {}, true));
  ASSERT_TRUE(writer.appendVideo(solidFrame(320, 240, 9), 3.5, 1.0 / 60, true));
  ASSERT_TRUE(writer.finish()) << writer.error();
  EXPECT_EQ(writer.state(), MovieWriter::State::finished);
  EXPECT_NEAR(writer.writtenDuration(), 3.5 + 1.0 / 60, 1e-4);

  Probe p = probe(file);
  ASSERT_TRUE(p.hasVideo);
  EXPECT_FALSE(p.hasAudio);
  EXPECT_EQ(p.video.codec_id, AV_CODEC_ID_H264);
  EXPECT_EQ(p.video.width, 320);
  EXPECT_EQ(p.video.height, 240);
  EXPECT_EQ(p.video.color_primaries, AVCOL_PRI_BT709);
  EXPECT_EQ(p.video.color_trc, AVCOL_TRC_IEC61966_2_1);
  EXPECT_EQ(p.video.color_space, AVCOL_SPC_BT709);
  EXPECT_EQ(p.videoPackets, 121);
  EXPECT_NEAR(p.videoEnd, 3.5 + 1.0 / 60, 1e-3);
  EXPECT_NEAR(p.duration, 3.5 + 1.0 / 60, 2e-3);
  // Rewritten as an ordinary file: no movie fragments left, and no leftover copy.
  EXPECT_FALSE(containsAtom(file, "moof"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 1);
}

TEST(FfmpegMovieWriter, KilledWhileWritingLeavesAPlayableFile) {
  TempDir dir;
  const fs::path file = dir.path / "screen.mp4";
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    MovieWriter writer(videoSettings(file));
    if (!writer.start()) _exit(2);
    for (int i = 0; i < 200; ++i)
      writer.appendVideo(solidFrame(320, 240, uint8_t(i)), i / 60.0, {}, true);
    // Give the encoder time to write, then die without finishing.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    kill(getpid(), SIGKILL);
    _exit(3);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status)) << "child exit " << WEXITSTATUS(status);
  Probe p = probe(file);
  ASSERT_TRUE(p.hasVideo);
  // Fragments end at key frames (one a second): at least the first two seconds survive.
  EXPECT_GE(p.videoPackets, 120);
  EXPECT_GE(p.videoEnd, 2.0 - 1e-3);
}

TEST(FfmpegMovieWriter, FullQueueRefusesAtOnceAndWaitingAcceptsAll) {
  TempDir dir;
  std::vector<VideoFrameView> frames;
  for (int i = 0; i < 60; ++i)
    frames.push_back(solidFrame(1280, 720, uint8_t(i * 4)));
  MovieWriterSettings s = videoSettings(dir.path / "a.mp4", 1280, 720);
  s.queueFrames = 2;
  MovieWriter writer(s);
  ASSERT_TRUE(writer.start());
  int refused = 0;
  const test::StallClock clock;  // a loaded machine's queueing for a processor left out
  ASSERT_TRUE(clock.available());
  const double begin = clock.milliseconds();
  for (int i = 0; i < 60; ++i)
    if (!writer.appendVideo(frames[i], i / 60.0)) ++refused;
  const double took = clock.milliseconds() - begin;
  EXPECT_GT(refused, 0);
  EXPECT_EQ(writer.stats().framesRefused, refused);
  // Never blocked on the encoder: 60 calls are far quicker than encoding 60 frames.
  EXPECT_LT(took, 200);
  ASSERT_TRUE(writer.finish());
  EXPECT_EQ(probe(dir.path / "a.mp4").videoPackets, 60 - refused);

  MovieWriterSettings s2 = videoSettings(dir.path / "b.mp4", 1280, 720);
  s2.queueFrames = 2;
  MovieWriter waiting(s2);
  ASSERT_TRUE(waiting.start());
  for (int i = 0; i < 30; ++i)
    ASSERT_TRUE(waiting.appendVideo(frames[i], i / 60.0, {}, true));
  ASSERT_TRUE(waiting.finish());
  EXPECT_EQ(probe(dir.path / "b.mp4").videoPackets, 30);
}

// A file size limit stands in for a full disk: writes past it fail with EFBIG.
struct FileSizeLimit {
  rlimit old{};
  explicit FileSizeLimit(rlim_t bytes) {
    signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit lim = old;
    lim.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &lim);
  }
  ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &old); }
};

VideoFrameView noiseFrame(int w, int h, unsigned seed) {
  auto pixels = std::make_shared<std::vector<uint8_t>>(size_t(w) * h * 4);
  for (size_t i = 0; i < pixels->size(); ++i) {
    seed = seed * 1103515245u + 12345u;
    (*pixels)[i] = uint8_t(seed >> 16);
  }
  return VideoFrameView{pixels->data(), w, h, w * 4, AV_PIX_FMT_BGRA, pixels};
}

TEST(FfmpegMovieWriter, FullDiskIsReportedAtOnceAndTheFileKeepsWhatWasWritten) {
  TempDir dir, elsewhere;
  // Another file, which a link put at the movie's name while it is written leads to.
  const fs::path victim = elsewhere.path / "victim";
  std::ofstream(victim) << std::string(2'500'000, 'v');
  std::vector<VideoFrameView> frames;
  for (int i = 0; i < 8; ++i)
    frames.push_back(noiseFrame(640, 480, unsigned(i + 1)));
  std::atomic<int> calls{0};
  std::string message;
  MovieWriterSettings s = videoSettings(dir.path / "full.mp4", 640, 480);
  s.video->averageBitRate = 40'000'000;
  s.video->keyFrameInterval = 10;
  s.onFailure = [&](const std::string& m) {
    message = m;
    calls.fetch_add(1);
  };
  MovieWriter writer(s);
  {
    FileSizeLimit limit(2'000'000);
    ASSERT_TRUE(writer.start()) << writer.error();
    fs::rename(dir.path / "full.mp4", dir.path / "moved.mp4");
    fs::create_symlink(victim, dir.path / "full.mp4");
    for (int i = 0; i < 600 && calls.load() == 0; ++i)
      writer.appendVideo(frames[i % frames.size()], i / 60.0, {}, true);
    for (int i = 0; i < 200 && calls.load() == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    // Reported while still writing, not at finish().
    ASSERT_EQ(calls.load(), 1);
    EXPECT_EQ(writer.state(), MovieWriter::State::failed);
    EXPECT_FALSE(message.empty());
    EXPECT_FALSE(writer.readyForVideo());
    EXPECT_FALSE(writer.appendVideo(frames[0], 100.0));
    EXPECT_FALSE(writer.finish());
  }
  EXPECT_EQ(calls.load(), 1);
  EXPECT_EQ(writer.errorNumber(), EFBIG);
  // The write that failed took what still fitted, part of a fragment: the file is cut back
  // to the end of the last complete one (a file ending inside one does not open at all),
  // the writer's own file, not what its name leads to now.
  EXPECT_EQ(fs::file_size(victim), 2'500'000u);
  const FragmentLayout layout = fragmentLayout((dir.path / "moved.mp4").string());
  EXPECT_TRUE(layout.fragmented);
  EXPECT_LT(layout.size, 2'000'000u);
  EXPECT_EQ(layout.complete, layout.size);
  // What the writer says it kept is what the file holds: its frames, the last one lasting
  // its frame (a fragmented file does not give that length back when read).
  Probe p = probe(dir.path / "moved.mp4");
  EXPECT_TRUE(p.hasVideo);
  EXPECT_GT(p.videoPackets, 0);
  EXPECT_NEAR(writer.writtenDuration(), p.videoEnd + 1.0 / 60, 1e-3);
}

TEST(FfmpegMovieWriter, SoundAloneAndSoundWithPicture) {
  TempDir dir;
  std::vector<float> tone(48000);
  for (size_t i = 0; i < tone.size(); ++i)
    tone[i] = 0.3f * std::sin(2 * M_PI * 440 * i / 48000.0);

  MovieWriterSettings voice;
  voice.path = (dir.path / "voice.m4a").string();
  voice.audio = AudioTrackSettings{};
  MovieWriter v(voice);
  ASSERT_TRUE(v.start()) << v.error();
  for (int i = 0; i < 4; ++i)
    ASSERT_TRUE(v.appendAudio(tone.data() + i * 12000, 12000, i * 0.25));
  ASSERT_TRUE(v.finish()) << v.error();
  Probe pv = probe(dir.path / "voice.m4a");
  ASSERT_TRUE(pv.hasAudio);
  EXPECT_FALSE(pv.hasVideo);
  EXPECT_EQ(pv.audio.codec_id, AV_CODEC_ID_AAC);
  EXPECT_EQ(pv.audio.sample_rate, 48000);
  EXPECT_EQ(pv.audio.ch_layout.nb_channels, 1);
  EXPECT_NEAR(pv.duration, 1.0, 0.05);

  MovieWriterSettings cam = videoSettings(dir.path / "camera.mov", 640, 360);
  AudioTrackSettings stereo;
  stereo.channels = 2;
  cam.audio = stereo;
  MovieWriter c(cam);
  ASSERT_TRUE(c.start()) << c.error();
  std::vector<float> st(2 * 800, 0.1f);
  for (int i = 0; i < 60; ++i) {
    ASSERT_TRUE(c.appendVideo(solidFrame(640, 360, uint8_t(i)), i / 60.0, {}, true));
    ASSERT_TRUE(c.appendAudio(st.data(), 800, i / 60.0));
  }
  ASSERT_TRUE(c.finish()) << c.error();
  Probe pc = probe(dir.path / "camera.mov");
  EXPECT_TRUE(pc.hasVideo);
  ASSERT_TRUE(pc.hasAudio);
  EXPECT_EQ(pc.audio.ch_layout.nb_channels, 2);
  EXPECT_EQ(pc.videoPackets, 60);
}

TEST(FfmpegMovieWriter, StartFailuresAreReported) {
  MovieWriterSettings s = videoSettings("/nonexistent-dir/x.mp4");
  MovieWriter writer(s);
  EXPECT_FALSE(writer.start());
  EXPECT_FALSE(writer.error().empty());
  EXPECT_FALSE(writer.appendVideo(solidFrame(320, 240, 0), 0));

  MovieWriterSettings bad = videoSettings("/tmp/unused.mp4");
  bad.video->encoders = {"no-such-encoder"};
  MovieWriter none(bad);
  EXPECT_FALSE(none.start());
  EXPECT_NE(none.error().find("no-such-encoder"), std::string::npos);
}

}  // namespace
}  // namespace vantry
