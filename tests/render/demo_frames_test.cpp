// The composed pictures of the demonstration project must not drift when the compositor
// is reworked: frames at four moments are checked against stored pictures, as the
// encoder would see them (YUV 4:2:0), by their peak signal-to-noise ratio.
#include <gtest/gtest.h>

#include <QImage>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "model/demo_project.h"
#include "model/motion_timeline.h"
#include "platform/ffmpeg/bgra_to_yuv.h"
#include "render/export_compositor.h"
#include "render/frame_renderer.h"

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

TEST(DemoFrames, StayCloseToTheStoredPictures) {
  DemoFrames demo;
  ASSERT_TRUE(demo.screen && demo.camera);
  ExportCompositor compositor(demo.settings, QSize(1920, 1080));
  const bool write = std::getenv("VANTRY_WRITE_REFERENCES") != nullptr;
  for (const char* at : {"0", "2", "5", "9.45"}) {
    const QImage frame = compositor.image(&*demo.screen, &*demo.camera, demo.state(std::atof(at)));
    const QString path = QStringLiteral(VANTRY_TEST_DATA "/demo-frame-%1.png").arg(at);
    if (write) {
      ASSERT_TRUE(frame.save(path, "PNG"));
    }
    const QImage stored(path);
    ASSERT_FALSE(stored.isNull()) << path.toStdString();
    EXPECT_GE(psnr(toYuv(frame), toYuv(stored)), 45.0) << "at " << at << " s";
  }
}

}  // namespace
}  // namespace vantry
