// The full-screen player on a real X server: a window that never covers its screen has
// failed to enter full screen and closes. The app's tests run offscreen, so one test starts
// a private Xvfb and runs the FullscreenOnX case in a child on the xcb platform.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QTest>

#include <memory>

#include "app/shot_states.h"
#include "studio/studio.h"
#include "studio/studio_services.h"
#include "support/xcb_child.h"
// Xlib's macros last.
#include "platform/x11_test_server.h"

namespace vantry {
namespace {

// The window manager ignored the request, or there is none and a panel keeps its strip:
// the work area of this server leaves a strip at the bottom.
TEST(FullscreenEntry, APlayerThatNeverCoversItsScreenCloses) {
  const QByteArray display = qgetenv("DISPLAY");
  std::unique_ptr<testing::PrivateXServer> server;
  try {
    server = std::make_unique<testing::PrivateXServer>(1280, 800);
  } catch (const std::exception& e) {
    qputenv("DISPLAY", display);
    GTEST_SKIP() << e.what();
  }
  qputenv("DISPLAY", display);  // the private server is only the child's
  Display* dpy = server->display();
  const long area[4] = {0, 0, 1280, 760};
  XChangeProperty(dpy, DefaultRootWindow(dpy), XInternAtom(dpy, "_NET_WORKAREA", False),
                  XA_CARDINAL, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(area),
                  4);
  XSync(dpy, False);

  test::expectChildPasses(server->name(), "FullscreenOnX.*");
}

TEST(FullscreenOnX, AFailedEntryClosesThePlayer) {
  if (QGuiApplication::platformName() != QStringLiteral("xcb"))
    GTEST_SKIP() << "runs in a child on the xcb platform";
  StudioServices services = offscreenStudioServices();
  Studio studio(std::move(services));
  studio.demo();
  studio.setPlaying(false);
  studio.showFullscreenPreview();
  ASSERT_TRUE(studio.fullscreenPreview());
  EXPECT_TRUE(QTest::qWaitFor([&] { return !studio.fullscreenPreview(); }, 6000))
      << "the player stayed, never covering its screen";
  EXPECT_EQ(studio.fullscreenController(), nullptr);
}

}  // namespace
}  // namespace vantry
