// A recording holds whatever was on the screen: its folders (and our data folder above them)
// and files are their owner's alone, whatever the umask, and a recovered document is no
// exception.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "capture/camera_companion.h"
#include "capture/display_recorder.h"
#include "capture/pointer_journal.h"
#include "capture/recording_recovery.h"
#include "platform/synthetic/synthetic_camera.h"
#include "support/scoped_env.h"
#include "synthetic_display_fixture.h"

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

}  // namespace
}  // namespace vantry
