// vantry-tool frame (FILE | --demo) --at T OUT.png [--size WxH]: composes the output
// frame at output time T with the export compositor.
#include <QCoreApplication>
#include <QGuiApplication>
#include <cstdio>
#include <iostream>
#include <memory>

#include "command.h"
#include "model/demo_project.h"
#include "model/document_json.h"
#include "model/motion_timeline.h"
#include "render/export_compositor.h"
#include "render/frame_renderer.h"
#include "render/video_frames.h"

namespace {

int usage() {
  std::cerr << "usage: vantry-tool frame (FILE | --demo) --at T OUT.png [--size WxH]\n";
  return 64;
}

int run(const vantry::tool::Args& args) {
  std::string input, output;
  bool demo = false;
  double at = -1;
  int width = 1920, height = 1080;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--demo") {
      demo = true;
    } else if (a == "--at" && i + 1 < args.size()) {
      at = std::atof(args[++i].c_str());
    } else if (a == "--size" && i + 1 < args.size()) {
      if (std::sscanf(args[++i].c_str(), "%dx%d", &width, &height) != 2 || width < 2 ||
          height < 2 || width > 8192 || height > 8192)
        return usage();
    } else if (!a.empty() && a[0] == '-') {
      return usage();
    } else if (!demo && input.empty()) {
      input = a;
    } else if (output.empty()) {
      output = a;
    } else {
      return usage();
    }
  }
  if (output.empty() || at < 0 || (!demo && input.empty())) return usage();

  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "vantry-tool";
  static char* argv[] = {name, nullptr};
  QCoreApplication::setOrganizationName("Vantry");
  QCoreApplication::setApplicationName("Vantry");
  QGuiApplication app(argc, argv);
  try {
    const vantry::Clip clip = demo ? vantry::makeDemoClip() : vantry::decodeClipFile(input);
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
