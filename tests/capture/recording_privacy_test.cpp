// A recording holds whatever was on the screen: its folders (and our data folder above them)
// and files are their owner's alone, whatever the umask, and a recovered document is no
// exception. A display recording leaves out the app's own windows and no other program's,
// and a press in them is no click.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QImage>
#include <chrono>
#include <cmath>
#include <mutex>
#include <optional>
#include <thread>

#include "capture/camera_companion.h"
#include "capture/display_recorder.h"
#include "capture/pointer_journal.h"
#include "capture/recording_recovery.h"
#include "platform/synthetic/synthetic_camera.h"
#include "support/scoped_env.h"
#include "synthetic_display_fixture.h"

// Last: Xlib's macros clash with the headers above.
#include "../platform/x11_test_server.h"

namespace vantry {
namespace {

namespace fs = std::filesystem;

mode_t modeOf(const fs::path& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 01000;  // 01000: missing
}

struct UmaskScope {
  mode_t old;
  explicit UmaskScope(mode_t mask) : old(::umask(mask)) {}
  ~UmaskScope() { ::umask(old); }
};

bool waitForClock(const DisplayRecorder& recorder) {
  for (int i = 0; i < 600 && !recorder.startClock(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return recorder.startClock().has_value();
}

using PrivateRecording = test::SyntheticDisplayRecording;

TEST_F(PrivateRecording, FoldersAndFilesAreTheOwnersAloneWhateverTheUmask) {
  const fs::path recordings = root / "Recordings";
  for (const mode_t mask : {mode_t(022), mode_t(002), mode_t(077)}) {
    SCOPED_TRACE("umask " + std::to_string(mask));
    UmaskScope scope(mask);
    // Made before, open to every user: closed when the next recording starts.
    fs::create_directories(recordings);
    ::chmod(recordings.c_str(), 0775);

    auto camera = std::make_shared<CameraRecorder>([] {
      return std::make_unique<platform::SyntheticCamera>(platform::SyntheticCamera::Options{});
    });
    camera->preparePreview();
    DisplayRecorder recorder(env());
    recorder.start(7, std::nullopt, makeRecordingCompanions(true, false, camera));
    ASSERT_TRUE(waitForClock(recorder));
    std::this_thread::sleep_for(std::chrono::milliseconds(400));  // the journal's first ticks
    const fs::path folder = recorder.folder();
    EXPECT_EQ(modeOf(recordings), 0700u);
    EXPECT_EQ(modeOf(folder), 0700u);
    // While recording: what a killed process would leave behind.
    for (const char* name : {"screen.mp4", "camera.mov", kPointerJournalName})
      EXPECT_EQ(modeOf(folder / name), 0600u) << name;
    recorder.stop();
    for (const char* name : {"screen.mp4", "camera.mov", "project.json", "capture-timing.json"})
      EXPECT_EQ(modeOf(folder / name), 0600u) << name;

    // A recording whose process died is rebuilt into a document just as private.
    fs::path dropped;
    {
      DisplayRecorder dying(env());
      dying.start(7, std::nullopt);
      ASSERT_TRUE(waitForClock(dying));
      std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // a fragment or two
      dropped = dying.folder();
    }
    ASSERT_EQ(recoverRecordings(recordings.string()).recovered.size(), 1u);
    EXPECT_EQ(modeOf(dropped / "project.json"), 0600u);
  }

  // The data folder above the usual recordings folder is ours as well: closed alike.
  const fs::path data = root / "data";
  test::ScopedEnv home("XDG_DATA_HOME", data.c_str());
  fs::create_directories(data / "Pexilar" / "Recordings");
  ::chmod((data / "Pexilar").c_str(), 0755);
  ::chmod((data / "Pexilar" / "Recordings").c_str(), 0755);
  RecorderEnvironment usual = env();
  usual.recordingsFolder.clear();
  DisplayRecorder recorder(usual);
  recorder.start(7, std::nullopt);
  EXPECT_EQ(fs::path(recorder.folder()).parent_path(), data / "Pexilar" / "Recordings");
  EXPECT_EQ(modeOf(data / "Pexilar"), 0700u);
  EXPECT_EQ(modeOf(data / "Pexilar" / "Recordings"), 0700u);
  ASSERT_TRUE(waitForClock(recorder));
  recorder.stop();
}

// Another program takes windows of ours that were never shown into its own (an
// override-redirect window, or the window manager's frame around its own window) and marks
// them as client windows, and puts a window of its own inside one of ours. Its windows are
// recorded, and pressed, as they are, wherever they are; ours and the manager's frame around
// them are painted out, and a press there is no click.
TEST(XvfbPrivacy, OnlyTheAppsOwnWindowsAreLeftOutAndUnclickedWhateverAnotherProgramHoldsOfOurs) {
  for (const bool managed : {false, true}) {
    SCOPED_TRACE(managed ? "with a window manager" : "without a window manager");
    testing::PrivateXServer x(640, 480);
    Display* other = x.display();
    testing::ColourWindow desk(other, 0, 0, 640, 480, 0x0000ff, "Desk", "Desk");
    std::optional<testing::FakeWindowManager> wm;
    if (managed) wm.emplace(x.name());
    testing::OwnConnection ours(x.name());
    testing::ColourWindow main(ours.display(), 40, 40, 160, 100, 0x00ff00, "Vantry", "Vantry");
    if (wm) wm->frame(main.id(), 40, 40, 160, 100, 0x808080);
    auto unshown = [&] {
      return XCreateSimpleWindow(ours.display(), DefaultRootWindow(ours.display()), 0, 0, 40, 40, 0,
                                 0, 0xffffff);
    };
    const Window takenIntoOwn = unshown(), takenIntoFrame = unshown();
    XSync(ours.display(), False);

    XSetWindowAttributes a{};
    a.background_pixel = 0xff8000;
    a.override_redirect = True;
    const Window holder =
        XCreateWindow(other, DefaultRootWindow(other), 300, 40, 160, 100, 0, CopyFromParent,
                      InputOutput, CopyFromParent, CWBackPixel | CWOverrideRedirect, &a);
    XReparentWindow(other, takenIntoOwn, holder, 0, 0);
    testing::FakeWindowManager::setWmState(other, takenIntoOwn);
    XMapRaised(other, holder);
    const Window intruder =
        XCreateSimpleWindow(other, DefaultRootWindow(other), 0, 0, 50, 30, 0, 0, 0xff00ff);
    XReparentWindow(other, intruder, main.id(), 100, 60);
    XMapWindow(other, intruder);
    std::optional<testing::ColourWindow> notes;
    if (wm) {
      notes.emplace(other, 300, 260, 160, 100, 0x00ffff, "Notes", "Notes");
      const Window frame = wm->frame(notes->id(), 300, 260, 160, 100, 0x808080);
      XReparentWindow(other, takenIntoFrame, frame, 0, 0);
      XLowerWindow(other, takenIntoFrame);  // found before the frame's own client
      testing::FakeWindowManager::setWmState(other, takenIntoFrame);
    }
    XSync(other, False);

    test::RecorderTempDir dir;
    RecorderEnvironment env;
    env.recordingsFolder = (dir.path / "Recordings").string();
    DisplayRecorder recorder(env);
    std::mutex mutex;
    QImage last;
    recorder.onFrame = [&](const QImage& image) {
      std::lock_guard lock(mutex);
      last = image.copy();
    };
    recorder.start(platform::defaultScreenCapture()->shareableContent().displays.at(0).id,
                   std::nullopt);
    ASSERT_TRUE(waitForClock(recorder));
    auto waitTicks = [&](std::int64_t n) {
      const std::int64_t until = recorder.stats().ticks + n;
      for (int i = 0; i < 2000 && recorder.stats().ticks < until; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    };
    // Each press is seen by a tick with the pointer still there.
    auto pressAt = [&](int px, int py) {
      x.movePointer(px, py);
      waitTicks(2);
      x.button(true);
      x.button(false);
      waitTicks(2);
    };
    struct Spot {
      int x, y;
      bool clicked;
      std::uint32_t recorded;
    };
    std::vector<Spot> spots = {{120, 100, false, 0x0000ff},  // ours: what lies beneath
                               {120, 50, false, 0x0000ff},   // its title strip, when framed
                               {380, 90, true, 0xff8000},    // the other program's window
                               {165, 125, true, 0xff00ff},   // ...and its window inside ours
                               {560, 440, true, 0x0000ff}};  // the desk
    if (managed) {
      spots.push_back({380, 330, true, 0x00ffff});  // the other's managed window...
      spots.push_back({380, 270, true, 0x808080});  // ...and the manager's frame around it
    }
    for (const Spot& spot : spots)
      pressAt(spot.x, spot.y);
    const Clip clip = recorder.stop();

    QImage frame;
    {
      std::lock_guard lock(mutex);
      frame = last;
    }
    ASSERT_EQ(frame.size(), QSize(640, 480));
    std::vector<std::pair<int, int>> clicks;
    for (const PointerSample& s : clip.samples.get())
      if (s.clicked) clicks.emplace_back(int(std::lround(s.x * 640)), int(std::lround(s.y * 480)));
    std::vector<std::pair<int, int>> expected;
    for (const Spot& spot : spots) {
      EXPECT_EQ(frame.pixel(spot.x, spot.y) & 0xffffffu, spot.recorded)
          << "at " << spot.x << ", " << spot.y;
      if (spot.clicked) expected.emplace_back(spot.x, spot.y);
    }
    EXPECT_EQ(clicks, expected);
  }
}

}  // namespace
}  // namespace vantry
