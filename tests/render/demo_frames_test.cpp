// The composed pictures of the demonstration project must not drift when the compositor
// is reworked: frames at four moments are checked against stored pictures, as the
// encoder would see them (YUV 4:2:0), by their peak signal-to-noise ratio.
#include <gtest/gtest.h>

#include <QImage>
#include <array>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "model/demo_project.h"
#include "model/motion_timeline.h"
#include "movie_fixtures.h"
#include "platform/ffmpeg/bgra_to_yuv.h"
#include "render/composition_geometry.h"
#include "render/export_compositor.h"
#include "render/frame_renderer.h"
#include "render/kernels/pixel_kernels.h"
#include "render/video_frames.h"

namespace vantry {
namespace {

struct Yuv {
  int width = 0, height = 0;
  std::vector<uint8_t> y, u, v;
};

Yuv toYuv(const QImage& image) {
  const QImage bgra = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  Yuv out{bgra.width(), bgra.height(), {}, {}, {}};
  const int cw = out.width / 2, ch = out.height / 2;
  out.y.resize(static_cast<size_t>(out.width) * out.height);
  out.u.resize(static_cast<size_t>(cw) * ch);
  out.v.resize(out.u.size());
  ff::bgraToYuv420Bt709(bgra.constBits(), static_cast<int>(bgra.bytesPerLine()), out.width,
                        out.height, out.y.data(), out.width, out.u.data(), cw, out.v.data(), cw);
  return out;
}

// Over all three planes, weighted by their sample counts.
double psnr(const Yuv& a, const Yuv& b) {
  double sum = 0;
  size_t count = 0;
  for (auto [p, q] : {std::pair{&a.y, &b.y}, {&a.u, &b.u}, {&a.v, &b.v}}) {
    for (size_t i = 0; i < p->size(); ++i) {
      const double d = double((*p)[i]) - double((*q)[i]);
      sum += d * d;
    }
    count += p->size();
  }
  if (sum == 0) return 99;
  return 10 * std::log10(255.0 * 255.0 / (sum / count));
}

struct DemoFrames {
  Clip clip = makeDemoClip();
  EditSettings settings = clip.savedSettings.value_or(EditSettings{});
  MotionTimeline timeline{clip, settings};
  std::optional<QImage> screen = drawDemoScreen(), camera = drawDemoCamera();

  FrameState state(double at) const {
    const double t = clip.sourceTime(at);
    FrameState s = timeline.state(t);
    s.presenterMix = clip.presenterMix(t);
    return s;
  }
};

// The whole chroma blocks of `rect` (luma pixels).
Yuv crop(const Yuv& image, const QRect& rect) {
  const int l = rect.left() & ~1, t = rect.top() & ~1;
  const int w = ((rect.right() + 2) & ~1) - l, h = ((rect.bottom() + 2) & ~1) - t;
  Yuv out{w, h, {}, {}, {}};
  for (int y = t; y < t + h; ++y)
    out.y.insert(out.y.end(), &image.y[y * image.width + l], &image.y[y * image.width + l + w]);
  for (int y = t / 2; y < (t + h) / 2; ++y)
    for (auto [from, to] : {std::pair{&image.u, &out.u}, {&image.v, &out.v}})
      to->insert(to->end(), &(*from)[y * image.width / 2 + l / 2],
                 &(*from)[y * image.width / 2 + (l + w) / 2]);
  return out;
}

Yuv planes(ExportCompositor& compositor, const QImage* screen, const QImage* camera,
           const FrameState& state, const CameraPlanes* cameraPlanes = nullptr) {
  const QSize size = compositor.outputSize();
  kernels::OwnedPlanes owned;
  owned.allocate(size.width(), size.height());
  compositor.renderPlanes(nullptr, screen, camera, state, owned.planes, cameraPlanes);
  Yuv out{size.width(), size.height(), {}, {}, {}};
  for (int p = 0; p < 3; ++p) {
    const int w = p ? out.width / 2 : out.width, h = p ? out.height / 2 : out.height;
    std::vector<uint8_t>& plane = p == 0 ? out.y : p == 1 ? out.u : out.v;
    for (int y = 0; y < h; ++y)
      plane.insert(plane.end(), owned.planes.data[p] + y * owned.planes.stride[p],
                   owned.planes.data[p] + y * owned.planes.stride[p] + w);
  }
  return out;
}

// Both ways of composing: the BGRA frame of the preview and the planes of the export.
TEST(DemoFrames, StayCloseToTheStoredPictures) {
  DemoFrames demo;
  ASSERT_TRUE(demo.screen && demo.camera);
  ExportCompositor compositor(demo.settings, QSize(1920, 1080));
  const bool write = std::getenv("VANTRY_WRITE_REFERENCES") != nullptr;
  for (const char* at : {"0", "2", "5", "9.45"}) {
    const FrameState state = demo.state(std::atof(at));
    const QImage frame = compositor.image(&*demo.screen, &*demo.camera, state);
    const QString path = QStringLiteral(VANTRY_TEST_DATA "/demo-frame-%1.png").arg(at);
    if (write) {
      ASSERT_TRUE(frame.save(path, "PNG"));
    }
    const QImage stored(path);
    ASSERT_FALSE(stored.isNull()) << path.toStdString();
    const Yuv expected = toYuv(stored);
    EXPECT_GE(psnr(toYuv(frame), expected), 45.0) << "at " << at << " s";
    EXPECT_GE(psnr(planes(compositor, &*demo.screen, &*demo.camera, state), expected), 45.0)
        << "planes at " << at << " s";
  }
}

// The planes follow the BGRA frame at other sizes too, with the pointer near the card's
// edge, a click ring and the full-frame presenter.
TEST(DemoFrames, PlanesMatchTheFrameAtOtherSizes) {
  DemoFrames demo;
  for (const QSize size : {QSize(1280, 720), QSize(3840, 2160), QSize(1000, 562)}) {
    ExportCompositor compositor(demo.settings, size);
    FrameState state = demo.state(5);
    state.pointer = {0.99, 0.02};
    state.pulse = 0.1;
    for (double mix : {0.0, 0.5, 1.0}) {
      state.presenterMix = mix;
      const QImage frame = compositor.image(&*demo.screen, &*demo.camera, state);
      EXPECT_GE(psnr(planes(compositor, &*demo.screen, &*demo.camera, state), toYuv(frame)), 45.0)
          << size.width() << " mix " << mix;
    }
    // No pictures at all: the base alone.
    EXPECT_GE(psnr(planes(compositor, nullptr, nullptr, state),
                   toYuv(compositor.image(nullptr, nullptr, state))),
              50.0);
  }
}

// The arrow and the click ring are laid over the planes without a BGRA tile: up close they
// follow the BGRA frame within rounding, through the ring's life, at sub-pixel pointer
// positions, cut at the card's edge and corner, alone, hidden, and on the preview's empty
// card.
TEST(DemoFrames, PointerAndRingPlanesFollowTheFrameUpClose) {
  DemoFrames demo;
  struct Case {
    double x, y, pulse, zoom, cx, cy;
    bool large = false;  // also at 2160p
    bool cursor = true, clicks = true, preview = false;
  };
  const std::vector<Case> cases{{0.5, 0.5, 0.0, 1.0, 0.5, 0.5, true},
                                {0.4137, 0.6291, 0.1, 1.7, 0.45, 0.6, true},
                                {0.777, 0.2223, 0.3, 2.3, 0.75, 0.25},
                                {0.61, 0.38, 0.54, 1.0, 0.5, 0.5},
                                {0.3, 0.7, -1.0, 1.0, 0.5, 0.5},
                                {0.01, 0.02, 0.05, 1.0, 0.5, 0.5, true},
                                {1.0, 1.0, 0.0, 2.0, 0.75, 0.75, true},
                                {0.4, 0.4, 0.0, 1.0, 0.5, 0.5, false, true, false},
                                {0.4, 0.4, 0.0, 1.0, 0.5, 0.5, false, false},
                                {0.01, 0.02, 0.05, 1.0, 0.5, 0.5, true, true, true, true},
                                {0.45, 0.5, 0.2, 1.0, 0.5, 0.5, false, true, true, true}};
  for (const QSize size : {QSize(1280, 720), QSize(3840, 2160), QSize(1000, 562)}) {
    for (const Case& c : cases) {
      if (size.height() > 1080 && !c.large) continue;
      EditSettings settings = demo.settings;
      settings.showCamera = false;
      settings.showCursor = c.cursor;
      settings.showClicks = c.clicks;
      ExportCompositor compositor(settings, size,
                                  c.preview ? CompositorStyle::preview() : CompositorStyle{});
      FrameState state;
      state.pointer = {c.x, c.y};
      state.pulse = c.pulse;
      state.zoom = c.zoom;
      state.center = {c.cx, c.cy};
      // The preview's ring shows on the empty card, before any screen picture.
      const QImage* screen = c.preview ? nullptr : &*demo.screen;
      const double ratio = screen ? double(screen->width()) / screen->height() : 16.0 / 9.0;
      const QRectF source = compositor.toOutput(
          CompositionGeometry::sourceRect(CompositionGeometry::screenRect(ratio, settings), state));
      const QPointF p(source.x() + c.x * source.width(), source.y() + c.y * source.height());
      const int reach = static_cast<int>(70 * size.width() / 1920.0);
      const QRect near = QRect(int(p.x()) - reach, int(p.y()) - reach, 2 * reach, 2 * reach) &
                         QRect(0, 0, size.width(), size.height());
      EXPECT_GE(psnr(crop(planes(compositor, screen, nullptr, state), near),
                     crop(toYuv(compositor.image(screen, nullptr, state)), near)),
                50.0)
          << size.width() << " at " << c.x << ", " << c.y << " pulse " << c.pulse;
    }
  }
}

// The bubble is painted once per camera picture and geometry and kept: compositors sharing
// their bubbles, taking the frames in turn, give exactly the frames of a new compositor,
// through a held zoom, a moving one and a growing presenter, and a camera picture changed
// in place (a new cache key) shows at once.
TEST(DemoFrames, SharedBubblesGiveTheFramesOfANewCompositor) {
  DemoFrames demo;
  const QSize size(1280, 720);
  auto cache = std::make_shared<BubbleCache>();
  ExportCompositor a(demo.settings, size), b(demo.settings, size);
  a.shareBubbles(cache);
  b.shareBubbles(cache);
  QImage camera = demo.camera->convertToFormat(QImage::Format_ARGB32_Premultiplied);
  for (int i = 0; i < 10; ++i) {
    FrameState state = demo.state(5);
    state.zoom = i < 4 ? 2.0 : 1.0 + 0.1 * i;
    state.presenterMix = i == 7 ? 0.4 : i == 8 ? 1.0 : 0.0;
    if (i == 2 || i == 5) camera.fill(QColor(30 * i, 180, 240 - 20 * i));
    ExportCompositor fresh(demo.settings, size);
    const Yuv shared = planes(i % 2 ? b : a, &*demo.screen, &camera, state);
    const Yuv expected = planes(fresh, &*demo.screen, &camera, state);
    EXPECT_TRUE(shared.y == expected.y && shared.u == expected.u && shared.v == expected.v)
        << "frame " << i;
  }
}

// A camera handed over as planes gives the frames of its image, mirrored or not; a camera
// of odd size (no whole chroma blocks as planes) still gives the BGRA frame.
TEST(DemoFrames, CameraPlanesAndOddCameras) {
  DemoFrames demo;
  const QImage camera = demo.camera->convertToFormat(QImage::Format_ARGB32_Premultiplied);
  kernels::OwnedPlanes owned;
  owned.allocate(camera.width(), camera.height());
  kernels::tileToPlanes(camera, camera.rect(), owned.planes);
  const CameraPlanes cameraPlanes{owned.planes, 1};
  const QImage odd = camera.copy(0, 0, 301, 333);
  for (const bool mirrored : {true, false}) {
    demo.settings.mirrorCamera = mirrored;
    for (const QSize size : {QSize(1280, 720), QSize(1920, 1080)}) {
      ExportCompositor compositor(demo.settings, size);
      for (const double zoom : {1.0, 2.4}) {
        FrameState state = demo.state(5);
        state.zoom = zoom;
        const Yuv image = planes(compositor, &*demo.screen, &camera, state);
        const Yuv fromPlanes = planes(compositor, &*demo.screen, nullptr, state, &cameraPlanes);
        EXPECT_TRUE(image.y == fromPlanes.y && image.u == fromPlanes.u && image.v == fromPlanes.v)
            << size.width() << " zoom " << zoom << " mirrored " << mirrored;
        EXPECT_GE(psnr(planes(compositor, &*demo.screen, &odd, state),
                       toYuv(compositor.image(&*demo.screen, &odd, state))),
                  45.0)
            << size.width() << " zoom " << zoom << " mirrored " << mirrored;
      }
    }
  }
}

// A decoded movie sampled from its own planes gives the picture of its converted image,
// also scaled up four times with the pointer over it.
TEST(DemoFrames, MoviePlanesMatchTheConvertedPicture) {
  testing::TempDir dir;
  testing::makeIndexedMovie(dir.file("indexed.mp4"), 10, 30);
  VideoFrames planes(dir.file("indexed.mp4")), images(dir.file("indexed.mp4"));
  EditSettings settings;
  settings.showClicks = true;
  ExportCompositor compositor(settings, QSize(1280, 720));
  FrameState state;
  state.zoom = 1.3;
  state.pulse = 0.2;
  for (int i = 0; i < 10; i += 3) {
    const VideoFrames::Picture p = planes.picture(i / 30.0);
    const std::optional<QImage> image = images.image(i / 30.0);
    ASSERT_TRUE(p.planes && image);
    kernels::Planes source;
    for (int k = 0; k < 3; ++k) {
      source.data[k] = p.planes->data[k];
      source.stride[k] = p.planes->linesize[k];
    }
    source.width = p.planes->width;
    source.height = p.planes->height;
    kernels::OwnedPlanes out;
    out.allocate(1280, 720);
    compositor.renderPlanes(&source, nullptr, nullptr, state, out.planes);
    Yuv composed{1280, 720, {}, {}, {}};
    for (int k = 0; k < 3; ++k) {
      const int w = k ? 640 : 1280, h = k ? 360 : 720;
      std::vector<uint8_t>& plane = k == 0 ? composed.y : k == 1 ? composed.u : composed.v;
      for (int y = 0; y < h; ++y)
        plane.insert(plane.end(), out.planes.data[k] + y * out.planes.stride[k],
                     out.planes.data[k] + y * out.planes.stride[k] + w);
    }
    EXPECT_GE(psnr(composed, toYuv(compositor.image(&*image, nullptr, state))), 40.0) << i;
  }
}

}  // namespace
}  // namespace vantry
