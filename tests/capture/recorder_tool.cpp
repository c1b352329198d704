// vantry-tool record, run as users run it: the folder path on success, the translated error
// and exit 1 on failure, a clean stop on SIGTERM, and PNG frames in preview mode.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <thread>

#include "model/document_json.h"
#include "recorder_support.h"

namespace vantry {
namespace {

namespace fs = std::filesystem;

struct ToolRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Runs vantry-tool with a private Xvfb as its display and private data and config folders.
class RecordTool : public ::testing::Test {
 protected:
  test::RecorderTempDir home;
  test::PrivateXvfbServer xvfb{640, 480};
  std::string display = xvfb.display;

  void SetUp() override { ASSERT_FALSE(display.empty()); }

  // Starts the tool; `afterStart` runs in the parent with the child's pid.
  ToolRun run(std::vector<std::string> args, std::function<void(pid_t)> afterStart = {}) {
    const fs::path out = home.path / "out.txt";
    const fs::path err = home.path / "err.txt";
    pid_t child = fork();
    if (child == 0) {
      setenv("DISPLAY", display.c_str(), 1);
      setenv("XDG_DATA_HOME", (home.path / "data").c_str(), 1);
      setenv("XDG_CONFIG_HOME", (home.path / "config").c_str(), 1);
      freopen(out.c_str(), "w", stdout);
      freopen(err.c_str(), "w", stderr);
      std::vector<char*> argv{const_cast<char*>(VANTRY_TOOL_PATH), const_cast<char*>("record")};
      for (auto& a : args)
        argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(VANTRY_TOOL_PATH, argv.data());
      _exit(127);
    }
    if (afterStart) afterStart(child);
    int status = 0;
    waitpid(child, &status, 0);
    ToolRun r;
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = test::readText(out);
    r.err = test::readText(err);
    return r;
  }
};

std::string firstLine(const std::string& text) {
  return text.substr(0, text.find('\n'));
}

TEST_F(RecordTool, PrintsTheRecordingFolderOrStopsCleanlyOnSigterm) {
  const ToolRun timed = run({"--seconds", "1"});
  ASSERT_EQ(timed.exitCode, 0) << timed.err;
  const fs::path folder = firstLine(timed.out);
  EXPECT_EQ(folder.parent_path(), home.path / "data" / "Pexilar" / "Recordings");
  const Clip clip = decodeClipFile((folder / "project.json").string());
  EXPECT_NEAR(clip.duration, 1.0, 0.3);
  EXPECT_EQ(clip.width, 640);

  // Asked for a minute, stopped after about a second by SIGTERM: still a whole recording.
  const auto begin = std::chrono::steady_clock::now();
  const ToolRun stopped = run({"--seconds", "60"}, [](pid_t pid) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    kill(pid, SIGTERM);
  });
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count(), 20);
  ASSERT_EQ(stopped.exitCode, 0) << stopped.err;
  const fs::path second = firstLine(stopped.out);
  EXPECT_NE(second, folder);
  EXPECT_TRUE(fs::exists(second / "project.json"));
  EXPECT_TRUE(fs::exists(second / "capture-timing.json"));
  const auto movie = test::readMovie(second / "screen.mp4");
  EXPECT_NEAR(movie.end, decodeClipFile((second / "project.json").string()).duration, 1e-3);
}

TEST_F(RecordTool, FailuresPrintTheTranslatedErrorAndExitOne) {
  const ToolRun gone = run({"--display", "4242", "--seconds", "1"});
  EXPECT_EQ(gone.exitCode, 1);
  EXPECT_EQ(firstLine(gone.err), "The selected display was disconnected. Select another display.");
  EXPECT_TRUE(gone.out.empty());

  const ToolRun closed = run({"--window", "0x7fffff", "--seconds", "1"});
  EXPECT_EQ(closed.exitCode, 1);
  EXPECT_EQ(firstLine(closed.err), "The selected window has closed. Select another window.");

  // No X server at all (a pure Wayland session looks like this): said plainly.
  const std::string real = display;
  display = ":65000";
  const ToolRun noServer = run({"--seconds", "1"});
  display = real;
  EXPECT_EQ(noServer.exitCode, 1);
  EXPECT_EQ(firstLine(noServer.err).rfind("Could not connect to the X11 display server.", 0), 0u)
      << noServer.err;

  EXPECT_EQ(run({"--seconds"}).exitCode, 64);
  EXPECT_EQ(run({"--display", "1", "--window", "2", "--seconds", "1"}).exitCode, 64);
}

TEST_F(RecordTool, PreviewWritesPngFrames) {
  const fs::path out = home.path / "preview";
  const ToolRun r = run({"--preview-seconds", "1", "--preview-out", out.string()});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  int pngs = 0;
  for (const auto& entry : fs::directory_iterator(out)) {
    if (entry.path().extension() != ".png") continue;
    ++pngs;
    const std::string bytes = test::readText(entry.path());
    EXPECT_EQ(bytes.substr(1, 3), "PNG");
  }
  EXPECT_GE(pngs, 3);  // about 15 a second
}

}  // namespace
}  // namespace vantry
