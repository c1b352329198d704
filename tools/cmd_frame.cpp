// vantry-tool frame (FILE | --demo) --at T OUT.png [--size WxH]: composes the output
// frame at output time T with the export compositor.
#include <cstdio>
#include <iostream>
#include <memory>

#include "args.h"
#include "command.h"
#include "model/motion_timeline.h"
#include "project_input.h"
#include "render/export_compositor.h"
#include "render/frame_renderer.h"
#include "render/video_frames.h"

namespace {

int usage() {
  std::cerr << "usage: vantry-tool frame (FILE | --demo) --at T OUT.png [--size WxH]\n";
  return 64;
}

int run(const vantry::tool::Args& args) {
  vantry::tool::ProjectInput project;
  double at = -1;
  int width = 1920, height = 1080;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--at" && i + 1 < args.size()) {
      const auto t = vantry::tool::parseNumber(args[++i]);
      if (!t) return usage();
      at = *t;
    } else if (a == "--size" && i + 1 < args.size()) {
      if (std::sscanf(args[++i].c_str(), "%dx%d", &width, &height) != 2 || width < 2 ||
          height < 2 || width > 8192 || height > 8192)
        return usage();
    } else if (!project.take(a)) {
      return usage();
    }
  }
  if (!project.complete() || at < 0) return usage();
  const auto app = vantry::tool::makeGuiApplication();
  const std::string& output = project.output;
  try {
    const vantry::Clip clip = project.load();
    const vantry::EditSettings settings = clip.savedSettings.value_or(vantry::EditSettings{});
    const double t = clip.sourceTime(at);
    vantry::FrameState state = vantry::MotionTimeline(clip, settings).state(t);
    state.presenterMix = clip.presenterMix(t);
    std::optional<QImage> screen, camera;
    if (clip.screenPath) screen = vantry::VideoFrames(*clip.screenPath).image(t);
    if (clip.cameraPath) camera = vantry::VideoFrames(*clip.cameraPath).image(clip.cameraTime(t));
    if (clip.isDemo) {
      if (!screen) screen = vantry::drawDemoScreen();
      if (!camera) camera = vantry::drawDemoCamera();
    }
    vantry::ExportCompositor compositor(settings, QSize(width, height));
    const QImage frame =
        compositor.image(screen ? &*screen : nullptr, camera ? &*camera : nullptr, state);
    if (!frame.save(QString::fromStdString(output), "PNG")) {
      std::cerr << "could not write " << output << "\n";
      return 1;
    }
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
  return 0;
}

const vantry::tool::Command kCommand{"frame", "frame (FILE | --demo) --at T OUT.png [--size WxH]",
                                     run};

}  // namespace
