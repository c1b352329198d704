// A recording is its owner's alone: private folders and files, and display recordings that
// leave out the app's own windows and no one else's, and take no press in them for a click.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QImage>
#include <algorithm>
#include <cstdlib>
#include <thread>

#include "e2e/app_driver.h"
#include "e2e/roads.h"

// Last: Xlib's macros (None, Status) clash with the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace vantry::e2e {
namespace {

namespace fs = std::filesystem;

mode_t modeOf(const fs::path& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 01000;  // 01000: missing
}

// A window of another program that claims to be the app: its class, and its pid.
struct Impostor {
  Display* dpy = nullptr;
  Window window = 0;
  Impostor(const std::string& display, const Rect& r, uint32_t rgb, pid_t claimedPid) {
    dpy = XOpenDisplay(display.c_str());
    if (!dpy) return;
    XSetWindowAttributes a{};
    a.background_pixel = rgb;
    a.override_redirect = True;
    window = XCreateWindow(dpy, DefaultRootWindow(dpy), r.x, r.y, unsigned(r.width),
                           unsigned(r.height), 0, CopyFromParent, InputOutput, CopyFromParent,
                           CWBackPixel | CWOverrideRedirect, &a);
    const std::string cls = std::string("vantry") + '\0' + "Vantry" + '\0';
    XChangeProperty(dpy, window, XA_WM_CLASS, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(cls.data()), int(cls.size()));
    unsigned long pid = static_cast<unsigned long>(claimedPid);
    XChangeProperty(dpy, window, XInternAtom(dpy, "_NET_WM_PID", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<unsigned char*>(&pid), 1);
    XMapRaised(dpy, window);
    XSync(dpy, False);
  }
  ~Impostor() {
    if (dpy) XCloseDisplay(dpy);
  }
};

bool greenish(QRgb p) {
  return qGreen(p) > 150 && qRed(p) < 90 && qBlue(p) < 90;
}

TEST(Road, RecordingsArePrivateAndOnlyTheAppsOwnWindowsAreLeftOutAndNeverClicked) {
  AppDriver app("privacy", "english");
  // Folders an earlier version left open to every user.
  const fs::path recordings = app.recordings();
  fs::create_directories(recordings);
  ::chmod(recordings.parent_path().c_str(), 0755);
  ::chmod(recordings.c_str(), 0755);
  ASSERT_TRUE(app.launch()) << app.logText();
  EXPECT_TRUE(app.waitFor(
      [&] { return modeOf(recordings) == 0700 && modeOf(recordings.parent_path()) == 0700; }, 10s))
      << "the folders stayed open at start";

  app.paintDesktop(0x2020d0);
  const auto main = app.window("StudioWindow");
  ASSERT_TRUE(main);
  // Over or under the main window alike: our windows are painted out, others painted in.
  const Rect spot{40, 640, 220, 160};
  Impostor impostor(app.displayName(), spot, 0x20d020, app.pid());
  ASSERT_TRUE(impostor.window);

  // A press in the app's window while recording, and the Stop button: no clicks of the
  // recording, which shows neither. The click on the desktop is one.
  const fs::path folder = recordByKeyboard(
      app, 3s, 1,
      [&] {
        const auto chip = app.widget("recordingChip");
        ASSERT_TRUE(chip);
        app.moveTo(chip->shown.centerX(), chip->shown.centerY());
        app.press();
        std::this_thread::sleep_for(150ms);
        app.release();
      },
      StopWith::stopButton);
  ASSERT_FALSE(folder.empty()) << app.logText();
  EXPECT_EQ(modeOf(folder), 0700u);
  int files = 0;
  for (const auto& entry : fs::directory_iterator(folder)) {
    ++files;
    EXPECT_EQ(modeOf(entry.path()), 0600u) << entry.path().filename();
  }
  EXPECT_GE(files, 4);  // screen, camera, the recorded document and the edits

  const auto edit = readJson(folder / "edit.json");
  ASSERT_TRUE(edit);
  const Rect& m = main->rect;
  std::vector<std::pair<int, int>> clicks;
  for (const auto& sample : edit->value("samples", nlohmann::json::array())) {
    if (!sample.value("clicked", false)) continue;
    const int x = int(sample.value("x", 0.0) * app.screenWidth());
    const int y = int(sample.value("y", 0.0) * app.screenHeight());
    clicks.emplace_back(x, y);
    EXPECT_FALSE(x >= m.x && x < m.x + m.width && y >= m.y && y < m.y + m.height)
        << "a press in the app's window is a click at " << x << ", " << y;
  }
  EXPECT_EQ(clicks.size(), 1u) << "the click on the desktop is the only one";
  EXPECT_FALSE(edit->value("zoomEventsOverride", nlohmann::json::array()).empty())
      << "the click on the desktop made no zoom";

  // The recording's last picture: the impostor as it showed, the app's own window not at all.
  const fs::path still = app.outputFolder() / "recorded.png";
  const std::string command = "ffmpeg -v error -sseof -0.3 -i '" +
                              (folder / "screen.mp4").string() + "' -frames:v 1 -y '" +
                              still.string() + "'";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  QImage frame(QString::fromStdString(still.string()));
  ASSERT_FALSE(frame.isNull());
  ASSERT_EQ(frame.width(), app.screenWidth());
  EXPECT_TRUE(greenish(frame.pixel(spot.centerX(), spot.centerY())))
      << "a window that only claims the app's class and pid was left out";
  // The inspector column (white labels, bright switches) is gone: nothing but the dark
  // the app's place is painted with.
  int brightest = 0;
  for (int y = m.y + m.height / 10; y < m.y + m.height * 9 / 10; y += 2)
    for (int x = m.x + m.width * 2 / 3; x < m.x + m.width * 49 / 50; x += 2)
      brightest = std::max({brightest, qRed(frame.pixel(x, y)), qGreen(frame.pixel(x, y)),
                            qBlue(frame.pixel(x, y))});
  EXPECT_LT(brightest, 80) << "the app's own window is in the recording";
}

}  // namespace
}  // namespace vantry::e2e
