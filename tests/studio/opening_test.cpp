// Opening a project never stops the main thread: the document is read and its movies are
// opened on a worker while the controller is busy, the project is installed all at once,
// and a newer open or a leave overtakes an open still running.
#include <gtest/gtest.h>

#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "fakes.h"
#include "localization/localization.h"
#include "model/document_json.h"
#include "platform/ffmpeg/movie_writer.h"
#include "studio/frame_source.h"
#include "support/stall_clock.h"
#include "support/temp_dir.h"

namespace vantry {
namespace {

using namespace vantry::testing;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

#if defined(__SANITIZE_THREAD__)
constexpr bool kTimed = false;
#else
constexpr bool kTimed = true;
#endif

double msSince(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// The calling thread's own CPU time.
double threadMilliseconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

struct StudioOpening : ::testing::Test {
  Harness h;
  OpenGate gate;
  test::TempDir dir{"vantry-opening"};
  std::unique_ptr<Studio> studio;
  std::mutex closedMutex;
  std::vector<std::pair<std::string, bool>> closed;  // path, on the main thread
  const std::thread::id main = std::this_thread::get_id();

  void SetUp() override {
    h.opening = [this](const std::string& path) { gate.pass(path); };
    h.closing = [this](const std::string& path) {
      std::lock_guard lock(closedMutex);
      closed.push_back({path, std::this_thread::get_id() == main});
    };
    studio = std::make_unique<Studio>(h.services());
  }
  void TearDown() override { studio.reset(); }

  // A recording folder "NAME" whose screen movie is "/NAME/screen.mov".
  std::string project(const std::string& name) {
    fs::path folder = dir.path / name;
    fs::create_directories(folder);
    Clip clip = recordedClip(false, false);
    clip.title = name;
    clip.screenPath = "/" + name + "/screen.mov";
    std::ofstream(folder / "project.json") << encodeClip(clip);
    return (folder / "project.json").string();
  }
  std::string editsOf(const std::string& name) { return (dir.path / name / "edit.json").string(); }
  std::vector<std::pair<std::string, bool>> closedReaders() {
    std::lock_guard lock(closedMutex);
    return closed;
  }
};

TEST_F(StudioOpening, NothingChangesUntilEverythingOpenedWhileTheControllerIsBusy) {
  ASSERT_TRUE(openAndWait(*studio, project("first")));
  studio->seek(5);
  studio->split();
  const std::string second = project("second");

  gate.hold("/second/screen.mov");
  std::optional<bool> opened;
  const auto t0 = Clock::now();
  ASSERT_TRUE(studio->openProjectFile(second, [&](bool ok) { opened = ok; }));
  EXPECT_LT(msSince(t0), 1000) << "the call waited for the movie";
  ASSERT_TRUE(gate.awaitHeld());
  QCoreApplication::processEvents();
  EXPECT_TRUE(studio->busy());
  EXPECT_EQ(studio->clip().title, "first");
  EXPECT_TRUE(studio->canUndo());
  EXPECT_EQ(studio->projectURL(), editsOf("first"));
  studio->split();  // the project is being left: no edits meanwhile
  EXPECT_EQ(studio->clip().ranges().size(), 2u);

  gate.release();
  ASSERT_TRUE(runUntil([&] { return opened.has_value(); }));
  EXPECT_TRUE(*opened);
  EXPECT_EQ(decodeClipFile(editsOf("first")).ranges().size(), 2u) << "left with its edits saved";
  EXPECT_FALSE(studio->busy());
  EXPECT_EQ(studio->clip().title, "second");
  EXPECT_FALSE(studio->canUndo());
  EXPECT_EQ(studio->projectURL(), editsOf("second"));
  EXPECT_EQ(studio->notice(), L("编辑自动保存 · 原始素材保留"));
  // The first project's reader was closed off the main thread.
  ASSERT_TRUE(runUntil([&] { return !closedReaders().empty(); }));
  EXPECT_EQ(closedReaders().front(), std::make_pair(std::string("/first/screen.mov"), false));
}

TEST_F(StudioOpening, ANewerOpenTheDemoOrTheLivePreviewOvertakesAnOpenAndItsReadersCloseAside) {
  const std::string slow = project("slow"), quick = project("quick");
  const std::vector<std::pair<std::function<void()>, std::function<bool()>>> overtakers = {
      {[&] { studio->openProjectFile(quick); }, [&] { return studio->clip().title == "quick"; }},
      {[&] { studio->enterStandby(); }, [&] { return studio->standby(); }},
      {[&] { studio->demo(); }, [&] { return studio->clip().isDemo; }},
  };
  for (const auto& [overtake, shown] : overtakers) {
    std::optional<bool> slowEnd;
    gate.hold("/slow/screen.mov");
    ASSERT_TRUE(studio->openProjectFile(slow, [&](bool ok) { slowEnd = ok; }));
    ASSERT_TRUE(gate.awaitHeld());
    overtake();
    gate.release();
    ASSERT_TRUE(runUntil([&] { return slowEnd.has_value() && !studio->busy(); }));
    EXPECT_FALSE(*slowEnd);
    EXPECT_TRUE(shown());
  }
  // Every stale reader, and the replaced projects' ones, closed on the worker.
  StudioTestAccess::settle(*studio);
  const auto all = closedReaders();
  EXPECT_EQ(
      std::count(all.begin(), all.end(), std::make_pair(std::string("/slow/screen.mov"), false)),
      3);
  EXPECT_EQ(std::count_if(all.begin(), all.end(), [](const auto& c) { return c.second; }), 0);
}

// Quitting while a chosen project's movie does not open (a file on a network mount that
// stopped answering): the controller goes without waiting, and the open left behind ends on
// its own once the file answers, dropping what it opened.
TEST_F(StudioOpening, QuittingNeverWaitsForAnOpenThatDoesNotReturn) {
  ASSERT_TRUE(openAndWait(*studio, project("first")));
  gate.patience = std::chrono::seconds(120);
  gate.hold("/stuck/screen.mov");
  ASSERT_TRUE(studio->openProjectFile(project("stuck")));
  ASSERT_TRUE(gate.awaitHeld());
  studio->cancelOpening();  // as the quit flow does
  studio.reset();
  EXPECT_TRUE(gate.holding()) << "the controller waited for the open";
  gate.release();
  ASSERT_TRUE(runUntil([&] {
    const auto all = closedReaders();
    return std::count(all.begin(), all.end(),
                      std::make_pair(std::string("/stuck/screen.mov"), false));
  }));
}

// Set while a process ends with an open stuck: what it would run among its static
// destructors.
StudioOpening* gStuckAtTheEnd = nullptr;

// Lets the stuck open go on and waits for its tail (its readers closed); the process ends
// with status 3 when it ran.
void releaseTheStuckOpen() {
  gStuckAtTheEnd->gate.release();
  for (int i = 0; i < 500; ++i) {
    for (const auto& [path, onMain] : gStuckAtTheEnd->closedReaders())
      if (path == "/stuck/screen.mov") std::_Exit(3);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// The process ends while an open is stuck (storage that stopped answering): the open may
// return at any moment, and its tail (readers closed, a result posted) must not run while
// the static objects it uses are destroyed. The process ends at once with its status, and
// runs neither the tail nor the static destructors.
TEST_F(StudioOpening, TheProcessEndsWithoutRunningTheTailOfAnOpenStillStuck) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        gate.patience = std::chrono::seconds(120);
        gate.hold("/stuck/screen.mov");
        studio->openProjectFile(project("stuck"));
        if (!gate.awaitHeld()) std::_Exit(4);
        studio->cancelOpening();
        studio.reset();
        gStuckAtTheEnd = this;
        std::atexit(releaseTheStuckOpen);
        std::exit(Studio::exitStatus(5));
      },
      ::testing::ExitedWithCode(5), "");
}

// Opening the project that is open once more used to read its file before the edits still
// on their way there were written: the older document was installed, and the next save
// wrote it back. Settings changed while it opened went the same way.
TEST_F(StudioOpening, OpeningTheOpenProjectAgainKeepsEveryEdit) {
  const std::string first = project("first");
  ASSERT_TRUE(openAndWait(*studio, first));
  studio->seek(5);
  studio->split();  // its autosave is still waiting
  // The writer stays busy until the document has been read (at most a few seconds).
  OpenGate saves;
  saves.hold("writer");
  StudioTestAccess::occupySaver(*studio, (dir.path / "elsewhere.json").string(),
                                [&] { saves.pass("writer"); });
  h.opening = [&](const std::string&) { saves.release(); };
  // Named another way, the file is still the one open.
  ASSERT_TRUE(openAndWait(*studio, (dir.path / "first" / "." / "project.json").string()));
  EXPECT_EQ(studio->clip().ranges().size(), 2u);
  EXPECT_EQ(decodeClipFile(editsOf("first")).ranges().size(), 2u);

  h.opening = [this](const std::string& path) { gate.pass(path); };
  gate.hold("/first/screen.mov");
  std::optional<bool> opened;
  ASSERT_TRUE(studio->openProjectFile(first, [&](bool ok) { opened = ok; }));
  ASSERT_TRUE(gate.awaitHeld());
  EditSettings look = studio->settings();
  look.padding = 0.05;
  look.zoomAmount = 3;
  studio->setSettings(look);
  gate.release();
  ASSERT_TRUE(runUntil([&] { return opened.has_value(); }));
  EXPECT_TRUE(*opened);
  EXPECT_EQ(studio->clip().ranges().size(), 2u);
  EXPECT_EQ(studio->settings(), look);
  EXPECT_EQ(studio->motion().state(11).zoom, MotionTimeline(studio->clip(), look).state(11).zoom);
  EXPECT_EQ(decodeClipFile(editsOf("first")).savedSettings, look);
}

// A real project, read by the FFmpeg readers: the longest turn of the main thread while it
// opens, against a 1 ms timer.
TEST(StudioOpeningMovies, TheMainThreadKeepsTurningWhileAProjectOpens) {
  test::TempDir dir("vantry-opening-movie");
  const std::string movie = (dir.path / "screen.mp4").string();
  {
    MovieWriterSettings settings;
    settings.path = movie;
    settings.video = VideoTrackSettings{};
    settings.video->width = 320;
    settings.video->height = 180;
    MovieWriter writer(settings);
    ASSERT_TRUE(writer.start()) << writer.error();
    QImage picture(320, 180, QImage::Format_ARGB32);
    for (int i = 0; i < 60; ++i) {
      picture.fill(QColor::fromHsv(i * 6, 200, 200));
      auto held = std::make_shared<QImage>(picture);
      VideoFrameView view;
      view.data = held->constBits();
      view.width = 320;
      view.height = 180;
      view.stride = int(held->bytesPerLine());
      view.owner = held;
      ASSERT_TRUE(writer.appendVideo(view, i / 60.0, {}, true));
    }
    ASSERT_TRUE(writer.finish()) << writer.error();
  }
  // Ten minutes of pointer track: a long document to read.
  Clip clip;
  clip.title = "long";
  clip.duration = 600;
  clip.screenPath = movie;
  std::vector<PointerSample> samples;
  for (int i = 0; i < 36000; ++i)
    samples.push_back({i / 60.0, 0.5, 0.5, i % 900 == 0});
  clip.samples = samples;
  const std::string document = (dir.path / "project.json").string();
  std::ofstream(document) << encodeClip(clip);

  Harness h;
  StudioServices services = h.services();
  services.openFrames = [](const std::string& path) { return openMovieFrames(path); };
  Studio studio(services);
  // The main thread's longest time between two turns of a 1 ms timer that it did not spend
  // queued for a processor (work or waiting), and its CPU time in that turn.
  const test::StallClock stall;
  ASSERT_TRUE(stall.available()) << "the kernel gives no scheduler statistics";
  double longest = 0;
  double longestCpu = 0;
  double last = stall.milliseconds();
  double lastCpu = threadMilliseconds();
  auto turn = [&] {
    const double now = stall.milliseconds(), cpu = threadMilliseconds();
    if (now - last > longest) {
      longest = now - last;
      longestCpu = cpu - lastCpu;
    }
    last = now;
    lastCpu = cpu;
  };
  QTimer watchdog;
  watchdog.setTimerType(Qt::PreciseTimer);
  QObject::connect(&watchdog, &QTimer::timeout, turn);
  watchdog.start(1);
  std::optional<bool> opened;
  const auto t0 = Clock::now();
  const double call0 = stall.milliseconds();
  last = call0;
  lastCpu = threadMilliseconds();
  ASSERT_TRUE(studio.openProjectFile(document, [&](bool ok) { opened = ok; }));
  const double call = stall.milliseconds() - call0;
  ASSERT_TRUE(runUntil([&] {
    return opened.has_value() && studio.screenFrames() && studio.screenFrames()->latestTime() >= 0;
  }));
  turn();
  const double total = msSince(t0);
  EXPECT_TRUE(*opened) << studio.error().value_or("");
  EXPECT_EQ(studio.clip().samples.size(), 36000u);
  // Generous for a loaded machine; reading the document alone takes far longer here.
  // Under ThreadSanitizer every thread waits on the checker's own locks: no timing there.
  if (kTimed) {
    EXPECT_LT(call, 50) << "of " << total << " ms";
    EXPECT_LT(longest, 100) << "of " << total << " ms, " << longestCpu << " ms of it working";
  }
}

}  // namespace
}  // namespace vantry
