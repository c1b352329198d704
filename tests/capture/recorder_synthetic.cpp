// DisplayRecorder on the synthetic screen: the recording folder and its files, the pointer
// track, and every failure path (no frames, a stream error, a failed append, a writer that
// is never ready, failures during start).
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "capture/display_recorder.h"
#include "model/document_json.h"
#include "platform/ffmpeg/movie_fragments.h"
#include "platform/studio_error.h"
#include "platform/synthetic/faulty_video_sink.h"
#include "platform/synthetic/synthetic_screen.h"
#include "recorder_support.h"
#include "render/video_color.h"
#include "support/fragmented_movie.h"

namespace vantry {
namespace {

namespace fs = std::filesystem;
using platform::synthetic::FaultyVideoSink;
using platform::synthetic::SyntheticScreenCapture;
using Fault = SyntheticScreenCapture::StreamFault;

void sleepFor(double seconds) {
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

struct SyntheticRecording : ::testing::Test {
  test::RecorderTempDir dir;
  std::shared_ptr<SyntheticScreenCapture> screen = std::make_shared<SyntheticScreenCapture>();

  void SetUp() override {
    platform::DisplayInfo d;
    d.id = 7;
    d.frame = {0, 0, 640, 360};
    d.primary = true;
    screen->setDisplays({d});
  }

  RecorderEnvironment env(VideoSinkFactory sink = {}) {
    RecorderEnvironment e;
    e.screen = screen;
    e.makeSink = std::move(sink);
    e.recordingsFolder = (dir.path / "Recordings").string();
    return e;
  }

  // Waits until `condition` holds, at most `seconds`.
  template <typename F>
  bool waitFor(F condition, double seconds = 3) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
      if (std::chrono::steady_clock::now() > end) return false;
      sleepFor(0.005);
    }
    return true;
  }
};

TEST(CaptureSize, ExamplesAndTheCappedWidthIsExactly2560) {
  using R = platform::Rect;
  using S = DisplayRecorder::CaptureSize;
  EXPECT_EQ(DisplayRecorder::captureSizeFor(R{0, 0, 1920, 1080}, 1), (S{1920, 1080}));
  EXPECT_EQ(DisplayRecorder::captureSizeFor(R{0, 0, 1920, 1080}, 2), (S{2560, 1440}));
  EXPECT_EQ(DisplayRecorder::captureSizeFor(R{0, 0, 1512, 982}, 2), (S{2560, 1662}));
  EXPECT_EQ(DisplayRecorder::captureSizeFor(R{0, 0, 1001, 601}, 1), (S{1000, 600}));
  EXPECT_EQ(DisplayRecorder::captureSizeFor(R{0, 0, 1, 1}, 1), (S{2, 2}));
  EXPECT_EQ(DisplayRecorder::captureSizeFor(R{0, 0, 3000, 1}, 1), (S{2560, 2}));
  EXPECT_EQ(DisplayRecorder::captureSizeFor(R{0, 0, 3000, 1000}, 1), (S{2560, 852}));
  EXPECT_EQ(DisplayRecorder::captureSizeFor(R{0, 0, 2160, 3840}, 1), (S{2160, 3840}));
  EXPECT_EQ(DisplayRecorder::captureSizeFor(R{0, 0, 1000, 32767}, 1), (S{124, 4096}));
  // Scaling by 2560 / w and back loses a pixel for some widths; the width never drops.
  for (int w = 2561; w <= 8000; ++w) {
    for (double scale : {1.0, 1.25, 2.0}) {
      const S s = DisplayRecorder::captureSizeFor(R{0, 0, w / scale, 1440}, scale);
      ASSERT_EQ(s.width, 2560) << "width " << w << " scale " << scale;
    }
  }
}

TEST_F(SyntheticRecording, FolderFilesDocumentAndMovieAgree) {
  DisplayRecorder recorder(env());
  std::atomic<int> frames{0};
  std::atomic<int> untagged{0};
  recorder.onFrame = [&](const QImage& image) {
    if (image.width() == 640 && image.height() == 360) frames.fetch_add(1);
    // The live image carries the colour space every live picture has.
    if (image.colorSpace() != VideoColor::space()) untagged.fetch_add(1);
  };
  EXPECT_FALSE(recorder.startClock());
  screen->setPointer({320, 180}, false);
  const double before = platform::hostTime();
  recorder.start(7, std::nullopt);
  ASSERT_TRUE(waitFor([&] { return recorder.startClock().has_value(); }));
  EXPECT_GE(*recorder.startClock(), before);
  EXPECT_EQ(recorder.screenRect(), (platform::Rect{0, 0, 640, 360}));
  EXPECT_EQ(recorder.captureSize(), (DisplayRecorder::CaptureSize{640, 360}));
  sleepFor(1.0);
  const double stopCalled = platform::hostTime();
  const Clip clip = recorder.stop();
  const double stopped = platform::hostTime();
  EXPECT_TRUE(recorder.warning().empty()) << recorder.warning();
  EXPECT_GT(frames.load(), 20);
  EXPECT_EQ(untagged.load(), 0);

  // <folder>/<UPPER-CASE UUID>/
  const fs::path folder = recorder.folder();
  EXPECT_EQ(folder.parent_path(), dir.path / "Recordings");
  const std::string name = folder.filename().string();
  ASSERT_TRUE(Uuid::parse(name));
  EXPECT_EQ(name, Uuid::parse(name)->toString());

  // The stream was asked for the capture size, 60 frames a second, no cursor.
  auto config = screen->lastConfiguration();
  ASSERT_TRUE(config);
  EXPECT_EQ(config->width, 640);
  EXPECT_EQ(config->height, 360);
  EXPECT_NEAR(config->minimumFrameInterval, 1.0 / 60, 1e-12);
  EXPECT_EQ(config->queueDepth, 6);
  EXPECT_FALSE(config->showsCursor);

  // project.json is the returned document.
  const Clip stored = decodeClipFile((folder / "project.json").string());
  EXPECT_EQ(stored.id, clip.id);
  EXPECT_EQ(stored.duration, clip.duration);
  EXPECT_EQ(stored.width, 640);
  EXPECT_EQ(stored.height, 360);
  EXPECT_EQ(stored.screenPath, (folder / "screen.mp4").string());
  EXPECT_FALSE(stored.cameraPath || stored.audioPath || stored.cameraOffset || stored.audioOffset);
  EXPECT_FALSE(stored.keptRanges || stored.presenterEvents || stored.zoomEventsOverride ||
               stored.savedSettings);
  EXPECT_FALSE(stored.isDemo);
  EXPECT_EQ(stored.title.rfind("Recording · ", 0), 0u) << stored.title;
  // From time 0 to the stop instant, inside stop(), and a frame: however long the sleep or
  // the stop took on a loaded machine.
  EXPECT_GE(clip.duration, 1.0);
  EXPECT_GE(clip.duration, stopCalled - *recorder.startClock() + 1.0 / 60 - 1e-6);
  EXPECT_LE(clip.duration, stopped - *recorder.startClock() + 1.0 / 60 + 1e-6);

  // Sixty samples a second over the time really sampled, in time order, never negative,
  // never two at once, all at the centre. A busy machine skips a tick now and then, but
  // half the rate is far out.
  const auto& samples = stored.samples.get();
  ASSERT_GT(samples.size(), 10u);
  const double sampled = samples.back().time - samples.front().time;
  EXPECT_LE(double(samples.size() - 1), sampled * 60 + 1);
  EXPECT_GE(double(samples.size() - 1), sampled * 60 * 0.8);
  for (size_t i = 0; i < samples.size(); ++i) {
    EXPECT_GE(samples[i].time, 0.0);
    if (i) {
      EXPECT_GE(samples[i].time - samples[i - 1].time, 0.008) << "samples " << i - 1 << ", " << i;
    }
    EXPECT_NEAR(samples[i].x, 0.5, 1e-9);
    EXPECT_NEAR(samples[i].y, 0.5, 1e-9);
    EXPECT_FALSE(samples[i].clicked);
  }

  // capture-timing.json: compact, the two screen keys only.
  const std::string timing = test::readText(folder / "capture-timing.json");
  EXPECT_EQ(timing.find(' '), std::string::npos);
  EXPECT_EQ(timing.find('\n'), std::string::npos);
  const auto json = nlohmann::json::parse(timing);
  EXPECT_EQ(json.size(), 2u);
  EXPECT_DOUBLE_EQ(json.at("screenFirstPTS").get<double>(), *recorder.startClock());
  EXPECT_GE(json.at("screenCallbackHostTime").get<double>(),
            json.at("screenFirstPTS").get<double>());

  // The movie lasts exactly as long as the document and carries the colour tags.
  const test::MovieFacts movie = test::readMovie(folder / "screen.mp4");
  ASSERT_TRUE(movie.opened) << movie.error;
  EXPECT_EQ(movie.codec, AV_CODEC_ID_H264);
  EXPECT_EQ(movie.width, 640);
  EXPECT_EQ(movie.height, 360);
  EXPECT_EQ(movie.primaries, AVCOL_PRI_BT709);
  EXPECT_EQ(movie.transfer, AVCOL_TRC_IEC61966_2_1);
  EXPECT_EQ(movie.matrix, AVCOL_SPC_BT709);
  EXPECT_NEAR(movie.firstPts, 0.0, 1e-9);
  EXPECT_NEAR(movie.end, clip.duration, 1e-3);
  EXPECT_GT(movie.packets, 20);
}

TEST_F(SyntheticRecording, AStillScreenAtTheEndStillCountsAndTheLengthRuleHolds) {
  screen->setStreamFault(Fault::stall, 0.4);
  DisplayRecorder recorder(env());
  recorder.start(7, std::nullopt);
  ASSERT_TRUE(waitFor([&] { return recorder.startClock().has_value(); }));
  sleepFor(1.2);
  const double stopCalled = platform::hostTime();
  const Clip clip = recorder.stop();
  const double stopped = platform::hostTime();
  // max(stop instant - time 0, 1/60) + 1/60, with the stop instant inside stop().
  EXPECT_GE(clip.duration, stopCalled - *recorder.startClock() + 1.0 / 60 - 1e-6);
  EXPECT_LE(clip.duration, stopped - *recorder.startClock() + 1.0 / 60 + 1e-6);
  const auto movie = test::readMovie(fs::path(recorder.folder()) / "screen.mp4");
  EXPECT_NEAR(movie.end, clip.duration, 1e-3);
  EXPECT_GT(movie.end, 1.2);
}

// A screen that gives no frame fails with its message and keeps the folder; a recording the
// person stops before its first frame could come is no such failure, and leaves nothing.
TEST_F(SyntheticRecording, NoFramesFailsWithItsMessageAndKeepsTheFolder) {
  screen->setStreamFault(Fault::noFrames);
  {
    DisplayRecorder stoppedAtOnce(env());
    stoppedAtOnce.start(7, std::nullopt);
    try {
      stoppedAtOnce.stop();
      FAIL() << "stop() should fail";
    } catch (const StudioError& e) {
      EXPECT_STREQ(e.what(),
                   "The recording was stopped before anything was captured, so nothing was kept. "
                   "Start the recording again.");
    }
    EXPECT_FALSE(fs::exists(stoppedAtOnce.folder()));
  }
  DisplayRecorder recorder(env());
  recorder.start(7, std::nullopt);
  sleepFor(1.3);
  try {
    recorder.stop();
    FAIL() << "stop() should fail";
  } catch (const StudioError& e) {
    EXPECT_STREQ(e.what(),
                 "No video frames captured. Check screen recording permissions and try again.");
  }
  EXPECT_TRUE(fs::exists(recorder.folder()));
  EXPECT_FALSE(fs::exists(fs::path(recorder.folder()) / "project.json"));
}

TEST_F(SyntheticRecording, AStreamErrorEndsTheRecordingAtItsLastRealFrame) {
  screen->setStreamFault(Fault::stopWithError, 0.5, "The display went away.");
  DisplayRecorder recorder(env());
  std::mutex mutex;
  std::vector<std::string> reported;
  std::atomic<int> ended{0};
  recorder.onFailure = [&](const std::string& m) {
    std::lock_guard lock(mutex);
    reported.push_back(m);
  };
  // The owner learns that no frame will come, after the failure's text.
  recorder.onEnded = [&] {
    std::lock_guard lock(mutex);
    reported.push_back("ended");
    ended.fetch_add(1);
  };
  recorder.start(7, std::nullopt);
  ASSERT_TRUE(waitFor([&] {
    std::lock_guard lock(mutex);
    return reported.size() == 2;
  }));
  {
    std::lock_guard lock(mutex);
    EXPECT_EQ(reported, (std::vector<std::string>{"The display went away.", "ended"}));
  }
  ASSERT_TRUE(waitFor([&] { return recorder.ended(); }));
  EXPECT_EQ(ended.load(), 1);
  sleepFor(0.4);  // the owner stops a little later: those seconds are not part of it
  const Clip clip = recorder.stop();
  EXPECT_NE(recorder.warning().find("The display went away."), std::string::npos);
  // The movie, the track and the duration end at the last real frame, not at the stop,
  // and the last frame is not stretched over the seconds after it.
  const fs::path folder = recorder.folder();
  const auto movie = test::readMovie(folder / "screen.mp4");
  EXPECT_NEAR(movie.end, clip.duration, 1e-3);
  EXPECT_LT(movie.longestGap, 0.2);
  EXPECT_GT(clip.duration, 0.3);
  EXPECT_LT(clip.duration, 0.75);
  ASSERT_GT(clip.samples.size(), 15u);
  EXPECT_LE(clip.samples.get().back().time, clip.duration);
  EXPECT_GT(clip.samples.get().back().time, clip.duration - 0.1);
  EXPECT_TRUE(fs::exists(folder / "project.json"));
  EXPECT_TRUE(fs::exists(folder / "capture-timing.json"));
  EXPECT_EQ(ended.load(), 1);
}

// The movie's first failed write ends the recording there, as a lost stream does: what is
// written is kept and said to be kept, instead of a recording that goes on to nowhere.
TEST_F(SyntheticRecording, AFailedAppendEndsTheRecordingAndKeepsWhatWasWritten) {
  DisplayRecorder recorder(env(FaultyVideoSink::factory(FaultyVideoSink::Fault::failAppend, 20)));
  std::atomic<int> reports{0};
  std::atomic<int> ended{0};
  std::atomic<double> reportedAt{0};
  recorder.onFailure = [&](const std::string& m) {
    EXPECT_EQ(
        m.rfind("Could not write the screen recording " + recorder.folder() + "/screen.mp4.\n", 0),
        0u)
        << m;
    reportedAt.store(platform::hostTime());
    reports.fetch_add(1);
  };
  recorder.onEnded = [&] { ended.fetch_add(1); };
  recorder.start(7, std::nullopt);
  ASSERT_TRUE(waitFor([&] { return reports.load() > 0; }));
  EXPECT_TRUE(waitFor([&] { return recorder.ended(); }));
  sleepFor(0.5);
  const double stopAt = platform::hostTime();
  // At the 20th frame, long before the stop.
  EXPECT_LT(reportedAt.load(), stopAt - 0.4);
  const Clip clip = recorder.stop();
  EXPECT_EQ(reports.load(), 1);
  EXPECT_EQ(ended.load(), 1);
  // 19 frames: a third of a second at 60 a second, longer when the machine is loaded.
  const std::string kept = clip.duration < 1 ? "less than a second" : "00:01";
  EXPECT_NE(recorder.warning().find(". Kept " + kept + " of the recording in " + recorder.folder() +
                                    ". Check the disk and the recordings folder, then record "
                                    "again.\n"),
            std::string::npos)
      << recorder.warning();
  // The document lasts as long as the movie holds: 19 frames.
  const auto movie = test::readMovie(fs::path(recorder.folder()) / "screen.mp4");
  EXPECT_EQ(movie.packets, 19);
  EXPECT_NEAR(movie.end, clip.duration, 1e-3);
  EXPECT_LT(clip.duration, stopAt - *recorder.startClock() - 0.4);
  EXPECT_TRUE(fs::exists(fs::path(recorder.folder()) / "project.json"));
}

// A real full disk, filled by the movie: the failure is reported while recording, the
// recording stops by itself there, and the document still fits (the recorder keeps room for
// it). A small tmpfs where the test may mount, else a limit on the size of files.
TEST_F(SyntheticRecording, AFullFilesystemKeepsTheDocumentEndingWhereTheMovieDoes) {
  platform::DisplayInfo big;
  big.id = 7;
  big.frame = {0, 0, 1280, 720};
  big.primary = true;
  screen->setDisplays({big});
  const fs::path small = dir.path / "small";
  test::SmallDisk disk(small, 512 * 1024);
  disk.limitHere();

  RecorderEnvironment e = env();  // the real movie writer
  e.recordingsFolder = (small / "Recordings").string();
  DisplayRecorder recorder(e);
  std::atomic<double> reportedAt{0};
  recorder.onFailure = [&](const std::string& m) {
    EXPECT_NE(m.find("Could not write the screen recording "), std::string::npos) << m;
    reportedAt.store(platform::hostTime());
  };
  recorder.start(7, std::nullopt);
  // Full after about 10 s on an idle machine; a busy one encodes fewer frames.
  const bool reported = waitFor([&] { return reportedAt.load() > 0; }, 120);
  EXPECT_TRUE(waitFor([&] { return recorder.ended(); }));  // it stopped itself
  sleepFor(0.3);
  const double stopAt = platform::hostTime();
  Clip clip;
  ASSERT_NO_THROW(clip = recorder.stop()) << recorder.warning();
  ASSERT_TRUE(reported);
  EXPECT_LT(reportedAt.load(), stopAt - 0.2);  // while recording, not at the stop
  EXPECT_NE(recorder.warning().find(" " + disk.reason() + " Kept 00:"), std::string::npos)
      << recorder.warning();
  EXPECT_NE(recorder.warning().find("Free some disk space, then record again."), std::string::npos);
  EXPECT_EQ(recorder.warning().find("No space left on device"), std::string::npos);
  EXPECT_EQ(recorder.warning().find("File too large"), std::string::npos);

  // What is left: the document as returned, the movie as long as it, and no journal.
  const fs::path folder = recorder.folder();
  const Clip stored = decodeClipFile((folder / "project.json").string());
  EXPECT_EQ(stored.duration, clip.duration);
  EXPECT_EQ(stored.samples.size(), clip.samples.size());
  // The movie ends where its last complete fragment does, not inside the one that failed.
  EXPECT_FALSE(fragmentLayout((folder / "screen.mp4").string()).cut());
  const auto movie = test::readMovie(folder / "screen.mp4");
  ASSERT_TRUE(movie.opened) << movie.error;
  EXPECT_GT(clip.duration, 0.5);
  // As long as the movie says it is: its last frame lasts as long as it was shown, which on a
  // slow machine can be longer than any gap between the frames before it.
  EXPECT_NEAR(clip.duration, test::statedLength(folder / "screen.mp4"), 1e-3);
  EXPECT_LT(clip.duration, stopAt - *recorder.startClock() - 0.2);
  ASSERT_FALSE(clip.samples.empty());
  EXPECT_LE(clip.samples.get().back().time, clip.duration);
  EXPECT_FALSE(fs::exists(folder / "pointer-samples.partial"));
  EXPECT_FALSE(fs::exists(folder / ".pointer-samples.reserve"));
}

TEST_F(SyntheticRecording, ATimeoutOnTheLastFrameKeepsTheRecording) {
  // The writer takes 30 frames and then never has room again.
  DisplayRecorder recorder(env(FaultyVideoSink::factory(FaultyVideoSink::Fault::busyAfter, 30)));
  recorder.start(7, std::nullopt);
  sleepFor(1.0);
  // A busy machine may deliver fewer than 30 frames in a second: wait until the writer has
  // taken its 30 and turned a frame away, and the pointer has been sampled long enough.
  ASSERT_TRUE(waitFor(
      [&] {
        const auto s = recorder.stats();
        return s.framesWritten >= 30 && s.framesDropped >= 1 && s.ticks > 40;
      },
      30));
  const auto begin = std::chrono::steady_clock::now();
  const Clip clip = recorder.stop();
  // The last frame is waited for two seconds, not forever.
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count(), 4.0);
  EXPECT_NE(recorder.warning().find("Timed out saving the final frame."), std::string::npos)
      << recorder.warning();
  const auto movie = test::readMovie(fs::path(recorder.folder()) / "screen.mp4");
  EXPECT_EQ(movie.packets, 30);
  EXPECT_NEAR(movie.end, clip.duration, 1e-3);
  // The track ends with the picture.
  EXPECT_GT(clip.samples.size(), 20u);
  EXPECT_LE(clip.samples.get().back().time, clip.duration);
  EXPECT_TRUE(fs::exists(fs::path(recorder.folder()) / "project.json"));
}

TEST_F(SyntheticRecording, NothingWrittenFailsButNeverDeletes) {
  {
    // The very first append fails: nothing was recorded, the failure is the error.
    DisplayRecorder recorder(env(FaultyVideoSink::factory(FaultyVideoSink::Fault::failAppend, 1)));
    recorder.start(7, std::nullopt);
    sleepFor(0.3);
    EXPECT_THROW(
        {
          try {
            recorder.stop();
          } catch (const StudioError& e) {
            EXPECT_NE(std::string(e.what()).find("Could not write the screen recording "),
                      std::string::npos);
            throw;
          }
        },
        StudioError);
    EXPECT_TRUE(fs::exists(fs::path(recorder.folder()) / "screen.mp4"));
  }
  {
    // A writer that never has room: no frame was written; stop() does not hang.
    DisplayRecorder recorder(env(FaultyVideoSink::factory(FaultyVideoSink::Fault::neverReady)));
    recorder.start(7, std::nullopt);
    ASSERT_TRUE(waitFor([&] { return recorder.startClock().has_value(); }));
    sleepFor(0.2);
    const auto begin = std::chrono::steady_clock::now();
    try {
      recorder.stop();
      ADD_FAILURE() << "stop() should fail";
    } catch (const StudioError& e) {
      // The screen could be read; it is the file that took nothing.
      EXPECT_EQ(e.what(),
                "Could not write the screen recording " + recorder.folder() + "/screen.mp4.");
    }
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count(), 3.0);
    EXPECT_TRUE(fs::exists(fs::path(recorder.folder()) / "screen.mp4"));
  }
  {
    // A disk too small for the movie's first fragment: frames were taken, none is kept, and
    // the error says what to do.
    platform::DisplayInfo big;
    big.id = 7;
    big.frame = {0, 0, 1280, 720};
    big.primary = true;
    screen->setDisplays({big});
    test::SmallDisk disk(dir.path / "tiny", 160 * 1024);
    if (!disk.mounted()) return;
    RecorderEnvironment e = env();
    e.recordingsFolder = (dir.path / "tiny" / "Recordings").string();
    DisplayRecorder recorder(e);
    recorder.start(7, std::nullopt);
    ASSERT_TRUE(waitFor([&] { return recorder.ended(); }, 60));
    try {
      recorder.stop();
      ADD_FAILURE() << "stop() should fail";
    } catch (const StudioError& e) {
      EXPECT_EQ(std::string(e.what()),
                "Could not write the screen recording " + recorder.folder() +
                    "/screen.mp4. The disk is full. Free some disk space, then record again.");
    }
  }
}

// Records what the recorder asked of it, and when.
struct ProbeCompanion : RecordingCompanion {
  std::shared_ptr<SyntheticScreenCapture> screen;
  std::vector<std::string> calls;
  std::mutex mutex;
  bool failPrepare = false;
  bool failBegin = false;
  int streamsAtPrepare = -1;
  int streamsAtBegin = -1;
  int ticks = 0;

  void note(const std::string& c) {
    std::lock_guard lock(mutex);
    if (calls.empty() || calls.back() != c) calls.push_back(c);
  }
  void prepare(const std::string& folder) override {
    note("prepare");
    streamsAtPrepare = screen->runningStreams();
    std::ofstream(fs::path(folder) / "voice.m4a") << "x";
    if (failPrepare) throw StudioError("prepare failed");
  }
  void begin() override {
    note("begin");
    streamsAtBegin = screen->runningStreams();
    if (failBegin) throw StudioError("begin failed");
  }
  void abandon() override { note("abandon"); }
  void tick(double now, CaptureTimings& timings) override {
    note("tick");
    ++ticks;
    if (!timings.count("probeTick")) timings["probeTick"] = now;
  }
  std::optional<std::string> stop(std::optional<double>) override {
    note("stop");
    EXPECT_EQ(screen->runningStreams(), 0);
    return std::string("voice trouble");
  }
  void complete(Clip& clip, double startClock, CaptureTimings& timings) override {
    note("complete");
    clip.audioPath = "/rec/voice.m4a";  // a document names its media by absolute paths
    clip.audioOffset = startClock - 1.0;
    timings["probeComplete"] = 1.5;
  }
};

TEST_F(SyntheticRecording, CompanionsJoinTheStartOrderTheTicksAndTheStop) {
  auto probe = std::make_shared<ProbeCompanion>();
  probe->screen = screen;
  DisplayRecorder recorder(env());
  recorder.start(7, std::nullopt, {probe});
  EXPECT_EQ(probe->streamsAtPrepare, 0);  // before the screen stream
  EXPECT_EQ(probe->streamsAtBegin, 1);    // after it captures
  sleepFor(0.3);
  const Clip clip = recorder.stop();
  EXPECT_EQ(probe->calls,
            (std::vector<std::string>{"prepare", "begin", "tick", "stop", "complete"}));
  EXPECT_GT(probe->ticks, 5);
  EXPECT_EQ(clip.audioPath, "/rec/voice.m4a");
  EXPECT_DOUBLE_EQ(*clip.audioOffset, *recorder.startClock() - 1.0);
  // A companion's warning is kept; the recording is not lost for it.
  EXPECT_NE(recorder.warning().find("voice trouble"), std::string::npos);
  const auto timing =
      nlohmann::json::parse(test::readText(fs::path(recorder.folder()) / "capture-timing.json"));
  EXPECT_TRUE(timing.contains("probeTick"));
  EXPECT_EQ(timing.at("probeComplete").get<double>(), 1.5);
  EXPECT_EQ(decodeClipFile(fs::path(recorder.folder()) / "project.json").audioPath,
            "/rec/voice.m4a");
}

TEST_F(SyntheticRecording, StartFailuresUndoWhatWasOpenedAndRemoveTheFolder) {
  {
    screen->setContentError("Cannot reach the X display.");
    DisplayRecorder recorder(env());
    EXPECT_THROW(recorder.start(7, std::nullopt), platform::PlatformError);
    EXPECT_FALSE(fs::exists(recorder.folder()));
    screen->setContentError("");
  }
  {
    DisplayRecorder recorder(env());
    try {
      recorder.start(99, std::nullopt);
      FAIL();
    } catch (const StudioError& e) {
      EXPECT_STREQ(e.what(), "The selected display was disconnected. Select another display.");
    }
  }
  {
    // A window id wins over the display id, even one that names no display.
    DisplayRecorder recorder(env());
    try {
      recorder.start(7, 1234);
      FAIL();
    } catch (const StudioError& e) {
      EXPECT_STREQ(e.what(), "The selected window has closed. Select another window.");
    }
  }
  {
    auto probe = std::make_shared<ProbeCompanion>();
    probe->screen = screen;
    probe->failPrepare = true;
    DisplayRecorder recorder(env());
    EXPECT_THROW(recorder.start(7, std::nullopt, {probe}), StudioError);
    EXPECT_EQ(probe->calls, (std::vector<std::string>{"prepare", "abandon"}));
    EXPECT_FALSE(screen->lastConfiguration() && screen->runningStreams() > 0);
    // Nothing was recorded: no empty recording is left among the recordings.
    EXPECT_FALSE(fs::exists(recorder.folder()));
  }
  {
    auto probe = std::make_shared<ProbeCompanion>();
    probe->screen = screen;
    probe->failBegin = true;
    DisplayRecorder recorder(env());
    EXPECT_THROW(recorder.start(7, std::nullopt, {probe}), StudioError);
    EXPECT_EQ(probe->calls, (std::vector<std::string>{"prepare", "begin", "abandon"}));
    EXPECT_EQ(screen->runningStreams(), 0);
  }
  {
    screen->setStreamFault(Fault::failToStart, 0, "The stream could not start.");
    auto probe = std::make_shared<ProbeCompanion>();
    probe->screen = screen;
    DisplayRecorder recorder(env());
    try {
      recorder.start(7, std::nullopt, {probe});
      FAIL();
    } catch (const platform::PlatformError& e) {
      EXPECT_STREQ(e.what(), "The stream could not start.");
    }
    EXPECT_EQ(probe->calls, (std::vector<std::string>{"prepare", "abandon"}));
  }
  // Not one empty folder is left among the recordings.
  EXPECT_TRUE(fs::is_empty(dir.path / "Recordings"));
}

TEST_F(SyntheticRecording, ClickEdgesTapsAndAnUnreadablePointer) {
  DisplayRecorder recorder(env());
  screen->setPointer({160, 90}, false);
  recorder.start(7, std::nullopt);
  ASSERT_TRUE(waitFor([&] { return recorder.startClock().has_value(); }));
  sleepFor(0.2);
  screen->setPointer({160, 90}, true);  // press inside, held for many ticks
  sleepFor(0.25);
  screen->setPointer({160, 90}, false);
  sleepFor(0.2);
  screen->setPointer({700, 90}, true);  // press outside, dragged inside
  sleepFor(0.2);
  screen->setPointer({320, 90}, true);
  sleepFor(0.2);
  screen->setPointer({320, 90}, false);
  sleepFor(0.2);
  screen->tap();  // down and up between two ticks
  sleepFor(0.2);
  screen->setPointerReadable(false);  // repeats the last place, button up
  sleepFor(0.2);
  const Clip clip = recorder.stop();
  std::vector<PointerSample> clicks;
  for (const auto& s : clip.samples.get())
    if (s.clicked) clicks.push_back(s);
  ASSERT_EQ(clicks.size(), 2u);
  EXPECT_NEAR(clicks[0].x, 0.25, 1e-9);
  EXPECT_NEAR(clicks[0].y, 0.25, 1e-9);
  EXPECT_NEAR(clicks[1].x, 0.5, 1e-9);
  // The pointer right of the display clamps to 1; an unreadable pointer never jumps to 0.
  bool sawRightEdge = false;
  for (const auto& s : clip.samples.get()) {
    if (s.x == 1.0) sawRightEdge = true;
    EXPECT_FALSE(s.x == 0 && s.y == 0);
  }
  EXPECT_TRUE(sawRightEdge);
  EXPECT_NEAR(clip.samples.get().back().x, 0.5, 1e-9);
}

TEST_F(SyntheticRecording, AWindowRecordingFollowsTheMovedWindow) {
  platform::WindowInfo w;
  w.id = 42;
  w.title = "Editor";
  w.application = {"org.example.editor", "Editor", 4242};
  w.frame = {100, 100, 400, 300};
  screen->setWindows({w});
  DisplayRecorder recorder(env());
  screen->setPointer({300, 250}, false);  // the window's centre
  recorder.start(999, 42);                // the display id plays no part
  EXPECT_EQ(recorder.captureSize(), (DisplayRecorder::CaptureSize{400, 300}));
  ASSERT_EQ(screen->lastFilter()->kind, platform::ContentFilter::Kind::window);
  ASSERT_TRUE(waitFor([&] { return recorder.startClock().has_value(); }));
  sleepFor(0.3);
  const double moved = platform::hostTime() - *recorder.startClock();
  screen->setWindowRect(42, platform::Rect{200, 100, 400, 300});
  sleepFor(0.4);
  screen->setWindowRect(42, std::nullopt);  // gone: the last rectangle is kept
  sleepFor(0.2);
  const Clip clip = recorder.stop();
  EXPECT_EQ(recorder.screenRect(), (platform::Rect{200, 100, 400, 300}));
  double firstMovedSample = -1;
  for (const auto& s : clip.samples.get()) {
    if (s.time < moved) {
      EXPECT_NEAR(s.x, 0.5, 1e-9);
    }
    if (firstMovedSample < 0 && std::abs(s.x - 0.25) < 1e-9) firstMovedSample = s.time;
  }
  ASSERT_GE(firstMovedSample, 0);
  EXPECT_LT(firstMovedSample - moved, 0.25);  // re-read ten times a second
  EXPECT_NEAR(clip.samples.get().back().x, 0.25, 1e-9);
}

// A window far taller than the encoder takes (libx264 stops at 16384) is scaled to fit, as
// a wide one is: the recording starts and its movie has the size of the document.
TEST_F(SyntheticRecording, AWindowTallerThanTheEncoderAllowsIsScaledToFit) {
  platform::WindowInfo w;
  w.id = 42;
  w.title = "Log";
  w.application = {"org.example.log", "Log", 4242};
  w.frame = {0, 0, 1000, 32767};
  screen->setWindows({w});
  DisplayRecorder recorder(env());
  ASSERT_NO_THROW(recorder.start(7, 42));
  EXPECT_EQ(recorder.captureSize(), (DisplayRecorder::CaptureSize{124, 4096}));
  ASSERT_TRUE(waitFor([&] { return recorder.stats().framesWritten > 3; }));
  const Clip clip = recorder.stop();
  const auto movie = test::readMovie(fs::path(recorder.folder()) / "screen.mp4");
  EXPECT_EQ(movie.width, 124);
  EXPECT_EQ(movie.height, 4096);
  EXPECT_EQ(clip.height, 4096);
}

TEST_F(SyntheticRecording, DroppingARunningRecorderStopsEverythingAndKeepsAPlayableMovie) {
  fs::path folder;
  {
    auto probe = std::make_shared<ProbeCompanion>();
    probe->screen = screen;
    DisplayRecorder recorder(env());
    recorder.start(7, std::nullopt, {probe});
    sleepFor(2.3);
    folder = recorder.folder();
    (void)probe;
  }
  EXPECT_EQ(screen->runningStreams(), 0);
  // The movie ends where its last complete fragment does, not inside the one that failed.
  EXPECT_FALSE(fragmentLayout((folder / "screen.mp4").string()).cut());
  const auto movie = test::readMovie(folder / "screen.mp4");
  ASSERT_TRUE(movie.opened) << movie.error;
  EXPECT_GE(movie.end, 1.0);  // at least the whole fragments
}

}  // namespace
}  // namespace vantry
