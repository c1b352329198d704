#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <limits>

#include <csignal>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <stop_token>
#include <thread>

#include "localization/language_scope.h"
#include "localization/localization.h"
#include "model/clip.h"
#include "movie_fixtures.h"
#include "platform/studio_error.h"
#include "render/file_delivery.h"
#include "render/movie_exporter.h"
#include "render/render_error.h"
#include "support/scoped_env.h"
#include "support/small_disk.h"

namespace vantry {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

// Exports into private folders: the working folder goes under a TMPDIR of our own, so
// that "nothing left behind" can be checked.
class Exporter : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    sources_ = new TempDir();
    testing::makeIndexedMovie(sources_->file("screen.mp4"), 4 * 30, 30);
    // Tones at known source times.
    testing::makeToneSound(sources_->file("voice.m4a"), 4, {0.5, 1.5, 2.5, 3.5});
  }
  static void TearDownTestSuite() { delete sources_; }

  void SetUp() override {
    const char* old = std::getenv("TMPDIR");
    oldTmp_ = old ? old : "";
    setenv("TMPDIR", tmp_.path().c_str(), 1);
  }
  void TearDown() override {
    if (oldTmp_.empty())
      unsetenv("TMPDIR");
    else
      setenv("TMPDIR", oldTmp_.c_str(), 1);
    unsetenv("VANTRY_EXPORT_ENCODER");
    EXPECT_TRUE(tmp_.entries().empty()) << "working folder left behind";
  }

  Clip screenClip(double duration) const {
    Clip clip;
    clip.title = "test";
    clip.duration = duration;
    clip.screenPath = sources_->file("screen.mp4");
    return clip;
  }
  // Full bleed without pointer or camera: output frames show the source frame alone.
  static EditSettings plainSettings() {
    EditSettings s;
    s.padding = 0;
    s.showCursor = false;
    s.showCamera = false;
    return s;
  }
  static ExportOptions small() {
    ExportOptions o;
    o.resolution = ExportOptions::Resolution::p720;
    o.framesPerSecond = ExportOptions::FrameRate::fps30;
    return o;
  }

  std::vector<double> run(const Clip& clip, const EditSettings& settings, const ExportOptions& o,
                          const std::string& dest, std::stop_token stop = {}) {
    std::vector<double> progress;
    std::mutex m;
    MovieExporter().exportMovie(
        clip, settings, o, dest,
        [&](double v) {
          std::lock_guard lock(m);
          progress.push_back(v);
        },
        stop);
    return progress;
  }

  static TempDir* sources_;
  TempDir tmp_;
  TempDir out_;
  std::string oldTmp_;
};

TempDir* Exporter::sources_ = nullptr;

TEST_F(Exporter, FramesDurationTagsAndProgress) {
  const Clip clip = screenClip(20.0 / 30.0);  // 20 frames at 30 fps
  const std::string dest = out_.file("movie.mp4");
  const auto progress = run(clip, plainSettings(), small(), dest);
  const std::vector<double> expected{0, 8.0 / 20 * 0.94, 16.0 / 20 * 0.94, 0.94, 0.95, 0.99, 1.0};
  ASSERT_EQ(progress.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i)
    EXPECT_NEAR(progress[i], expected[i], 1e-12);

  const testing::MovieInfo info = testing::probeMovie(dest);
  EXPECT_EQ(info.videoFrames, 20);
  EXPECT_NEAR(info.videoDuration, 20.0 / 30, 0.002);
  EXPECT_EQ(info.width, 1280);
  EXPECT_EQ(info.height, 720);
  EXPECT_EQ(info.codec, "h264");
  EXPECT_EQ(info.profile, 100);  // High
  EXPECT_EQ(info.primaries, AVCOL_PRI_BT709);
  EXPECT_EQ(info.transfer, AVCOL_TRC_IEC61966_2_1);
  EXPECT_EQ(info.matrix, AVCOL_SPC_BT709);
  EXPECT_FALSE(info.hasAudio);
  for (size_t i = 0; i < info.frameTimes.size(); ++i)
    EXPECT_NEAR(info.frameTimes[i], i / 30.0, 1e-6);
  // Only the movie is left in the destination's folder.
  EXPECT_EQ(out_.entries(), std::vector<std::string>{"movie.mp4"});
}

TEST_F(Exporter, CutsPickTheRightSourceFramesAndSound) {
  Clip clip = screenClip(4);
  clip.audioPath = sources_->file("voice.m4a");
  // Keep 0..1 and 2..4: the tone at 1.5 s is cut away, the later ones move 1 s earlier.
  clip.keptRanges = std::vector<SourceRange>{{Uuid::random(), 0, 1}, {Uuid::random(), 2, 4}};
  const std::string dest = out_.file("cut.mov");
  ExportOptions o = small();
  o.format = ExportOptions::Format::mov;
  run(clip, plainSettings(), o, dest);
  const auto info = testing::probeMovie(dest);
  EXPECT_EQ(info.videoFrames, 90);
  EXPECT_TRUE(info.hasAudio);
  const auto pictures = testing::decodePictures(dest);
  ASSERT_EQ(pictures.size(), 90u);
  for (int i : {0, 29, 30, 45, 89}) {
    const int sourceFrame = i < 30 ? i : i + 30;
    EXPECT_EQ(testing::readIndex(pictures[i], pictures[i].rect()), sourceFrame) << "frame " << i;
  }
  const auto onsets = testing::toneOnsets(dest);
  ASSERT_EQ(onsets.size(), 3u);
  EXPECT_NEAR(onsets[0], 0.5, 0.03);
  EXPECT_NEAR(onsets[1], 1.5, 0.03);
  EXPECT_NEAR(onsets[2], 2.5, 0.03);
}

TEST_F(Exporter, CameraFollowsTheCutsInATopLeftBubble) {
  // A camera picture shaped like the bubble, so that all of it shows, half a second ahead
  // of the screen; the bubble a quarter of the width, top left, not mirrored.
  const std::string camera = out_.file("camera.mov");
  testing::makeIndexedMovie(camera, 150, 30, 300, 318);
  Clip clip = screenClip(4);
  clip.cameraPath = camera;
  clip.cameraOffset = 0.5;
  clip.keptRanges = std::vector<SourceRange>{{Uuid::random(), 0, 1}, {Uuid::random(), 2, 4}};
  EditSettings s = plainSettings();
  s.showCamera = true;
  s.corner = CameraCorner::topLeft;
  s.cameraSize = 0.25;
  s.mirrorCamera = false;
  const std::string dest = out_.file("camera-cuts.mp4");
  run(clip, s, small(), dest);
  const auto pictures = testing::decodePictures(dest);
  ASSERT_EQ(pictures.size(), 90u);
  // Bubble (22, 22, 480, 508.8) on the canvas, two thirds of that at 720p.
  const QRect bubble(15, 15, 320, 339);
  for (int i : {0, 29, 30, 60, 89}) {
    const double source = i < 30 ? i / 30.0 : i / 30.0 + 1;
    const int cameraFrame = static_cast<int>(std::lround((source + 0.5) * 30));
    EXPECT_EQ(testing::readIndex(pictures[i], bubble), cameraFrame) << "frame " << i;
    EXPECT_EQ(testing::readIndex(pictures[i], QRect(0, 400, 1280, 100)),
              static_cast<int>(std::lround(source * 30)))
        << "frame " << i;
  }
}

// The pictures an export holds are those of the frames in flight: the output pictures are
// reused (at most 4 workers: 10 frames in the pass, 2 queued for the encoder, 1 encoding)
// and the source decoders run two threads, whatever the machine and the length.
TEST_F(Exporter, PicturesInFlightAreBounded) {
  const std::string camera = out_.file("camera.mov");
  testing::makeIndexedMovie(camera, 120, 30, 320, 240);
  Clip clip = screenClip(4);
  clip.cameraPath = camera;
  EditSettings s = plainSettings();
  s.showCamera = true;
  MovieExporter exporter;
  exporter.exportMovie(clip, s, small(), out_.file("bounded.mp4"), nullptr);
  EXPECT_EQ(exporter.statistics().frames, 120);
  EXPECT_GE(exporter.statistics().pictures, 1);
  EXPECT_LE(exporter.statistics().pictures, 13);
  EXPECT_EQ(exporter.statistics().decoderThreads, 2);
}

TEST_F(Exporter, WithSoundTheMovieAndItsTracksEndWithTheEdit) {
  // 2.01 s at 30 fps: the last frame lasts 0.01 s, in the movie with sound as without.
  Clip clip = screenClip(2.01);
  clip.audioPath = sources_->file("voice.m4a");
  const std::string dest = out_.file("fraction.mp4");
  run(clip, plainSettings(), small(), dest);
  const auto info = testing::probeMovie(dest);
  EXPECT_EQ(info.videoFrames, 61);
  EXPECT_NEAR(info.videoDuration, 2.01, 0.002);
  EXPECT_NEAR(info.audioDuration, 2.01, 0.002);
}

TEST_F(Exporter, SoundOffsetStartsLater) {
  Clip clip = screenClip(3);
  clip.audioPath = sources_->file("voice.m4a");
  clip.audioOffset = -1;  // the sound started 1 s after the screen
  const std::string dest = out_.file("offset.mp4");
  run(clip, plainSettings(), small(), dest);
  const auto onsets = testing::toneOnsets(dest);
  ASSERT_EQ(onsets.size(), 2u);  // sound 0.5 and 1.5 s land at 1.5 and 2.5 s
  EXPECT_NEAR(onsets[0], 1.5, 0.03);
  EXPECT_NEAR(onsets[1], 2.5, 0.03);
}

TEST_F(Exporter, PrivateWorkingFolderAndSilentSoundFile) {
  Clip clip = screenClip(0.3);
  clip.audioPath = sources_->file("screen.mp4");  // a sound file without sound
  const std::string dest = out_.file("silent.mp4");
  std::vector<std::string> seen;
  mode_t mode = 0;
  MovieExporter().exportMovie(clip, plainSettings(), small(), dest, [&](double v) {
    if (v != 0) return;
    seen = tmp_.entries();
    struct stat st {};
    if (seen.size() == 1 && ::stat(tmp_.file(seen[0]).c_str(), &st) == 0) mode = st.st_mode & 0777;
  });
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].rfind("pexilar-export-", 0), 0u);
  EXPECT_EQ(seen[0].size(), std::string("pexilar-export-").size() + 36);
  EXPECT_EQ(mode, 0700u);
  const auto info = testing::probeMovie(dest);
  EXPECT_EQ(info.videoFrames, 9);
  EXPECT_FALSE(info.hasAudio);
}

TEST_F(Exporter, ReplacesAnExistingFileAtomically) {
  using P = fs::perms;
  const std::string dest = out_.file("movie.mp4");
  std::ofstream(dest) << "old movie";
  // A private movie stays private when exported again, without a set-id bit.
  fs::permissions(dest, P::owner_read | P::owner_write | P::set_uid);
  run(screenClip(0.2), plainSettings(), small(), dest);
  EXPECT_EQ(testing::probeMovie(dest).videoFrames, 6);
  EXPECT_EQ(out_.entries(), std::vector<std::string>{"movie.mp4"});
  EXPECT_EQ(fs::status(dest).permissions(), P::owner_read | P::owner_write);

  // A link planted at the destination is replaced by a movie made under the umask; what it
  // led to keeps its bytes and its mode, and lends the movie none of it.
  TempDir elsewhere;
  const std::string victim = elsewhere.file("victim");
  std::ofstream(victim) << "precious";
  fs::permissions(victim, P::all | P::set_uid | P::set_gid);
  fs::create_symlink(victim, out_.file("link.mp4"));
  const mode_t mask = ::umask(077);
  run(screenClip(0.2), plainSettings(), small(), out_.file("link.mp4"));
  ::umask(mask);
  EXPECT_EQ(fs::symlink_status(out_.file("link.mp4")).type(), fs::file_type::regular);
  EXPECT_EQ(fs::status(out_.file("link.mp4")).permissions(), P::owner_read | P::owner_write);
  EXPECT_EQ(fs::status(victim).permissions(), P::all | P::set_uid | P::set_gid);
  std::string kept;
  std::getline(std::ifstream(victim), kept);
  EXPECT_EQ(kept, "precious");
}

TEST_F(Exporter, ACancelDuringDeliveryWins) {
  const std::string dest = out_.file("keep.mp4");
  std::ofstream(dest) << "precious";
  std::stop_source stop;
  EXPECT_THROW(MovieExporter().exportMovie(
                   screenClip(0.2), plainSettings(), small(), dest,
                   [&](double v) {
                     if (v >= 0.99) stop.request_stop();
                   },
                   stop.get_token()),
               CancelledError);
  std::ifstream in(dest);
  std::string text;
  std::getline(in, text);
  EXPECT_EQ(text, "precious");
  EXPECT_EQ(out_.entries(), std::vector<std::string>{"keep.mp4"});
}

TEST_F(Exporter, EmptyEditGivesOneWholeFrame) {
  Clip clip = screenClip(2);
  clip.keptRanges = std::vector<SourceRange>{};
  const std::string dest = out_.file("empty.mp4");
  run(clip, plainSettings(), small(), dest);
  const auto info = testing::probeMovie(dest);
  EXPECT_EQ(info.videoFrames, 1);
  EXPECT_NEAR(info.videoDuration, 1.0 / 30, 0.002);
}

TEST_F(Exporter, CancellationLeavesTheDestinationUntouched) {
  const std::string dest = out_.file("keep.mp4");
  std::ofstream(dest) << "precious";
  std::stop_source stop;
  std::atomic<int> reports{0};
  std::vector<double> progress;
  EXPECT_THROW(MovieExporter().exportMovie(
                   screenClip(4), plainSettings(), small(), dest,
                   [&](double v) {
                     progress.push_back(v);
                     if (v > 0.2) stop.request_stop();
                   },
                   stop.get_token()),
               CancelledError);
  ASSERT_FALSE(progress.empty());
  EXPECT_LT(progress.back(), 0.5);  // stopped within a frame of the request
  std::ifstream in(dest);
  std::string text;
  std::getline(in, text);
  EXPECT_EQ(text, "precious");
  EXPECT_EQ(out_.entries(), std::vector<std::string>{"keep.mp4"});
}

TEST_F(Exporter, UnsupportedEncoderMessage) {
  // An encoder that does not exist, and a hardware encoder without its device.
  for (const char* encoder : {"no-such-encoder", "h264_vaapi"}) {
    if (std::string(encoder) == "h264_vaapi" && fs::exists("/dev/dri/renderD128")) continue;
    setenv("VANTRY_EXPORT_ENCODER", encoder, 1);
    const std::string dest = out_.file("never.mp4");
    try {
      run(screenClip(1), plainSettings(), small(), dest);
      FAIL() << "export succeeded without an encoder";
    } catch (const StudioError& e) {
      EXPECT_EQ(e.message(), L("当前设备不支持所选导出设置，请尝试 H.264 / 1080p。"));
    }
    EXPECT_TRUE(out_.entries().empty());
  }
}

TEST_F(Exporter, RefusesTheProjectsOwnFiles) {
  TempDir recording;
  fs::copy_file(sources_->file("screen.mp4"), recording.file("screen.mp4"));
  Clip clip = screenClip(1);
  clip.screenPath = recording.file("screen.mp4");
  const auto before = fs::file_size(recording.file("screen.mp4"));
  // The document the project came from, elsewhere, and a link to the recording's timing.
  TempDir documents;
  std::ofstream(documents.file("talk.json")) << "{}";
  std::ofstream(recording.file("capture-timing.json")) << "{}";
  fs::create_hard_link(recording.file("capture-timing.json"), documents.file("timing-link.json"));
  for (const std::string& dest :
       {recording.file("screen.mp4"), recording.file("project.json"), recording.file("voice.m4a"),
        recording.file("capture-timing.json"), documents.file("talk.json"),
        documents.file("timing-link.json")}) {
    MovieExporter exporter;
    exporter.setDocumentPath(documents.file("talk.json"));
    try {
      exporter.exportMovie(clip, plainSettings(), small(), dest, nullptr);
      ADD_FAILURE() << "exported over " << dest;
    } catch (const std::exception& e) {
      EXPECT_EQ(e.what(), L("不能导出到项目自己的文件，请选择其他文件名。"));
    }
  }
  EXPECT_EQ(fs::file_size(recording.file("screen.mp4")), before);
  EXPECT_EQ(fs::file_size(documents.file("talk.json")), 2u);
  EXPECT_EQ(recording.entries(), (std::vector<std::string>{"capture-timing.json", "screen.mp4"}));
}

// Inverts `count` bytes of a file at `offset`.
void damage(const std::string& path, std::streamoff offset, int count) {
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  f.seekg(offset);
  std::string bytes(static_cast<size_t>(count), '\0');
  f.read(bytes.data(), count);
  for (char& c : bytes)
    c = static_cast<char>(~c);
  f.seekp(offset);
  f.write(bytes.data(), count);
}

std::streamoff offsetOf(const std::string& path, const std::string& text) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return static_cast<std::streamoff>(bytes.find(text));
}

TEST_F(Exporter, DamagedSoundPacketsBecomeSilence) {
  // A few damaged bytes, and a longer stretch, in the middle of the sound data: the damaged
  // packets are left out, everything else keeps its place.
  for (int count : {16, 600}) {
    const std::string damaged = out_.file("damaged.m4a");
    fs::copy_file(sources_->file("voice.m4a"), damaged, fs::copy_options::overwrite_existing);
    const auto data = offsetOf(damaged, "mdat"), header = offsetOf(damaged, "moov");
    ASSERT_LT(data + 2 * count, header);
    damage(damaged, (data + header) / 2, count);
    Clip clip = screenClip(4);
    clip.audioPath = damaged;
    const std::string dest = out_.file("damaged.mp4");
    run(clip, plainSettings(), small(), dest);
    const auto info = testing::probeMovie(dest);
    EXPECT_TRUE(info.hasAudio) << count;
    EXPECT_NEAR(info.audioDuration, 4, 0.05) << count;
    const auto onsets = testing::toneOnsets(dest);
    ASSERT_GE(onsets.size(), 3u) << count;
    EXPECT_NEAR(onsets.back(), 3.5, 0.03) << count;
    fs::remove(dest);
    fs::remove(damaged);
  }
}

TEST_F(Exporter, UnreadableInputsFailAtOnceAndNameTheirFile) {
  test::ScopedEnv home("HOME", out_.path().c_str());
  const std::string header = out_.file("header.m4a");
  fs::copy_file(sources_->file("voice.m4a"), header);
  damage(header, offsetOf(header, "moov") + 4, 16);
  struct Case {
    std::function<void(Clip&)> change;
    std::string dest;
    std::string message;
  };
  auto sound = [](const std::string& name) { return L("无法读取音轨 {0}。", "~/" + name); };
  auto movie = [](const std::string& name) { return L("无法读取视频 {0}。", "~/" + name); };
  const std::vector<Case> cases{
      // A named sound file whose track cannot be found is not a silent movie.
      {[&](Clip& c) { c.audioPath = header; }, out_.file("a.mp4"), sound("header.m4a")},
      {[&](Clip& c) { c.audioPath = out_.file("gone.m4a"); }, out_.file("a.mp4"),
       withReason(sound("gone.m4a"), systemReason(ENOENT))},
      {[&](Clip& c) { c.cameraPath = out_.file("gone.mov"); }, out_.file("a.mp4"),
       withReason(movie("gone.mov"), systemReason(ENOENT))},
      {[&](Clip& c) { c.screenPath = header; }, out_.file("a.mp4"), movie("header.m4a")},
      // A pipe or a device would block reading for ever.
      {[&](Clip& c) { c.screenPath = out_.file("pipe.mp4"); }, out_.file("a.mp4"),
       withReason(movie("pipe.mp4"), L("它不是普通文件，而是管道或设备。"))},
      {[&](Clip& c) { c.audioPath = "/dev/zero"; }, out_.file("a.mp4"),
       withReason(L("无法读取音轨 {0}。", "/dev/zero"), L("它不是普通文件，而是管道或设备。"))},
      // A damaged document claiming hours of a four-second recording.
      {[&](Clip& c) { c.duration = 1e7; }, out_.file("a.mp4"),
       LF("剪辑时长 %.1f 秒超出录屏的 %.1f 秒，项目文件可能已损坏。", 1e7, 4.0)},
  };
  ASSERT_EQ(::mkfifo(out_.file("pipe.mp4").c_str(), 0600), 0);
  for (const Case& c : cases) {
    Clip clip = screenClip(4);
    c.change(clip);
    std::vector<double> progress;
    try {
      MovieExporter().exportMovie(clip, plainSettings(), small(), c.dest,
                                  [&](double v) { progress.push_back(v); });
      ADD_FAILURE() << "exported despite " << c.message;
    } catch (const std::exception& e) {
      EXPECT_EQ(std::string(e.what()).rfind(c.message, 0), 0u) << e.what();
    }
    EXPECT_TRUE(progress.empty()) << c.message << " found only after rendering";
  }
  EXPECT_EQ(out_.entries(), (std::vector<std::string>{"header.m4a", "pipe.mp4"}));
}

// A folder the movie cannot go to is found before any frame is rendered, a disk that fills
// up when the movie is written; either is told in the interface language, naming the folder
// or file, with the reason in words and what to do, and without the system's text.
TEST_F(Exporter, UnwritableFoldersAreToldInThePersonsWords) {
  test::ScopedEnv home("HOME", out_.path().c_str());
  const std::string readOnly = out_.file("ro"), full = out_.file("full");
  fs::create_directory(readOnly);
  struct Unmount {
    std::string at;
    bool mounted;
    ~Unmount() {
      if (mounted) ::umount2(at.c_str(), MNT_DETACH);
    }
  } ro{readOnly, ::mount("tmpfs", readOnly.c_str(), "tmpfs", MS_RDONLY, "size=64k") == 0};
  test::SmallDisk disk(full, 64 * 1024);
  if (disk.mounted()) {
    const int filler = ::open((full + "/filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    const std::string block(4096, 'x');
    while (::write(filler, block.data(), block.size()) > 0) {
    }
    ::close(filler);
  }
  struct Case {
    std::string dest, tmpdir;
    bool ready, folder;
    std::string english, chinese;
  };
  const std::vector<Case> cases{
      {out_.file("nope/a.mp4"), tmp_.path(), true, true,
       "The export folder does not exist or cannot be written: ~/nope. It is missing. Choose "
       "another folder, then export again.",
       "导出文件夹不存在或无法写入：~/nope。文件或文件夹不存在。请选择其他文件夹，然后重新导出。"},
      {readOnly + "/a.mp4", tmp_.path(), ro.mounted, true,
       "The export folder does not exist or cannot be written: ~/ro. The disk is read-only. "
       "Choose another folder, then export again.",
       "导出文件夹不存在或无法写入：~/ro。磁盘是只读的。请选择其他文件夹，然后重新导出。"},
      {out_.file("a.mp4"), out_.file("gone"), true, true,
       "Could not create the export's working folder in ~/gone. It is missing. Make sure the "
       "temporary folder can be written to (or set TMPDIR to another folder), then export "
       "again.",
       "无法在 ~/gone 中创建导出的工作文件夹。文件或文件夹不存在。请确认临时文件夹可以写入（或"
       "用 TMPDIR 指定其他文件夹），然后重新导出。"},
      {full + "/a.mp4", tmp_.path(), disk.mounted(), false,
       "Could not write the file ~/full/a.mp4. The disk is full. Free some disk space, then "
       "export again.",
       "无法写入文件 ~/full/a.mp4。磁盘已满。请释放一些磁盘空间，然后重新导出。"},
      // The working file's name holds the working folder's UUID: "*" stands for it.
      {out_.file("a.mp4"), full, disk.mounted(), false,
       "Could not write the file ~/full/pexilar-export-*/render.mp4. The disk is full. Free some "
       "disk space, then export again.",
       "无法写入文件 "
       "~/full/pexilar-export-*/render.mp4。磁盘已满。请释放一些磁盘空间，然后重新导出。"},
  };
  for (const Case& c : cases) {
    if (!c.ready) continue;
    test::ScopedEnv tmpdir("TMPDIR", c.tmpdir.c_str());
    for (const AppLanguage language : {AppLanguage::english, AppLanguage::chinese}) {
      LanguageScope scope(language);
      const std::string& expected = language == AppLanguage::english ? c.english : c.chinese;
      std::vector<double> progress;
      try {
        MovieExporter().exportMovie(screenClip(0.2), plainSettings(), small(), c.dest,
                                    [&](double v) { progress.push_back(v); });
        ADD_FAILURE() << "exported despite " << expected;
      } catch (const StudioError& e) {
        const std::size_t star = expected.find('*');
        if (star == std::string::npos) {
          EXPECT_EQ(e.message(), expected);
        } else {
          EXPECT_EQ(e.message().substr(0, star), expected.substr(0, star));
          EXPECT_TRUE(e.message().ends_with(expected.substr(star + 1))) << e.message();
        }
      }
      // A folder's faults are found before the long work.
      if (c.folder) {
        EXPECT_TRUE(progress.empty()) << expected;
      }
    }
  }
  EXPECT_EQ(out_.entries(), (std::vector<std::string>{"full", "ro"}));
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(full))
    left.push_back(entry.path().filename().string());
  if (disk.mounted()) {
    EXPECT_EQ(left, std::vector<std::string>{"filler"});
  }
}

TEST_F(Exporter, ExtremeDocumentValuesStayDefined) {
  // Values a hand-edited document may hold; each reached an undefined conversion before.
  constexpr double kHuge = 1e308;
  EditSettings s;
  s.padding = kHuge;
  s.cameraSize = kHuge;
  s.zoomAmount = kHuge;
  s.smoothness = -kHuge;
  s.hold = kHuge;
  s.cameraPosition = Point{kHuge, -kHuge};
  s.background = std::numeric_limits<int64_t>::min();
  s.showClicks = true;
  Clip clip;
  clip.isDemo = true;
  clip.duration = 0.1;
  clip.zoomEventsOverride =
      std::vector<ZoomEvent>{{Uuid::random(), 0, kHuge, Point{kHuge, -kHuge}, kHuge}};
  const std::string dest = out_.file("extreme.mp4");
  run(clip, s, small(), dest);
  EXPECT_EQ(testing::probeMovie(dest).videoFrames, 3);
  s.padding = -kHuge;
  run(clip, s, small(), dest);
  EXPECT_EQ(testing::probeMovie(dest).videoFrames, 3);
}

TEST_F(Exporter, DemoProjectAndHevc) {
  Clip clip;
  clip.isDemo = true;
  clip.duration = 0.1;
  clip.audioPath = sources_->file("voice.m4a");  // the sound is added by remuxing
  ExportOptions o = small();
  o.encoding = ExportOptions::Encoding::hevc;
  const std::string dest = out_.file("demo.mp4");
  run(clip, EditSettings{}, o, dest);
  const auto info = testing::probeMovie(dest);
  EXPECT_EQ(info.codec, "hevc");
  EXPECT_EQ(info.codecTag, "hvc1");
  EXPECT_TRUE(info.hasAudio);
  EXPECT_EQ(info.videoFrames, 3);
  const auto pictures = testing::decodePictures(dest);
  ASSERT_FALSE(pictures.empty());
  // The demonstration screen's title bar shows inside the card.
  const QColor title = pictures[0].pixelColor(200, 40);
  EXPECT_NEAR(title.red(), 0xE8, 12);
}

TEST(FileDelivery, ACopyThatFailsPartWayLeavesNothing) {
  TempDir dir;
  const std::string from = dir.file("movie.mp4"), to = dir.file(".pexilar-copy.mp4");
  {
    std::ofstream out(from, std::ios::binary);
    const std::string block(1 << 20, 'x');
    for (int i = 0; i < 4; ++i)
      out << block;
  }
  // A file size limit makes the disk "full" half-way through the copy.
  const auto previous = std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit small = old;
  small.rlim_cur = 2 << 20;
  setrlimit(RLIMIT_FSIZE, &small);
  EXPECT_THROW(copyToNewFile(from, to), std::runtime_error);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, previous);
  EXPECT_FALSE(fs::exists(to));
  // An existing name is never overwritten.
  std::ofstream(to) << "someone else's";
  EXPECT_THROW(copyToNewFile(from, to), std::runtime_error);
  std::ifstream in(to);
  std::string text;
  std::getline(in, text);
  EXPECT_EQ(text, "someone else's");
  fs::remove(to);
  // A cancel between blocks stops the copy and removes it.
  int asked = 0;
  EXPECT_THROW(copyToNewFile(from, to, {}, [&] { return ++asked > 2; }), CancelledError);
  EXPECT_EQ(asked, 3);
  EXPECT_FALSE(fs::exists(to));
  copyToNewFile(from, to, 0640);
  EXPECT_EQ(fs::file_size(to), 4u << 20);
  EXPECT_EQ(fs::status(to).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

}  // namespace
}  // namespace vantry
