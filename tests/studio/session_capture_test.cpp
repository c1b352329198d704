// vantry-tool session records, opens and exports headless: the test X server's display and
// the synthetic camera stand in for a desktop.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "platform/ffmpeg/movie_fragments.h"
#include "support/disk_filler.h"
#include "support/fragmented_movie.h"
#include "support/shell.h"
#include "support/small_disk.h"
#include "support/temp_dir.h"
#include "support/xvfb.h"

// Last: Xlib's macros would clash with the headers above.
#include "support/noise_painter.h"

namespace vantry {
namespace {

namespace fs = std::filesystem;

TEST(SessionCapture, RecordsOpensTheRecordingAndExportsItOrCancels) {
  test::TempDir dir{"vantry-session-capture"};
  const fs::path script = dir.path / "script.txt";
  const fs::path out = dir.path / "out.mp4";
  const fs::path cancelled = dir.path / "cancelled.mp4";
  std::ofstream(script) << "prepare --camera\nrecord 1\nexport " << out.string()
                        << " --resolution 720 --fps 30\ncancelExport 0\nexport "
                        << cancelled.string() << "\nprepare --display 99999\n";
  const auto run = test::runShell("VANTRY_SYNTHETIC_CAMERA=1 XDG_DATA_HOME='" +
                                  (dir.path / "data").string() + "' " + VANTRY_TOOL_PATH +
                                  " session --demo '" + script.string() + "' 2>/dev/null");
  ASSERT_EQ(run.status, 0);
  std::vector<nlohmann::json> lines;
  std::istringstream in(run.out);
  for (std::string line; std::getline(in, line);)
    lines.push_back(nlohmann::json::parse(line));
  ASSERT_EQ(lines.size(), 6u);

  EXPECT_EQ(lines[0]["setupError"], "");
  EXPECT_FALSE(lines[0]["preparing"]);

  // The recording is the open project, saved as "edit.json" beside its movie.
  const fs::path project = lines[1]["project"].get<std::string>();
  EXPECT_EQ(project.filename(), "edit.json");
  EXPECT_TRUE(fs::exists(project));
  EXPECT_TRUE(fs::exists(project.parent_path() / "screen.mp4"));
  EXPECT_TRUE(fs::exists(project.parent_path() / "camera.mov"));
  EXPECT_FALSE(lines[1]["recording"]);
  EXPECT_EQ(lines[1]["error"], "");
  EXPECT_GT(lines[1]["duration"].get<double>(), 0.5);

  EXPECT_EQ(lines[2]["exportResult"], out.string());
  EXPECT_EQ(lines[2]["exportProgress"], 1.0);
  EXPECT_GT(fs::file_size(out), 1000u);

  EXPECT_TRUE(lines[4]["exportCancelled"]);
  EXPECT_EQ(lines[4]["exportFailure"], "");
  EXPECT_FALSE(fs::exists(cancelled));

  // A display that is not there: the setup says why instead of waiting.
  EXPECT_NE(lines[5]["setupError"], "");
}

// The disk fills while the controller records the screen, the camera and the microphone:
// the recording stops by itself at the screen movie's first failed write instead of
// counting on, opens what was kept, and the alert says what was kept where and what to do.
TEST(SessionCapture, AFullDiskStopsTheRecordingAndOpensWhatWasKept) {
  test::TempDir dir{"vantry-session-full"};
  test::XvfbProcess xvfb(640, 480);
  ASSERT_FALSE(xvfb.display().empty()) << xvfb.failure();
  // Full once a fragment of the noisy screen is on disk: a loaded machine writes its first
  // fragment late and large, and a disk that the movie alone fills may then hold none.
  // (Without a mount, the movie runs into the size limit.)
  test::SmallDisk disk(dir.path / "data", 16 * 1024 * 1024);
  const fs::path script = dir.path / "script.txt";
  std::ofstream(script) << "prepare --camera --mic\nrecord 60\n";
  test::NoisePainter noise(xvfb.display());
  const auto begin = std::chrono::steady_clock::now();
  auto session = std::async(std::launch::async, [&] {
    return test::runShell(disk.shellPrefix() + "DISPLAY=" + xvfb.display() +
                          " VANTRY_SYNTHETIC_CAMERA=1 XDG_DATA_HOME='" +
                          (dir.path / "data").string() + "' " + VANTRY_TOOL_PATH +
                          " session --demo '" + script.string() + "' 2>/dev/null");
  });
  if (disk.mounted()) {
    const fs::path recordings = dir.path / "data" / "Pexilar" / "Recordings";
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    fs::path movie;
    while (movie.empty() && std::chrono::steady_clock::now() < end) {
      std::error_code ec;
      for (fs::directory_iterator it(recordings, ec), e; !ec && it != e; it.increment(ec))
        movie = it->path() / "screen.mp4";
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // More than a second of it, so that what is kept is said in minutes and seconds.
    if (!movie.empty()) test::waitForFragments(movie, dir.path / "copy.mp4", 1.0);
    test::fillDisk(dir.path / "data" / "filler");
  }
  const auto run = session.get();
  const double ran =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_LT(ran, 45) << "the recording ran on";
  std::vector<nlohmann::json> lines;
  std::istringstream in(run.out);
  for (std::string line; std::getline(in, line);)
    lines.push_back(nlohmann::json::parse(line));
  ASSERT_EQ(lines.size(), 2u);
  ASSERT_EQ(lines[0]["setupError"], "");

  const auto& after = lines[1];
  EXPECT_FALSE(after["recording"]);
  const std::string error = after["error"];
  EXPECT_EQ(error.rfind("Could not write the screen recording ", 0), 0u) << error;
  EXPECT_NE(error.find("/screen.mp4. " + disk.reason() + " Kept 00:"), std::string::npos) << error;
  EXPECT_NE(error.find("Free some disk space, then record again."), std::string::npos);
  // The kept part is the open project.
  EXPECT_GT(after["duration"].get<double>(), 0.5);
  fs::path folder;
  for (const auto& e : fs::directory_iterator(dir.path / "data" / "Pexilar" / "Recordings"))
    folder = e.path();
  ASSERT_TRUE(fs::exists(folder / "project.json"));
  // Its first edit file found room beside it too.
  EXPECT_EQ(after["project"], (folder / "edit.json").string());
  EXPECT_TRUE(fs::exists(folder / "edit.json"));
  EXPECT_EQ(error.find("Could not save edits"), std::string::npos) << error;
  EXPECT_FALSE(fragmentLayout((folder / "screen.mp4").string()).cut());
  EXPECT_FALSE(fragmentLayout((folder / "camera.mov").string()).cut());
}

}  // namespace
}  // namespace vantry
