// vantry-tool record, run as users run it: the folder path on success, the translated error
// and exit 1 on failure, exit 3 with what was kept for a recording cut short (SIGTERM, a
// lost X server, a full disk), and PNG frames in preview mode.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <sstream>
#include <stop_token>
#include <thread>

#include "capture/pointer_journal.h"
#include "model/document_json.h"
#include "movie_boxes.h"
#include "platform/ffmpeg/movie_fragments.h"
#include "platform/screen_source.h"
#include "recorder_support.h"
#include "support/fragmented_movie.h"

// Last: Xlib's macros would clash with the headers above.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include "support/disk_filler.h"
#include "support/noise_painter.h"
#include "support/x_relay.h"

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

// Whether the process has ended (a zombie waiting for us, or gone).
bool hasEnded(pid_t pid) {
  const std::string stat = test::readText("/proc/" + std::to_string(pid) + "/stat");
  const auto close = stat.rfind(')');
  return close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] == 'Z';
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
  ASSERT_FALSE(starved.display().empty()) << starved.failure();
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

// How a start that lost its display may end: failed, said in one sentence, exit 1, nothing
// left in the recordings; or, the start done, as a recording with its document. Never a
// crash, a silent exit or a folder without a document. Lines Xlib writes itself (it makes up
// the answers a lost server never gave, and says so) are the library's.
void expectAStartThatLostItsDisplay(const ToolRun& r, const fs::path& recordings) {
  std::vector<std::string> ours;
  std::istringstream lines(r.err);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("Xlib: ", 0) != 0) ours.push_back(line);
  }
  std::vector<fs::path> folders;
  std::error_code ec;
  for (fs::directory_iterator it(recordings, ec), e; !ec && it != e; it.increment(ec))
    folders.push_back(it->path());
  if (r.exitCode == 1) {
    ASSERT_EQ(ours.size(), 1u) << r.err;
    EXPECT_TRUE(ours[0] ==
                    "The connection to the X11 display server was lost. Make sure your desktop "
                    "session is still running, then try again." ||
                ours[0] ==
                    "The recording was stopped before anything was captured, so nothing was "
                    "kept. Start the recording again.")
        << r.err;
    EXPECT_TRUE(r.out.empty());
    EXPECT_TRUE(folders.empty()) << folders.front();
  } else {
    EXPECT_TRUE(r.exitCode == 0 || r.exitCode == 3) << r.exitCode << ": " << r.err;
    ASSERT_EQ(folders.size(), 1u) << r.err;
    EXPECT_EQ(firstLine(r.out), folders[0].string());
    EXPECT_TRUE(fs::exists(folders[0] / "project.json")) << r.err;
  }
}

// The display is cut off after the server's first answer to the tool, then after its
// second, and so on through the whole start and stop, whichever of its connections the
// answer was for: at every step the start fails in words and leaves nothing, or has done.
TEST_F(RecordTool, ADisplayCutOffAtEveryStepOfTheStartFailsItInWords) {
  const fs::path recordings = home.path / "data" / "Pexilar" / "Recordings";
  const std::string server = display;
  // What the X libraries were making for a lost server they drop: not this test's matter.
  inChild = [] { setenv("ASAN_OPTIONS", "detect_leaks=0:abort_on_error=0", 1); };
  long answers = 0;
  {
    test::XRelay counting(server);
    display = counting.display();
    run({"--seconds", "0"});
    answers = counting.answers();
  }
  ASSERT_GT(answers, 30);
  fs::remove_all(recordings);
  // The first: no display to be reached at all, said as such.
  {
    test::XRelay relay(server, 0);
    display = relay.display();
    const ToolRun r = run({"--seconds", "0"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(firstLine(r.err).rfind("Could not connect to the X11 display server.", 0), 0u)
        << r.err;
  }
  for (long n = 1; n <= answers; ++n) {
    SCOPED_TRACE("cut after " + std::to_string(n) + " of " + std::to_string(answers) + " answers");
    test::XRelay relay(server, n);
    display = relay.display();
    expectAStartThatLostItsDisplay(run({"--seconds", "0"}), recordings);
    fs::remove_all(recordings);
  }
}

// A real server killed at moments through the start (after the recording's folder, its first
// step, has appeared): the same.
TEST_F(RecordTool, AServerKilledWhileTheRecordingStartsFailsItInWords) {
  const fs::path recordings = home.path / "data" / "Pexilar" / "Recordings";
  inChild = [] { setenv("ASAN_OPTIONS", "detect_leaks=0:abort_on_error=0", 1); };
  for (const int ms : {0, 5, 10, 20, 35, 50, 75, 100, 150, 250}) {
    SCOPED_TRACE("killed " + std::to_string(ms) + " ms after the folder appeared");
    test::XvfbProcess server(640, 480);
    ASSERT_FALSE(server.display().empty()) << server.failure();
    display = server.display();
    const ToolRun r = run({"--seconds", "2"}, [&](pid_t pid) {
      const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
      std::error_code ec;
      while (std::chrono::steady_clock::now() < end && !hasEnded(pid) &&
             (!fs::exists(recordings, ec) || fs::is_empty(recordings, ec)))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
      kill(server.pid(), SIGKILL);
    });
    expectAStartThatLostItsDisplay(r, recordings);
    fs::remove_all(recordings);
  }
}

TEST_F(RecordTool, PreviewWritesPngFrames) {
  const fs::path out = home.path / "preview";
  // The pointer keeps moving until the tool has ended: a still screen is handed on only once.
  const ToolRun r = run({"--preview-seconds", "1", "--preview-out", out.string()}, [&](pid_t pid) {
    Display* dpy = XOpenDisplay(display.c_str());
    if (!dpy) return;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (int i = 0; std::chrono::steady_clock::now() < end && !hasEnded(pid); ++i) {
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

// kill -9 in the middle of a recording, then `recover`: the project opens with the movie as
// far as it was readable, the pointer track up to there, and the click. A FIFO planted as
// the lock file of earlier versions misleads nothing, and the folder may be named through a
// symbolic link on the command line.
TEST_F(RecordTool, AKilledRecordingIsRecoveredWithItsTrackAndClicks) {
  std::optional<fs::path> journal;
  double killedAt = 0;
  double startClock = 0;
  std::optional<double> movieAtKill;  // where the movie on disk read to when killed
  std::vector<PointerSample> journalled;
  const ToolRun killed = run({"--seconds", "60"}, [&](pid_t pid) {
    journal = waitForJournal(home.path, 0.5);
    if (journal) {
      startClock = readPointerJournal(journal->string(), nullptr)->header.startClock;
      // One click at (100, 100) through the X server's test extension.
      if (Display* dpy = XOpenDisplay(display.c_str())) {
        XTestFakeMotionEvent(dpy, -1, 100, 100, 0);
        XTestFakeButtonEvent(dpy, 1, True, 0);
        XSync(dpy, False);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        XTestFakeButtonEvent(dpy, 1, False, 0);
        XCloseDisplay(dpy);
      }
      // On a busy machine the encoder lags the clock by seconds: killed once the journal
      // holds the click and the movie on disk reads past it.
      const std::string movie = (journal->parent_path() / "screen.mp4").string();
      auto clickOnDisk = [&] {
        const auto contents = readPointerJournal(journal->string(), nullptr);
        if (!contents) return false;
        const auto& samples = contents->samples;
        const auto click = std::find_if(samples.begin(), samples.end(),
                                        [](const PointerSample& s) { return s.clicked; });
        return click != samples.end() &&
               movieEnd(movie, AVMEDIA_TYPE_VIDEO).value_or(0) > click->time;
      };
      const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
      while (!clickOnDisk() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      // Stopped before it is measured: what is on disk then is what the kill leaves.
      kill(pid, SIGSTOP);
      waitpid(pid, nullptr, WUNTRACED);
      movieAtKill = movieEnd(movie, AVMEDIA_TYPE_VIDEO);
      if (const auto contents = readPointerJournal(journal->string(), nullptr))
        journalled = contents->samples;
    }
    killedAt = platform::hostTime();
    kill(pid, SIGKILL);
  });
  ASSERT_TRUE(journal) << killed.err;
  const fs::path folder = journal->parent_path();
  EXPECT_FALSE(fs::exists(folder / "project.json"));
  fs::remove(folder / ".recording.lock");
  ASSERT_EQ(mkfifo((folder / ".recording.lock").c_str(), 0600), 0);

  command = "recover";
  // Something that is no folder is named as such.
  const fs::path file = folder / "screen.mp4";
  const ToolRun notAFolder = run({file.string()});
  EXPECT_EQ(notAFolder.exitCode, 1);
  EXPECT_EQ(notAFolder.err, file.string() +
                                " is not a folder. Name the folder of a recording, or the folder "
                                "that holds the recordings.\n");
  const fs::path link = home.path / "that-recording";
  fs::create_directory_symlink(folder, link);
  const ToolRun recovered = run({link.string()});
  ASSERT_EQ(recovered.exitCode, 0) << recovered.err;
  EXPECT_EQ(firstLine(recovered.out), folder.string());
  EXPECT_FALSE(fs::exists(folder / kPointerJournalName));
  const Clip clip = decodeClipFile((folder / "project.json").string());
  const auto movie = test::readMovie(folder / "screen.mp4");
  EXPECT_NEAR(clip.duration, movie.end, 1e-3);
  // Everything that read before the kill, and nothing recorded after it.
  ASSERT_TRUE(movieAtKill);
  EXPECT_GE(clip.duration, *movieAtKill - 1e-3);
  EXPECT_LE(clip.duration, killedAt - startClock);
  // The track: every journalled sample up to the movie's end.
  const auto kept =
      std::count_if(journalled.begin(), journalled.end(),
                    [&clip](const PointerSample& s) { return s.time <= clip.duration; });
  EXPECT_EQ(std::ptrdiff_t(clip.samples.size()), kept);
  ASSERT_FALSE(clip.samples.empty());
  int clicks = 0;
  for (const auto& s : clip.samples.get()) {
    if (!s.clicked) continue;
    ++clicks;
    EXPECT_NEAR(s.x, 100.0 / 640, 1e-3);
    EXPECT_NEAR(s.y, 100.0 / 480, 1e-3);
  }
  EXPECT_EQ(clicks, 1);

  // Once recovered, a second run has nothing to do.
  const ToolRun again = run({folder.string()});
  EXPECT_EQ(again.exitCode, 1);
  EXPECT_EQ(again.err, "Nothing to recover in " + folder.string() +
                           ": it holds no interrupted recording, or one still being made.\n");
}

// A killed recording damaged where no cut leaves damage: no single box decides how long it
// was, and only a document that opens is written. The journal's header claiming a frame a
// billion pixels wide: no document, and journal and reserve stay. The second fragment's
// start (its tfdt) pushed 2^40 ticks ahead: the project is as long as the frames the folder
// can hold, and opens.
TEST_F(RecordTool, RecoveryWritesOnlyADocumentThatOpensAndBelievesNoSingleBox) {
  std::optional<fs::path> journal;
  double killedAt = 0;
  double startClock = 0;
  auto fragments = [](const fs::path& movie) {
    int count = 0;
    for (const auto& box : test::boxesIn(test::readFile(movie), 0, fs::file_size(movie)))
      count += box.type == "moof";
    return count;
  };
  const ToolRun killed = run({"--seconds", "60"}, [&](pid_t pid) {
    journal = waitForJournal(home.path, 0.5);
    if (journal) {
      startClock = readPointerJournal(journal->string(), nullptr)->header.startClock;
      const fs::path movie = journal->parent_path() / "screen.mp4";
      for (int i = 0; i < 3000 && fragments(movie) < 3; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    killedAt = platform::hostTime();
    kill(pid, SIGKILL);
  });
  ASSERT_TRUE(journal) << killed.err;
  const fs::path folder = journal->parent_path();
  const fs::path movie = folder / "screen.mp4";
  ASSERT_GE(fragments(movie), 3);

  const std::string header = test::readFile(*journal);
  const size_t width = header.find("\"width\":640");
  ASSERT_NE(width, std::string::npos);
  std::string wide = header;
  wide.replace(width, 11, "\"width\":1e9");
  test::damageInPlace(*journal, wide);
  command = "recover";
  const ToolRun refused = run({folder.string()});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_EQ(refused.err, "Could not rebuild a project that opens from the recording in " +
                             folder.string() +
                             ". Its frame size is out of range. The recording's files are all "
                             "kept as they are.\n");
  EXPECT_FALSE(fs::exists(folder / "project.json"));
  EXPECT_TRUE(test::readFile(*journal) == wide) << "the journal changed";
  EXPECT_TRUE(fs::exists(folder / kDocumentReserveName));
  test::damageInPlace(*journal, header);

  std::string bytes = test::readFile(movie);
  std::vector<test::BoxAt> moofs;
  for (const auto& box : test::boxesIn(bytes, 0, bytes.size()))
    if (box.type == "moof") moofs.push_back(box);
  const auto traf = test::boxOf(test::boxesIn(bytes, moofs[1]), "traf");
  ASSERT_TRUE(traf);
  const auto tfdt = test::boxOf(test::boxesIn(bytes, *traf), "tfdt");
  ASSERT_TRUE(tfdt);
  ASSERT_EQ(bytes[tfdt->at + 8], 1) << "a 64-bit decode time";
  const uint64_t at = tfdt->at + 12;
  test::putBigEndian(bytes, at, 8, test::bigEndian(bytes, at, 8) + (uint64_t(1) << 40));
  test::damageInPlace(movie, bytes);

  const ToolRun recovered = run({folder.string()});
  ASSERT_EQ(recovered.exitCode, 0) << recovered.err;
  const Clip clip = decodeClipFile((folder / "project.json").string());
  EXPECT_GT(clip.duration, 0.9);
  EXPECT_LE(clip.duration, killedAt - startClock);
  EXPECT_FALSE(fs::exists(folder / kPointerJournalName));
}

// `recover` run by a second process while a recording is made: the recording's folder looks
// just like an interrupted one, but its lock says it is not. It is passed over without a
// word: no document written into it, its journal and reserve kept, its movie not cut; and
// the recording goes on and ends whole. The lock is the folder's own: no file name removed
// or planted in it (as the lock file of earlier versions) changes that.
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
      const fs::path oldLock = folder / ".recording.lock";
      fs::remove(oldLock);
      command = "recover";
      recovered = run({recordings.string()});
      fs::create_symlink(home.path / "elsewhere", oldLock);
      const ToolRun planted = run({recordings.string()});
      EXPECT_EQ(planted.out + planted.err, "");
      fs::remove(oldLock);
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
  for (const char* name : {kPointerJournalName, kDocumentReserveName, ".recording.lock"})
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
    // More than a second of it, so that what is kept is said in minutes and seconds.
    test::waitForFragments(journal->parent_path() / "screen.mp4", home.path / "copy.mp4", 1.0);
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
