// The overlays on a real X server with two RandR monitors and no compositing manager. The
// test program runs on the offscreen platform, so one test starts a private Xvfb with two
// monitors and runs the OverlayOnTwoMonitors cases in a child of this program on the xcb
// platform; on any other platform those cases are skipped.
#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

#include <X11/XKBlib.h>
#include <X11/keysym.h>

#include <memory>

#include "platform/x11_test_server.h"
#include "setup/monitor_overlay_view.h"
#include "setup/overlay_controller.h"
#include "support/xcb_child.h"
#include "ui/overlay_support.h"

namespace vantry {
namespace {

using testing::waitUntil;

constexpr const char* kChildFilter = "OverlayOnTwoMonitors.*";

TEST(OverlayScreens, TwoRandRMonitorsOnAPrivateXServer) {
  const QByteArray display = qgetenv("DISPLAY");
  std::unique_ptr<testing::PrivateXServer> server;
  try {
    server = std::make_unique<testing::PrivateXServer>(2560, 1024);
  } catch (const std::exception& e) {
    qputenv("DISPLAY", display);
    GTEST_SKIP() << e.what();
  }
  qputenv("DISPLAY", display);  // the private server is only the child's
  Display* dpy = server->display();
  // The primary monitor is the second one: the controls do not simply go to the first.
  server->setMonitors({testing::PrivateXServer::monitor(dpy, "LEFT", 0, 0, 1280, 1024, false),
                       testing::PrivateXServer::monitor(dpy, "RIGHT", 1280, 0, 1280, 1024, true)});

  test::expectChildPasses(server->name(), kChildFilter);
}

// --- In the child, on the xcb platform ---

struct OverlayOnTwoMonitors : ::testing::Test, testing::OverlayStudio {
  Display* dpy = nullptr;  // our own connection, to see what the server sees

  void SetUp() override {
    if (QGuiApplication::platformName() != QStringLiteral("xcb"))
      GTEST_SKIP() << "runs in a child on the xcb platform";
    ASSERT_EQ(QGuiApplication::screens().size(), 2);
    dpy = XOpenDisplay(nullptr);
    ASSERT_NE(dpy, nullptr);
    capture->content.displays = {{11, "LEFT", {0, 0, 1280, 1024}, false, 1},
                                 {12, "RIGHT", {1280, 0, 1280, 1024}, true, 1}};
    open();
  }
  void TearDown() override {
    close();
    if (dpy) XCloseDisplay(dpy);
  }
  // Shows the overlays and waits until the server mapped them and the monitors are known.
  void showMapped() {
    overlay->show(*studio);
    ASSERT_TRUE(waitUntil([this] {
      for (OverlayWindow* w : overlay->windows())
        if (w->displayId() == 0 || mapState(w) != IsViewable) return false;
      return true;
    }));
  }
  int mapState(OverlayWindow* w) {
    XWindowAttributes a{};
    if (!XGetWindowAttributes(dpy, Window(w->winId()), &a)) return -1;
    return a.map_state;
  }
  OverlayWindow* on(platform::DisplayId id) {
    for (OverlayWindow* w : overlay->windows())
      if (w->displayId() == id) return w;
    return nullptr;
  }
  void pointerTo(int x, int y) {
    XTestFakeMotionEvent(dpy, DefaultScreen(dpy), x, y, CurrentTime);
    XSync(dpy, False);
  }
  void press(KeySym sym) {
    const KeyCode code = XKeysymToKeycode(dpy, sym);
    XTestFakeKeyEvent(dpy, code, True, CurrentTime);
    XTestFakeKeyEvent(dpy, code, False, CurrentTime);
    XSync(dpy, False);
  }
};

TEST_F(OverlayOnTwoMonitors, EachMonitorCoveredAndTheControlsOnlyOnThePrimary) {
  // Each monitor in a colour of its own, to tell the grabs apart.
  testing::ColourWindow red(dpy, 0, 0, 1280, 1024, 0xff0000);
  testing::ColourWindow blue(dpy, 1280, 0, 1280, 1024, 0x0000ff);
  showMapped();
  const auto screens = QGuiApplication::screens();
  ASSERT_EQ(overlay->windows().size(), 2u);
  ASSERT_NE(on(11), nullptr);
  ASSERT_NE(on(12), nullptr);
  int withControls = 0;
  for (size_t i = 0; i < 2; ++i) {
    OverlayWindow* w = overlay->windows()[i];
    QScreen* screen = screens[int(i)];
    EXPECT_EQ(w->targetScreen(), screen) << "in the order of the screens";
    EXPECT_EQ(w->displayId(), screen->name() == QStringLiteral("LEFT") ? 11u : 12u);
    EXPECT_TRUE(waitUntil([&] { return w->geometry() == screen->geometry(); }))
        << screen->name().toStdString();
    // No compositing manager: the window paints the screen grabbed before it was shown.
    EXPECT_FALSE(w->testAttribute(Qt::WA_TranslucentBackground));
    EXPECT_EQ(w->backdrop().size(), screen->geometry().size() * screen->devicePixelRatio());
    const QColor middle = w->backdrop().pixelColor(w->backdrop().rect().center());
    EXPECT_EQ(middle, w->displayId() == 11 ? QColor(Qt::red) : QColor(Qt::blue))
        << "the grab of its own monitor";
    if (w->view()->showsControls()) {
      ++withControls;
      EXPECT_TRUE(w->view()->controlBar()->isVisible());
    }
  }
  EXPECT_EQ(withControls, 1);
  EXPECT_EQ(overlay->controlsScreen(), QGuiApplication::primaryScreen());
  EXPECT_TRUE(on(12)->view()->showsControls()) << "the primary monitor carries the controls";
  EXPECT_TRUE(waitUntil([this] {
    return QGuiApplication::focusWindow() == on(12)->windowHandle();
  })) << "the overlay with the controls takes the keys";
}

TEST_F(OverlayOnTwoMonitors, TheMonitorOfTheActiveWindowCarriesTheControls) {
  QWidget window;
  window.setGeometry(200, 200, 400, 300);  // on the left monitor
  window.show();
  window.activateWindow();
  ASSERT_TRUE(waitUntil([&] { return QApplication::activeWindow() == &window; }));
  showMapped();
  EXPECT_EQ(overlay->controlsScreen()->name(), QStringLiteral("LEFT"));
  EXPECT_TRUE(on(11)->view()->showsControls());
  EXPECT_FALSE(on(12)->view()->showsControls());
  EXPECT_TRUE(
      waitUntil([this] { return QGuiApplication::focusWindow() == on(11)->windowHandle(); }));
}

TEST_F(OverlayOnTwoMonitors, ThePointerMovesTheHoverAndTheKeypadEnterStartsTheHoveredMonitor) {
  showMapped();
  ASSERT_TRUE(
      waitUntil([this] { return QGuiApplication::focusWindow() == on(12)->windowHandle(); }));
  pointerTo(300, 400);
  ASSERT_TRUE(waitUntil([this] { return overlay->hovered() == 11u; }));
  // Entering the right monitor and leaving the left come in either order: the leave of the
  // left one must not clear the hover of the right one.
  pointerTo(1900, 400);
  ASSERT_TRUE(waitUntil([this] { return overlay->hovered() == 12u; }));
  for (int i = 0; i < 20; ++i)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  EXPECT_EQ(overlay->hovered(), 12u);

  pointerTo(300, 400);
  ASSERT_TRUE(waitUntil([this] { return overlay->hovered() == 11u; }));
  // The keys go to the right overlay; the hovered left monitor is started.
  press(XK_KP_Enter);
  ASSERT_TRUE(waitUntil([this] { return overlay->pending().has_value(); }));
  EXPECT_EQ(overlay->pending(), 11u);
  EXPECT_EQ(studio->selectedDisplay(), 11u);
}

TEST_F(OverlayOnTwoMonitors, NoOverlayIsMappedWhenTheRecordingStartsAndAFailureMapsThemAgain) {
  capture->onRecording = [](testing::FakeRecording& r) {
    r.startError = "no space on disk";
    r.probe->gate.close();
  };
  showMapped();
  std::vector<int> statesAtStart;
  QObject::connect(studio.get(), &Studio::changed, overlay.get(), [&] {
    if (studio->busy() && statesAtStart.empty())
      for (OverlayWindow* w : overlay->windows())
        statesAtStart.push_back(mapState(w));
  });
  overlay->start(11);
  StudioTestAccess::settle(*studio);
  ASSERT_TRUE(capture->previews.back()->started());
  capture->previews.back()->frame();
  ASSERT_TRUE(waitUntil([this] { return !capture->recordings.empty(); }));
  EXPECT_EQ(statesAtStart, (std::vector<int>{IsUnmapped, IsUnmapped}));

  capture->recordings[0]->gate.open();
  ASSERT_TRUE(waitUntil([this] { return !overlay->running(); }));
  EXPECT_TRUE(waitUntil([this] {
    return mapState(overlay->windows()[0]) == IsViewable &&
           mapState(overlay->windows()[1]) == IsViewable;
  }));
  ASSERT_TRUE(overlay->message());
  EXPECT_TRUE(overlay->message()->contains(QStringLiteral("no space on disk")));
  EXPECT_TRUE(waitUntil([this] {
    return QGuiApplication::focusWindow() == on(12)->windowHandle();
  })) << "the keys come back to the overlay with the controls";
}

TEST_F(OverlayOnTwoMonitors, ThePictureOfTheScreenNeverHoldsASheetThatJustClosed) {
  // A blue window with a red sheet over it, both on screen.
  QWidget window;
  window.setPalette(QPalette(QColor(0x2040c0)));
  window.setAutoFillBackground(true);
  window.setGeometry(100, 100, 800, 600);
  QWidget sheet(&window, Qt::Dialog);
  sheet.setPalette(QPalette(QColor(0xe02020)));
  sheet.setAutoFillBackground(true);
  sheet.setGeometry(300, 300, 300, 200);
  window.show();
  sheet.show();
  auto pixel = [this](int x, int y) {
    XImage* image = XGetImage(dpy, DefaultRootWindow(dpy), x, y, 1, 1, AllPlanes, ZPixmap);
    const unsigned long p = image ? XGetPixel(image, 0, 0) & 0xffffff : 0;
    if (image) XDestroyImage(image);
    return p;
  };
  ASSERT_TRUE(
      waitUntil([&] { return pixel(450, 400) == 0xe02020 && pixel(150, 150) == 0x2040c0; }));
  // Choosing "Choose Display" in the sheet: it closes and the overlays come in the same turn.
  sheet.hide();
  overlay->show(*studio);
  OverlayWindow* left = nullptr;
  for (OverlayWindow* w : overlay->windows())
    if (w->targetScreen()->geometry().contains(450, 400)) left = w;
  ASSERT_NE(left, nullptr);
  ASSERT_FALSE(left->backdrop().isNull());
  EXPECT_EQ(left->backdrop().pixelColor(450, 400).rgb() & 0xffffff, 0x2040c0u)
      << "the overlay shows the closed sheet";
}

TEST_F(OverlayOnTwoMonitors, WithACompositingManagerTheOverlaysAreTranslucent) {
  // Anyone owning the manager selection of the screen counts as one.
  const Window owner = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, 1, 1, 0, 0, 0);
  const std::string name = "_NET_WM_CM_S" + std::to_string(DefaultScreen(dpy));
  const Atom selection = XInternAtom(dpy, name.c_str(), False);
  EXPECT_FALSE(RecordingOverlayController::compositing());
  XSetSelectionOwner(dpy, selection, owner, CurrentTime);
  XSync(dpy, False);
  EXPECT_TRUE(RecordingOverlayController::compositing());
  showMapped();
  for (OverlayWindow* w : overlay->windows()) {
    EXPECT_TRUE(w->testAttribute(Qt::WA_TranslucentBackground));
    EXPECT_TRUE(w->backdrop().isNull());
  }
  XDestroyWindow(dpy, owner);
  XSync(dpy, False);
  EXPECT_FALSE(RecordingOverlayController::compositing());
}

}  // namespace
}  // namespace vantry
