// vantry-tool record, run as users run it: the folder path on success, the translated error
// and exit 1 on failure, exit 3 with what was kept for a recording cut short (SIGTERM, a
// lost X server, a full disk), and PNG frames in preview mode.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <stop_token>
#include <thread>

#include "capture/pointer_journal.h"
#include "capture/recording_lock.h"
#include "model/document_json.h"
#include "platform/ffmpeg/movie_fragments.h"
#include "platform/screen_source.h"
#include "recorder_support.h"
#include "support/fragmented_movie.h"

// Last: Xlib's macros would clash with the headers above.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include "support/disk_filler.h"
#include "support/noise_painter.h"

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
  std::string command = "record";
  // Runs in the child before the tool starts.
  std::function<void()> inChild;
  int runs = 0;

  void SetUp() override { ASSERT_FALSE(display.empty()); }

  // Starts the tool; `afterStart` runs in the parent with the child's pid (and may run the
  // tool again meanwhile).
  ToolRun run(std::vector<std::string> args, std::function<void(pid_t)> afterStart = {}) {
    const std::string n = std::to_string(runs++);
    const fs::path out = home.path / ("out" + n + ".txt");
    const fs::path err = home.path / ("err" + n + ".txt");
    pid_t child = fork();
    if (child == 0) {
      setenv("DISPLAY", display.c_str(), 1);
      setenv("XDG_DATA_HOME", (home.path / "data").c_str(), 1);
      setenv("XDG_CONFIG_HOME", (home.path / "config").c_str(), 1);
      freopen(out.c_str(), "w", stdout);
      freopen(err.c_str(), "w", stderr);
      if (inChild) inChild();
      std::vector<char*> argv{const_cast<char*>(VANTRY_TOOL_PATH), command.data()};
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

// The journal of the one recording under `home`, once it holds `seconds` of samples.
std::optional<fs::path> waitForJournal(const fs::path& home, double seconds, double timeout = 30) {
  const fs::path recordings = home / "data" / "Pexilar" / "Recordings";
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout);
  while (std::chrono::steady_clock::now() < end) {
    std::error_code ec;
    for (fs::directory_iterator it(recordings, ec), e; !ec && it != e; it.increment(ec)) {
      const fs::path journal = it->path() / kPointerJournalName;
      const auto contents = readPointerJournal(journal.string(), nullptr);
      if (contents && !contents->samples.empty() && contents->samples.back().time >= seconds)
        return journal;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return std::nullopt;
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
  // (Once it records: a busy machine may take longer than that to start the tool.)
  const ToolRun stopped = run({"--seconds", "60"}, [&](pid_t pid) {
    waitForJournal(home.path, 1.0);
    kill(pid, SIGTERM);
  });
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count(), 20);
  // Cut short by the signal: its own status, and how much was kept where.
  ASSERT_EQ(stopped.exitCode, 3) << stopped.err;
  const fs::path second = firstLine(stopped.out);
  EXPECT_EQ(firstLine(stopped.err).rfind("Kept 00:0", 0), 0u) << stopped.err;
  EXPECT_NE(stopped.err.find(" of the recording in " + second.string() + "."), std::string::npos);
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

// A window 1000 x 32767, held by a client of its own (the server takes it along when it
// dies). The client's pid and the window; the pid is -1 when it could not be made.
std::pair<pid_t, unsigned long> tallWindow(const std::string& display) {
  int fds[2];
  if (pipe(fds) != 0) return {-1, 0};
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    Display* dpy = XOpenDisplay(display.c_str());
    if (!dpy) _exit(1);
    const Window w = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, 200, 200, 0, 0, 0);
    XStoreName(dpy, w, "tall");
    XMapRaised(dpy, w);
    XResizeWindow(dpy, w, 1000, 32767);
    XSync(dpy, False);
    const unsigned long id = w;
    if (write(fds[1], &id, sizeof id) != sizeof id) _exit(1);
    for (;;)
      pause();
  }
  close(fds[1]);
  unsigned long id = 0;
  const bool made = pid > 0 && read(fds[0], &id, sizeof id) == sizeof id;
  close(fds[0]);
  if (!made && pid > 0) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  return {made ? pid : -1, id};
}

// The display server dies while the recording starts (its compositing runs out of memory
// over a window 32767 pixels tall): a failed start like any other, said in words, with no
// folder left behind and no crash.
TEST_F(RecordTool, AServerLostWhileTheRecordingStartsFailsTheStart) {
  test::XvfbProcess starved(1280, 720, {}, std::size_t(128) << 20);
  ASSERT_FALSE(starved.display().empty());
  display = starved.display();
  const auto [client, window] = tallWindow(display);
  ASSERT_GT(client, 0);
  const ToolRun r = run({"--window", std::to_string(window), "--seconds", "2"});
  kill(client, SIGKILL);
  waitpid(client, nullptr, 0);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err,
            "The connection to the X11 display server was lost. Make sure your desktop session "
            "is still running, then try again.\n");
  EXPECT_TRUE(r.out.empty());
  std::error_code ec;
  EXPECT_TRUE(fs::is_empty(home.path / "data" / "Pexilar" / "Recordings", ec));
}

TEST_F(RecordTool, PreviewWritesPngFrames) {
  const fs::path out = home.path / "preview";
  // The pointer keeps moving until the tool has ended (a zombie waiting for us): a still
  // screen is handed on only once.
  auto ended = [](pid_t pid) {
    const std::string stat = test::readText("/proc/" + std::to_string(pid) + "/stat");
    const auto close = stat.rfind(')');
    return close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] == 'Z';
  };
  const ToolRun r = run({"--preview-seconds", "1", "--preview-out", out.string()}, [&](pid_t pid) {
    Display* dpy = XOpenDisplay(display.c_str());
    if (!dpy) return;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (int i = 0; std::chrono::steady_clock::now() < end && !ended(pid); ++i) {
      XTestFakeMotionEvent(dpy, -1, 200 + i % 500, 300, 0);  // a new place every time
      XSync(dpy, False);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    XCloseDisplay(dpy);
  });
  ASSERT_EQ(r.exitCode, 0) << r.err;
  int pngs = 0;
  for (const auto& entry : fs::directory_iterator(out)) {
    if (entry.path().extension() != ".png") continue;
    ++pngs;
    const std::string bytes = test::readText(entry.path());
    EXPECT_EQ(bytes.substr(1, 3), "PNG");
  }
  // A picture for each place of the pointer, at most fifteen a second: more than the first.
  EXPECT_GE(pngs, 2);
}

// kill -9 in the middle of a recording, then `recover`: the project opens with the movie up
// to its last whole fragment, the pointer track up to there, and the click.
TEST_F(RecordTool, AKilledRecordingIsRecoveredWithItsTrackAndClicks) {
  std::optional<fs::path> journal;
  double killedAt = 0;
  double startClock = 0;
  test::MovieFacts atKill;  // the movie's complete fragments at the kill
  const ToolRun killed = run({"--seconds", "60"}, [&](pid_t pid) {
    journal = waitForJournal(home.path, 0.5);
    if (journal) {
      startClock = readPointerJournal(journal->string(), nullptr)->header.startClock;
      // One click at (100, 100) through the X server's test extension.
      double clickedAt = 0;
      if (Display* dpy = XOpenDisplay(display.c_str())) {
        XTestFakeMotionEvent(dpy, -1, 100, 100, 0);
        XTestFakeButtonEvent(dpy, 1, True, 0);
        XSync(dpy, False);
        clickedAt = platform::hostTime() - startClock;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        XTestFakeButtonEvent(dpy, 1, False, 0);
        XCloseDisplay(dpy);
      }
      waitForJournal(home.path, 2.5);
      // The click's fragment on disk too (a loaded machine encodes late).
      test::waitForFragments(journal->parent_path() / "screen.mp4", home.path / "copy.mp4",
                             clickedAt + 0.2);
    }
    kill(pid, SIGSTOP);
    int status = 0;
    waitpid(pid, &status, WUNTRACED);
    if (journal &&
        test::completeLength(journal->parent_path() / "screen.mp4", home.path / "copy.mp4") > 0)
      atKill = test::readMovie(home.path / "copy.mp4");
    killedAt = platform::hostTime();
    kill(pid, SIGKILL);
  });
  ASSERT_TRUE(journal) << killed.err;
  const fs::path folder = journal->parent_path();
  EXPECT_FALSE(fs::exists(folder / "project.json"));
  // The lock died with its process: it holds nothing.
  EXPECT_TRUE(fs::exists(folder / kRecordingLockName));

  command = "recover";
  const ToolRun recovered = run({folder.string()});
  ASSERT_EQ(recovered.exitCode, 0) << recovered.err;
  EXPECT_EQ(firstLine(recovered.out), folder.string());
  EXPECT_FALSE(fs::exists(folder / kPointerJournalName));
  EXPECT_FALSE(fs::exists(folder / kRecordingLockName));
  const Clip clip = decodeClipFile((folder / "project.json").string());
  const auto movie = test::readMovie(folder / "screen.mp4");
  EXPECT_NEAR(clip.duration, movie.end, 1e-3);
  // Every whole fragment that was on disk at the kill.
  EXPECT_GT(atKill.packets, 0);
  EXPECT_GE(movie.packets, atKill.packets);
  EXPECT_LE(clip.duration, killedAt - startClock);
  ASSERT_FALSE(clip.samples.empty());
  EXPECT_GT(clip.samples.get().back().time, clip.duration - 0.6);
  int clicks = 0;
  for (const auto& s : clip.samples.get()) {
    if (!s.clicked) continue;
    ++clicks;
    EXPECT_NEAR(s.x, 100.0 / 640, 1e-3);
    EXPECT_NEAR(s.y, 100.0 / 480, 1e-3);
  }
  EXPECT_EQ(clicks, 1);

  // Once recovered, a second run has nothing to do.
  EXPECT_EQ(run({folder.string()}).exitCode, 1);
}

// `recover` run by a second process while a recording is made: the recording's folder looks
// just like an interrupted one, but its lock says it is not. It is passed over without a
// word: no document written into it, its journal and reserve kept, its movie not cut; and
// the recording goes on and ends whole.
TEST_F(RecordTool, RecoverLeavesARecordingStillBeingMadeAlone) {
  const fs::path recordings = home.path / "data" / "Pexilar" / "Recordings";
  fs::path folder;
  ToolRun recovered;
  double afterRecover = 0;  // recording time the journal had reached once it had run
  const ToolRun recording = run({"--seconds", "60"}, [&](pid_t pid) {
    const auto journal = waitForJournal(home.path, 1.0);
    if (journal) {
      folder = journal->parent_path();
      const uintmax_t before = fs::file_size(folder / "screen.mp4");
      command = "recover";
      recovered = run({recordings.string()});
      command = "record";
      EXPECT_FALSE(fs::exists(folder / "project.json"));
      EXPECT_TRUE(fs::exists(folder / kDocumentReserveName));
      EXPECT_GE(fs::file_size(folder / "screen.mp4"), before);
      const auto contents = readPointerJournal(journal->string(), nullptr);
      EXPECT_TRUE(contents && !contents->samples.empty());
      if (contents && !contents->samples.empty()) {
        afterRecover = contents->samples.back().time;
        EXPECT_TRUE(waitForJournal(home.path, afterRecover + 1.5));  // still written
      }
    }
    kill(pid, SIGTERM);
  });
  ASSERT_FALSE(folder.empty()) << recording.err;
  EXPECT_EQ(recovered.exitCode, 0) << recovered.err;
  EXPECT_EQ(recovered.out, "");
  EXPECT_EQ(recovered.err, "");

  // Stopped by the signal: a whole recording up to there.
  ASSERT_EQ(recording.exitCode, 3) << recording.err;
  EXPECT_EQ(firstLine(recording.out), folder.string());
  const Clip clip = decodeClipFile((folder / "project.json").string());
  const auto movie = test::readMovie(folder / "screen.mp4");
  ASSERT_TRUE(movie.opened) << movie.error;
  EXPECT_NEAR(movie.end, clip.duration, 1e-3);
  EXPECT_GT(clip.duration, afterRecover + 1.5);
  EXPECT_LT(movie.longestGap, 1.0);
  ASSERT_FALSE(clip.samples.empty());
  EXPECT_GT(clip.samples.get().back().time, clip.duration - 0.6);
  // Done with: nothing of the recording's own is left beside its files.
  for (const char* name : {kPointerJournalName, kDocumentReserveName, kRecordingLockName})
    EXPECT_FALSE(fs::exists(folder / name)) << name;
}

// The X server goes away five seconds into a twenty-second recording: the recording ends
// there, with the warning, and the project ends at the last real frame.
TEST_F(RecordTool, ALostXServerEndsTheRecordingAtItsLastFrame) {
  double lostAt = 0;
  double startClock = 0;
  const auto begin = std::chrono::steady_clock::now();
  const ToolRun r = run({"--seconds", "20"}, [&](pid_t) {
    const auto journal = waitForJournal(home.path, 1.5);
    if (journal) startClock = readPointerJournal(journal->string(), nullptr)->header.startClock;
    lostAt = platform::hostTime();
    kill(xvfb.pid, SIGKILL);
  });
  const double ran =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  ASSERT_GT(startClock, 0);
  EXPECT_LT(ran, 15.0) << "the recording ran on";
  EXPECT_EQ(r.exitCode, 3) << r.err;
  EXPECT_NE(r.err.find("The connection to the X11 display server was lost. Make sure your desktop "
                       "session is still running, then try again. Kept 00:0"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find("Kept ", r.err.find("Kept ") + 1), std::string::npos) << r.err;
  const fs::path folder = firstLine(r.out);
  const Clip clip = decodeClipFile((folder / "project.json").string());
  const auto movie = test::readMovie(folder / "screen.mp4");
  EXPECT_NEAR(movie.end, clip.duration, 1e-3);
  EXPECT_LE(clip.duration, lostAt - startClock + 0.1);
  EXPECT_GT(clip.duration, 1.0);
  EXPECT_LT(movie.longestGap, 0.5);  // no frozen picture stretched to the stop
  ASSERT_FALSE(clip.samples.empty());
  EXPECT_LE(clip.samples.get().back().time, clip.duration);
}

}  // namespace
}  // namespace vantry

namespace vantry {
namespace {

// The disk fills while recording: the recording stops by itself at the movie's first failed
// write, keeps what was written (the movie cut back to its last complete fragment, so that
// it opens), says so in words with what was kept and what to do, and exits with the status
// of a recording cut short.
TEST_F(RecordTool, AFullDiskStopsTheRecordingAndKeepsWhatWasWritten) {
  // Full once a fragment of the noisy screen is on disk: a loaded machine writes its first
  // fragment late and large (fewer pictures, more bits each), and a disk that the movie alone
  // fills may then hold none. (Without a mount, the movie runs into the size limit.)
  test::SmallDisk disk(home.path / "data", 16 * 1024 * 1024);
  inChild = [&disk] { disk.applyLimit(); };
  test::NoisePainter noise(display);
  const auto begin = std::chrono::steady_clock::now();
  const ToolRun r = run({"--seconds", "40"}, [&](pid_t) {
    const auto journal = waitForJournal(home.path, 0.5);
    if (!disk.mounted() || !journal) return;
    test::waitForFragments(journal->parent_path() / "screen.mp4", home.path / "copy.mp4");
    test::fillDisk(home.path / "data" / "filler");
  });
  const double ran =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  EXPECT_LT(ran, 30.0) << "the recording ran on";
  ASSERT_EQ(r.exitCode, 3) << r.err;
  const fs::path folder = firstLine(r.out);
  ASSERT_FALSE(folder.empty());
  const std::string movie = (folder / "screen.mp4").string();
  EXPECT_EQ(
      r.err.rfind(
          "Could not write the screen recording " + movie + ". " + disk.reason() + " Kept 00:", 0),
      0u)
      << r.err;
  EXPECT_NE(r.err.find(" in " + folder.string() + ". Free some disk space, then record again.\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find("Kept ", r.err.find("Kept ") + 1), std::string::npos)
      << "the kept time is said once: " << r.err;

  EXPECT_FALSE(fragmentLayout(movie).cut());
  const auto facts = test::readMovie(movie);
  ASSERT_TRUE(facts.opened) << facts.error;
  const Clip clip = decodeClipFile((folder / "project.json").string());
  EXPECT_GT(clip.duration, 0.1);
  EXPECT_NEAR(clip.duration, facts.end, std::max(facts.longestGap, 1.0 / 60) + 1e-3);
  ASSERT_FALSE(clip.samples.empty());
  EXPECT_LE(clip.samples.get().back().time, clip.duration);
}

// The disk is full at the stop, with the last fragments of the camera movie and of the
// screen movie still to be written: they lose out to the document, which is written, and
// the recording is kept: every fragment that was on disk when it filled.
TEST_F(RecordTool, ADiskFullAtTheStopStillEndsWithTheDocument) {
  test::SmallDisk disk(home.path / "data", 16 * 1024 * 1024);
  if (!disk.mounted()) GTEST_SKIP() << "needs a real file system to fill";
  inChild = [] { setenv("VANTRY_SYNTHETIC_CAMERA", "1", 1); };
  double atFill = 0;
  const ToolRun r = run({"--seconds", "60", "--camera", "--mic"}, [&](pid_t pid) {
    const auto journal = waitForJournal(home.path, 1.5);
    const fs::path movie = journal ? journal->parent_path() / "screen.mp4" : fs::path();
    const fs::path copy = home.path / "at-fill.mp4";
    if (journal) test::waitForFragments(movie, copy);
    // Filled while the tool stands still, so that it meets the full disk only in stopping.
    kill(pid, SIGSTOP);
    int status = 0;
    waitpid(pid, &status, WUNTRACED);
    if (journal) atFill = test::completeLength(movie, copy);  // what was on disk then
    test::fillDisk(home.path / "data" / "filler");
    kill(pid, SIGTERM);
    kill(pid, SIGCONT);
  });
  ASSERT_GT(atFill, 0) << "no fragment on disk before the fill: " << r.err;
  EXPECT_EQ(r.exitCode, 3) << r.err;  // stopped by the signal: cut short
  const fs::path folder = firstLine(r.out);
  ASSERT_FALSE(folder.empty()) << r.err;
  const Clip clip = decodeClipFile((folder / "project.json").string());
  EXPECT_GE(clip.duration, atFill - 1e-3);
  EXPECT_NEAR(clip.duration, test::statedLength(folder / "screen.mp4"), 1e-3);
  EXPECT_FALSE(fs::exists(folder / kPointerJournalName));
}

}  // namespace
}  // namespace vantry
