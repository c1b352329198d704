// The preview surface offscreen: canvas mapping, the bubble drag with its guards and
// Escape, and where the demonstration art may appear.
#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <memory>

#include "model/camera_layout.h"
#include "preview/preview_surface.h"
#include "studio/fakes.h"

namespace vantry {
namespace {

struct SurfaceFixture : ::testing::Test {
  testing::Harness h;
  std::unique_ptr<Studio> studio;
  std::unique_ptr<PreviewSurface> surface;

  void SetUp() override {
    studio = std::make_unique<Studio>(h.services());
    surface = std::make_unique<PreviewSurface>(studio.get());
    surface->resize(960, 540);
    surface->show();
  }
  void TearDown() override {
    surface.reset();
    studio.reset();
  }
  void mouse(QEvent::Type type, QPointF at) {
    const Qt::MouseButtons buttons =
        type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(Qt::LeftButton);
    QMouseEvent event(type, at, surface->mapToGlobal(at), Qt::LeftButton, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(surface.get(), &event);
  }
  void key(int code) {
    QKeyEvent event(QEvent::KeyPress, code, Qt::NoModifier);
    QCoreApplication::sendEvent(surface.get(), &event);
  }
  QRgb centre(QSize size) {
    const QImage& image = surface->compose(size);
    return image.pixel(size.width() / 2, size.height() / 2) & 0xFFFFFF;
  }
};

TEST_F(SurfaceFixture, ViewPointsMapOntoTheCanvasWithYDownAlsoWhenFillingAndCropping) {
  const Point middle = surface->canvasPoint({480, 270});
  EXPECT_DOUBLE_EQ(middle.x, 960);
  EXPECT_DOUBLE_EQ(middle.y, 540);
  const Point corner = surface->canvasPoint({0, 540});
  EXPECT_DOUBLE_EQ(corner.x, 0);
  EXPECT_DOUBLE_EQ(corner.y, 1080);

  surface->resize(1000, 1000);
  surface->setFit(PreviewSurface::Fit::fillCrop);
  EXPECT_NEAR(surface->canvasRect().width(), 1000 * 16.0 / 9, 1e-9);
  const Point top = surface->canvasPoint({500, 0});
  EXPECT_NEAR(top.x, 960, 1e-9);
  EXPECT_NEAR(top.y, 0, 1e-9);
}

TEST_F(SurfaceFixture, TheBubbleDragsWithAGrabAndEscapeRestoresItsCorner) {
  studio->demo();
  ASSERT_TRUE(surface->canDragCamera());
  const QRectF bubble = surface->cameraViewRect();
  const Rect onCanvas = CameraLayout::rect(studio->settings(), 1, 0);
  EXPECT_NEAR(bubble.x(), onCanvas.x / 2, 1e-9);
  EXPECT_NEAR(bubble.width(), onCanvas.width / 2, 1e-9);

  // A press outside the bubble does nothing.
  mouse(QEvent::MouseButtonPress, {20, 20});
  EXPECT_FALSE(surface->dragging());
  mouse(QEvent::MouseButtonRelease, {20, 20});

  const QPointF start = bubble.center();
  mouse(QEvent::MouseButtonPress, start);
  ASSERT_TRUE(surface->dragging());
  EXPECT_EQ(QWidget::mouseGrabber(), surface.get());
  EXPECT_EQ(surface->cursor().shape(), Qt::ClosedHandCursor);
  mouse(QEvent::MouseMove, start - QPointF(200, 100));
  ASSERT_TRUE(studio->settings().cameraPosition);
  const Point dragged = *studio->settings().cameraPosition;
  const Point expected =
      CameraLayout::draggedPosition(onCanvas.center(), {-400, -200}, studio->settings());
  EXPECT_NEAR(dragged.x, expected.x, 1e-9);
  EXPECT_NEAR(dragged.y, expected.y, 1e-9);
  EXPECT_TRUE(studio->undoStack().empty()) << "a drag is no undo step";
  key(Qt::Key_Escape);
  EXPECT_FALSE(surface->dragging());
  EXPECT_FALSE(studio->settings().cameraPosition) << "back to its corner layout";
  EXPECT_NE(QWidget::mouseGrabber(), surface.get());

  // Released, the new place stays; Escape afterwards is not the surface's.
  mouse(QEvent::MouseButtonPress, start);
  mouse(QEvent::MouseMove, start - QPointF(200, 100));
  mouse(QEvent::MouseButtonRelease, start - QPointF(200, 100));
  EXPECT_FALSE(surface->dragging());
  key(Qt::Key_Escape);
  ASSERT_TRUE(studio->settings().cameraPosition);
  EXPECT_NEAR(studio->settings().cameraPosition->x, dragged.x, 1e-9);
}

// The regions the surface was asked to paint.
struct PaintProbe : QObject {
  std::vector<QRegion> regions;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) regions.push_back(static_cast<QPaintEvent*>(e)->region());
    return false;
  }
};

TEST_F(SurfaceFixture, RepaintsOnlyWhatTheChangeShows) {
  auto settle = [] {
    for (int i = 0; i < 5; ++i)
      QCoreApplication::processEvents();
  };
  QImage screen(960, 540, QImage::Format_ARGB32_Premultiplied);
  screen.fill(Qt::red);
  QImage camera(64, 48, QImage::Format_ARGB32_Premultiplied);
  camera.fill(Qt::green);
  studio->setLiveScreenImage(screen);
  studio->setLiveCameraImage(camera);
  settle();
  PaintProbe probe;
  surface->installEventFilter(&probe);

  // A change the picture does not show.
  studio->setNotice("elsewhere");
  studio->setUseMicrophone(false);
  settle();
  EXPECT_TRUE(probe.regions.empty());

  // A new camera picture alone: the bubble, composed as a full compose would.
  QImage blue = camera.copy();
  blue.fill(Qt::blue);
  studio->setLiveCameraImage(blue);
  settle();
  ASSERT_EQ(probe.regions.size(), 1u);
  const QRect painted = probe.regions[0].boundingRect();
  EXPECT_TRUE(painted.contains(surface->cameraViewRect().toAlignedRect()));
  EXPECT_LT(painted.width() * painted.height(), 960 * 540 / 8);
  PreviewSurface fresh(studio.get());
  EXPECT_EQ(surface->composed(), fresh.compose(QSize(960, 540)));

  // A new screen picture: all of it.
  probe.regions.clear();
  QImage yellow = screen.copy();
  yellow.fill(Qt::yellow);
  studio->setLiveScreenImage(yellow);
  settle();
  ASSERT_EQ(probe.regions.size(), 1u);
  EXPECT_EQ(probe.regions[0].boundingRect(), surface->rect());
  surface->removeEventFilter(&probe);
}

// While playing, a tick's moment waits for the screen's and the camera's pictures being read
// for it, and the three make one picture, not one each: composed on the worker, the very
// picture a paint would compose (here zoomed in).
TEST_F(SurfaceFixture, PlayingComposesTheMomentAndThePicturesOfATickOnce) {
  Clip clip;
  clip.title = "Lesson";
  clip.duration = 4;
  clip.screenPath = "/rec/screen.mov";
  clip.cameraPath = "/rec/camera.mov";
  // A pointer that moves all the time, and a click that zooms in.
  for (int i = 0; i <= 40; ++i)
    clip.samples.edit().push_back({i / 10.0, 0.2 + 0.01 * i, 0.3 + 0.005 * i, i == 10});
  ASSERT_TRUE(studio->load(clip));
  testing::FakeFrames* screen = h.frames.at("/rec/screen.mov");
  testing::FakeFrames* camera = h.frames.at("/rec/camera.mov");
  auto picture = [](QSize size, QColor color) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(color);
    return image;
  };
  auto deliver = [](testing::FakeFrames* frames, QImage image) {
    frames->picture = std::move(image);
    frames->busy = false;
    frames->onReady();
  };
  deliver(screen, picture({1920, 1080}, Qt::red));
  deliver(camera, picture({640, 360}, Qt::green));
  // Until the surface shows the moment's picture (as a paint would compose it), painted.
  auto settle = [&](int from) {
    const QImage expected = PreviewSurface(studio.get()).compose(QSize(960, 540));
    const QDeadlineTimer deadline(10000);
    while ((surface->composed() != expected || surface->compositions() == from) &&
           !deadline.hasExpired())
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return surface->composed() == expected;
  };
  ASSERT_TRUE(settle(surface->compositions()));
  studio->setPlaying(true);

  const int before = surface->compositions();
  const int paintsBefore = surface->paintCompositions();
  screen->busy = camera->busy = true;
  studio->setTime(1.5);
  deliver(screen, picture({1920, 1080}, Qt::blue));
  QCoreApplication::sendPostedEvents();  // the screen's picture arrives first
  deliver(camera, picture({640, 360}, Qt::yellow));
  EXPECT_TRUE(settle(before));
  EXPECT_GT(studio->state().zoom, 1.2);
  EXPECT_EQ(surface->compositions() - before, 1);
  EXPECT_EQ(surface->paintCompositions(), paintsBefore);

  // The screen is read for the width the surface shows it at, zoomed; a hidden one shows none.
  studio->seek(1.5);
  const double zoom = std::max(studio->motion().state(1.5).zoom, studio->motion().state(1.75).zoom);
  EXPECT_EQ(screen->widths.back(), int(std::ceil(960 * zoom)));
  surface->hide();
  studio->seek(1.5);
  EXPECT_EQ(screen->widths.back(), 0);
}

TEST_F(SurfaceFixture, TheBubbleIsNotDraggableWithoutAPictureWhileExportingOrFullFrame) {
  // Live preview: only with a live camera picture.
  EXPECT_FALSE(surface->canDragCamera());
  studio->setLiveCameraImage(QImage(32, 18, QImage::Format_ARGB32_Premultiplied));
  EXPECT_TRUE(surface->canDragCamera());

  studio->demo();
  ASSERT_TRUE(surface->canDragCamera());
  studio->setExporting(true);
  EXPECT_FALSE(surface->canDragCamera());
  mouse(QEvent::MouseButtonPress, surface->cameraViewRect().center());
  EXPECT_FALSE(surface->dragging());
  studio->setExporting(false);

  auto hidden = studio->settings();
  hidden.showCamera = false;
  studio->setSettings(hidden);
  EXPECT_FALSE(surface->canDragCamera());
  hidden.showCamera = true;
  studio->setSettings(hidden);

  // A recorded project without a camera movie has no picture to drag.
  Clip recorded = studio->clip();
  recorded.isDemo = false;
  ASSERT_TRUE(studio->load(recorded));
  EXPECT_FALSE(surface->canDragCamera());

  // The presenter filling the frame.
  Clip full = studio->clip();
  full.isDemo = true;
  full.presenterEvents = std::vector<PresenterEvent>{{Uuid::random(), 0, true}};
  ASSERT_TRUE(studio->load(full));
  ASSERT_GE(studio->state().presenterMix, 0.01);
  EXPECT_FALSE(surface->canDragCamera());
}

TEST_F(SurfaceFixture, DemonstrationArtShowsOnlyInTheDemonstrationProject) {
  const QSize size(480, 270);
  // Live preview before the first frame: the empty light card.
  EXPECT_EQ(centre(size), 0xF4F6FAu);
  studio->demo();
  EXPECT_NE(centre(size), 0xF4F6FAu);
  Clip recorded = studio->clip();
  recorded.isDemo = false;
  ASSERT_TRUE(studio->load(recorded));
  EXPECT_EQ(centre(size), 0xF4F6FAu);
}

// What the surface paints into a plain image at `size` is the composed picture (scaled above
// 1080p), the raw premultiplied values (edges may fall a shade short of opaque); a repaint of
// `part` writes that part and nothing around it (a control above the rest is not repainted
// with it).
void expectPaintedPicture(PreviewSurface& surface, Studio& studio, QSize size, QRect part) {
  studio.demo();
  studio.setPlaying(false);
  studio.seek(4.2);
  surface.resize(size);
  QImage painted(size, QImage::Format_RGB32);
  painted.fill(Qt::magenta);
  surface.render(&painted);
  const QImage& picture = surface.compose(size);
  const QImage expected = QImage(picture.constBits(), picture.width(), picture.height(),
                                 picture.bytesPerLine(), QImage::Format_RGB32)
                              .copy();
  EXPECT_EQ(painted, expected);
  painted.fill(Qt::magenta);
  surface.render(&painted, part.topLeft(), QRegion(part));
  EXPECT_EQ(painted.copy(part), expected.copy(part));
  EXPECT_EQ(painted.pixel(part.left() - 1, part.top()), QColor(Qt::magenta).rgb());
  EXPECT_EQ(painted.pixel(part.right() + 1, part.bottom()), QColor(Qt::magenta).rgb());
  EXPECT_EQ(painted.pixel(part.left(), part.bottom() + 1), QColor(Qt::magenta).rgb());
}

TEST_F(SurfaceFixture, AboveFullHdTheCappedPictureIsScaledIntoTheExposedPixelsOnly) {
  expectPaintedPicture(*surface, *studio, QSize(3840, 2160), QRect(1001, 1500, 900, 82));
}

// Within 1080p the picture is copied in rather than drawn by the painter.
TEST_F(SurfaceFixture, WithinFullHdThePictureIsCopiedIntoTheExposedPixelsOnly) {
  expectPaintedPicture(*surface, *studio, QSize(1600, 900), QRect(301, 500, 700, 41));
}

}  // namespace
}  // namespace vantry
