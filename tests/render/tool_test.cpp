#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "model/clip.h"
#include "model/document_json.h"
#include "movie_fixtures.h"
#include "render/export_workspace.h"
#include "support/scoped_env.h"

namespace vantry {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

// Runs vantry-tool with arguments; stdout lines are handed to `onLine` as they come.
// Returns the exit status (or 128 + signal).
template <typename OnLine>
int runTool(const std::vector<std::string>& args, OnLine onLine, std::string* err = nullptr) {
  int out[2], errPipe[2];
  if (pipe(out) != 0 || pipe(errPipe) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    dup2(errPipe[1], 2);
    close(out[0]);
    close(errPipe[0]);
    std::vector<char*> argv{const_cast<char*>(VANTRY_TOOL_PATH)};
    for (const auto& a : args)
      argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(VANTRY_TOOL_PATH, argv.data());
    _exit(127);
  }
  close(out[1]);
  close(errPipe[1]);
  FILE* f = fdopen(out[0], "r");
  char line[256];
  while (fgets(line, sizeof line, f)) {
    std::string text(line);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    onLine(text, pid);
  }
  fclose(f);
  std::string errors;
  char buffer[512];
  ssize_t n;
  while ((n = read(errPipe[0], buffer, sizeof buffer)) > 0)
    errors.append(buffer, n);
  close(errPipe[0]);
  if (err) *err = errors;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class ToolExport : public ::testing::Test {
 protected:
  // Six seconds: long enough to interrupt, and no project here claims more than its movie.
  void SetUp() override { testing::makeIndexedMovie(dir_.file("screen.mp4"), 180, 30); }
  std::string project(double duration) {
    Clip clip;
    clip.title = "tool";
    clip.duration = duration;
    clip.screenPath = dir_.file("screen.mp4");
    const std::string path = dir_.file("edit.json");
    std::ofstream(path) << encodeClip(clip);
    return path;
  }
  TempDir dir_;
};

TEST_F(ToolExport, PrintsEveryProgressValueThenTheTime) {
  const std::string out = dir_.file("out.mov");
  std::vector<std::string> lines;
  const int rc = runTool({"export", project(0.6), out, "--format", "mov", "--resolution", "720",
                          "--fps", "30", "--quality", "compact"},
                         [&](const std::string& line, pid_t) { lines.push_back(line); });
  ASSERT_EQ(rc, 0);
  ASSERT_GE(lines.size(), 6u);
  // 18 frames: 0, 8/18, 16/18 of 0.94, then 0.94, 0.95, 0.99, 1.
  const std::vector<double> expected{0, 8.0 / 18 * 0.94, 16.0 / 18 * 0.94, 0.94, 0.95, 0.99, 1};
  ASSERT_EQ(lines.size(), expected.size() + 1);
  for (size_t i = 0; i < expected.size(); ++i)
    EXPECT_NEAR(std::stod(lines[i]), expected[i], 1e-5);
  EXPECT_EQ(lines.back().rfind("done in ", 0), 0u);
  EXPECT_EQ(testing::probeMovie(out).videoFrames, 18);
}

TEST_F(ToolExport, InterruptCancelsAndFailuresExitWithTheMessage) {
  const std::string out = dir_.file("never.mp4");
  bool sent = false;
  std::string errors;
  const int rc = runTool(
      {"export", project(6), out, "--resolution", "720", "--fps", "30"},
      [&](const std::string&, pid_t pid) {
        if (!sent) kill(pid, SIGINT);
        sent = true;
      },
      &errors);
  EXPECT_TRUE(sent);
  EXPECT_EQ(rc, 1);
  EXPECT_FALSE(fs::exists(out));
  EXPECT_NE(errors, "");
  // A polite kill cancels the same way: the tool cleans up and says so.
  sent = false;
  EXPECT_EQ(runTool(
                {"export", project(6), out, "--resolution", "720", "--fps", "30"},
                [&](const std::string&, pid_t pid) {
                  if (!sent) kill(pid, SIGTERM);
                  sent = true;
                },
                &errors),
            1);
  EXPECT_FALSE(fs::exists(out));
  EXPECT_NE(errors, "");
  // A project file that does not exist.
  EXPECT_EQ(runTool({"export", dir_.file("missing.json"), out}, [](const std::string&, pid_t) {}),
            1);
  EXPECT_EQ(runTool({"export", "--demo", out, "--fps", "25"}, [](const std::string&, pid_t) {}),
            64);
}

TEST_F(ToolExport, AKilledExportLeavesOnlyItsMarkAndTheNextSweepsIt) {
  TempDir tmp;
  test::ScopedEnv tmpdir("TMPDIR", tmp.path().c_str());
  const std::string out = dir_.file("killed.mp4");
  bool killed = false;
  runTool({"export", project(6), out, "--resolution", "720", "--fps", "30"},
          [&](const std::string&, pid_t pid) {
            if (!killed) kill(pid, SIGKILL);
            killed = true;
          });
  ASSERT_TRUE(killed);
  // Only the small private folder with its owner's mark; the render file had no name.
  auto ours = [&] {
    auto names = tmp.entries();
    std::erase_if(names, [](const std::string& n) { return n.rfind("pexilar", 0) != 0; });
    return names;
  };
  const auto left = ours();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].rfind("pexilar-export-", 0), 0u);
  std::vector<std::string> inside;
  for (const auto& e : fs::directory_iterator(tmp.file(left[0])))
    inside.push_back(e.path().filename().string());
  EXPECT_EQ(inside, std::vector<std::string>{"owner"});
  // The next export sweeps it.
  ASSERT_EQ(runTool({"export", project(0.2), out, "--resolution", "720", "--fps", "30"},
                    [](const std::string&, pid_t) {}),
            0);
  EXPECT_TRUE(ours().empty());
  EXPECT_EQ(dir_.entries(), (std::vector<std::string>{"edit.json", "killed.mp4", "screen.mp4"}));
}

TEST(ExportWorkspace, SweepsOnlyWhatDeadExportsLeft) {
  TempDir root, beside;
  const std::string dead = root.file("pexilar-export-dead"),
                    young = root.file("pexilar-export-new");
  fs::create_directory(dead);
  fs::create_directory(young);
  std::ofstream(dead + "/render.mp4") << "partial";
  std::ofstream(beside.file(".pexilar-copy.mp4")) << "partial";
  std::ofstream(beside.file("movie.mp4")) << "keep";
  // A process id that cannot exist, and a hidden copy it noted beside its destination.
  std::ofstream(dead + "/owner") << "2147483647 1\n"
                                 << beside.file(".pexilar-copy.mp4") << "\n"
                                 << beside.file("movie.mp4") << "\n";
  {
    ExportWorkspace live(root.path());  // sweeps first, then is alive itself
    EXPECT_FALSE(fs::exists(dead));
    EXPECT_TRUE(fs::exists(young));  // no owner yet: being set up right now
    EXPECT_EQ(beside.entries(), std::vector<std::string>{"movie.mp4"});
    ExportWorkspace::sweepStale(root.path());
    EXPECT_TRUE(fs::exists(live.path()));
  }
  EXPECT_EQ(root.entries(), std::vector<std::string>{"pexilar-export-new"});
}

TEST_F(ToolExport, FrameComposesOnePicture) {
  const std::string png = dir_.file("frame.png");
  ASSERT_EQ(runTool({"frame", project(2), "--at", "1", png, "--size", "640x360"},
                    [](const std::string&, pid_t) {}),
            0);
  QImage image(QString::fromStdString(png));
  ASSERT_EQ(image.size(), QSize(640, 360));
  // The card holds source frame 30 (one second in), drawn smaller than the canvas.
  const QRect card(qRound(51.2 / 3), qRound(28.8 / 3), qRound(1817.6 / 3), qRound(1022.4 / 3));
  EXPECT_EQ(testing::readIndex(image, card), 30);
}

TEST_F(ToolExport, ThumbnailIsTheStillAtAThirdCappedAtOneSecond) {
  auto still = [this](const std::string& movie) {
    const std::string png = dir_.file("still.png");
    std::filesystem::remove(png);
    const int rc = runTool({"thumbnail", movie, png}, [](const std::string&, pid_t) {});
    return std::make_pair(rc, QImage(QString::fromStdString(png)));
  };
  // Six seconds: the picture one second in, small enough to keep its size.
  auto [rc, image] = still(dir_.file("screen.mp4"));
  ASSERT_EQ(rc, 0);
  EXPECT_EQ(image.size(), QSize(320, 180));
  EXPECT_EQ(testing::readIndex(image, image.rect()), 30);
  // Half a second: a third of it in, scaled down to fit 576 x 324.
  testing::makeIndexedMovie(dir_.file("short.mp4"), 15, 30, 1280, 720);
  std::tie(rc, image) = still(dir_.file("short.mp4"));
  ASSERT_EQ(rc, 0);
  EXPECT_EQ(image.size(), QSize(576, 324));
  EXPECT_EQ(testing::readIndex(image, image.rect()), 5);
  // No movie: a failure, and no picture.
  std::tie(rc, image) = still(dir_.file("missing.mp4"));
  EXPECT_EQ(rc, 1);
  EXPECT_TRUE(image.isNull());
}

}  // namespace
}  // namespace vantry
