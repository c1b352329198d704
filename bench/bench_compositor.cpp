// Composition cost per frame and per settings change, at the preview's and the export's
// sizes: a new compositor with its first frame, a steady frame (demo screen, zoom, pointer,
// click ring, camera bubble), a settings change (padding, then camera size) with its
// frame, and the preview's 4K path (compose at 1080p, scale up). CPU time of this thread.
// Usage: bench_compositor [FRAMES [export [HEIGHT]]]   (Release build; "export": only the
// export's case, HEIGHT: only that size of it)
#include <QGuiApplication>
#include <QImage>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "render/export_compositor.h"
#include "render/frame_renderer.h"

namespace {

double threadMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec * 1e-6;
}

vantry::FrameState stateAt(int i) {
  vantry::FrameState s;
  s.zoom = 1.5 + 0.3 * (i % 10) / 10.0;
  s.center = {0.45 + 0.001 * (i % 50), 0.55};
  s.pointer = {0.5 + 0.002 * (i % 40), 0.5};
  s.pulse = (i % 60) / 100.0;
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 120;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const QImage screen = *vantry::drawDemoScreen();
  const QImage camera = *vantry::drawDemoCamera();
  vantry::EditSettings settings;
  settings.showClicks = true;

  const bool exportOnly = argc > 2 && std::string(argv[2]) == "export";
  for (const QSize size : {QSize(1280, 720), QSize(1920, 1080), QSize(3840, 2160)}) {
    if (exportOnly) break;
    QImage out;
    double t0 = threadMs();
    vantry::ExportCompositor c(settings, size, vantry::CompositorStyle::preview());
    c.render(&screen, &camera, stateAt(0), out);
    const double first = threadMs() - t0;

    t0 = threadMs();
    for (int i = 0; i < frames; ++i)
      c.render(&screen, &camera, stateAt(i), out);
    const double steady = (threadMs() - t0) / frames;

    vantry::EditSettings changed = settings;
    t0 = threadMs();
    for (int i = 0; i < frames; ++i) {
      changed.padding = 0.01 + 0.0005 * (i % 40);
      c.setSettings(changed);
      c.render(&screen, &camera, stateAt(i), out);
    }
    const double padding = (threadMs() - t0) / frames;
    t0 = threadMs();
    for (int i = 0; i < frames; ++i) {
      changed.cameraSize = 0.15 + 0.002 * (i % 40);
      c.setSettings(changed);
      c.render(&screen, &camera, stateAt(i), out);
    }
    const double cameraSize = (threadMs() - t0) / frames;
    vantry::kernels::OwnedPlanes planes;
    planes.allocate(size.width(), size.height());
    c.setSettings(settings);
    c.renderPlanes(nullptr, &screen, &camera, stateAt(0), planes.planes);
    t0 = threadMs();
    for (int i = 0; i < frames; ++i)
      c.renderPlanes(nullptr, &screen, &camera, stateAt(i), planes.planes);
    const double planar = (threadMs() - t0) / frames;
    std::printf(
        "%4dx%-4d new+first %6.2f ms, frame %5.2f ms, padding change+frame %5.2f ms, "
        "camera change+frame %5.2f ms, planes frame %5.2f ms\n",
        size.width(), size.height(), first, steady, padding, cameraSize, planar);
  }

  if (!exportOnly) {
    const QSize device(3840, 2160);
    vantry::ExportCompositor preview(settings, vantry::ExportCompositor::composeSize(device),
                                     vantry::CompositorStyle::preview());
    QImage target(device, QImage::Format_ARGB32_Premultiplied);
    vantry::EditSettings changed = settings;
    double t0 = threadMs();
    for (int i = 0; i < frames; ++i) {
      changed.padding = 0.01 + 0.0005 * (i % 40);
      preview.setSettings(changed);
      preview.renderScaled(&screen, &camera, stateAt(i), target);
    }
    std::printf("3840x2160 preview (1080p scaled up) with a padding change: %5.2f ms\n",
                (threadMs() - t0) / frames);
  }

  // The export's case: a decoded 1920x1080 screen and a 1280x720 camera as planes, the
  // camera changing every second frame (30 fps under 60), a zoom that moves part of the time.
  vantry::kernels::OwnedPlanes source;
  source.allocate(1920, 1080);
  const QImage wide = screen.scaled(1920, 1080, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                          .convertToFormat(QImage::Format_ARGB32_Premultiplied);
  vantry::kernels::tileToPlanes(wide, wide.rect(), source.planes);
  const QImage cameraHd = camera.scaled(1280, 720, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                              .convertToFormat(QImage::Format_ARGB32_Premultiplied);
  // Distinct pictures, as a decoder hands them out.
  std::vector<vantry::kernels::OwnedPlanes> cameras(8);
  for (auto& camera : cameras) {
    camera.allocate(cameraHd.width(), cameraHd.height());
    vantry::kernels::tileToPlanes(cameraHd, cameraHd.rect(), camera.planes);
  }
  const int only = argc > 3 ? std::atoi(argv[3]) : 0;
  for (const QSize size : {QSize(1920, 1080), QSize(3840, 2160)}) {
    if (only && size.height() != only) continue;
    vantry::ExportCompositor c(settings, size);
    vantry::kernels::OwnedPlanes planes;
    planes.allocate(size.width(), size.height());
    double still = 0, moving = 0;
    for (int pass = 0; pass < 2; ++pass) {
      const double t0 = threadMs();
      for (int i = 0; i < frames; ++i) {
        vantry::FrameState s = stateAt(i);
        s.zoom = pass == 0 ? 2.0 : 1 + i / static_cast<double>(frames);
        const int k = i / 2;
        const vantry::CameraPlanes camera{cameras[k % cameras.size()].planes, k + 1};
        c.renderPlanes(&source.planes, nullptr, nullptr, s, planes.planes, &camera);
      }
      (pass == 0 ? still : moving) = (threadMs() - t0) / frames;
    }
    std::printf(
        "%4dx%-4d export frame (planes, 1280x720 camera at 30 fps): zoom held %5.2f ms, "
        "zoom moving %5.2f ms\n",
        size.width(), size.height(), still, moving);
  }
  return 0;
}
