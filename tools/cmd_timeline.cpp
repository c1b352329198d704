// vantry-tool timeline (FILE | --demo) [--zoom Z] [--width W] [--ghost T] [--png OUT]: prints
// the timeline's geometry as one JSON object, in the lane content's own points, for a lane
// area W points wide (600 unless given) at timeline zoom Z (7 unless given). --ghost T adds
// the add-zoom ghost of a hover at output time T; --png also renders the card offscreen.
#include <QApplication>

#include <iostream>
#include <nlohmann/json.hpp>

#include "args.h"
#include "command.h"
#include "localization/localization.h"
#include "model/timeline_scale.h"
#include "project_input.h"
#include "studio/studio.h"
#include "timeline/timeline_geometry.h"
#include "timeline/timeline_render.h"

namespace {

using nlohmann::ordered_json;
using namespace vantry;

constexpr const char* kUsage =
    "timeline (FILE | --demo) [--zoom Z] [--width W] [--ghost T] [--png OUT]";

ordered_json geometry(const Clip& clip, double zoom, double viewport, std::optional<double> ghost) {
  const double pps = TimelineScale::pixelsPerSecond(zoom);
  const double duration = clip.editedDuration();
  const double width = timeline::contentWidth(viewport, pps, duration);
  ordered_json out = ordered_json::object();
  out["pointsPerSecond"] = pps;
  out["width"] = width;
  out["segments"] = ordered_json::array();
  for (const auto& s : timeline::segmentShapes(clip.placedRanges(), pps))
    out["segments"].push_back(
        {{"x", s.rect.x}, {"width", s.rect.width}, {"title", L("片段 {0}", s.number)}});
  const std::vector<ZoomBlock> blocks = clip.zoomBlocks();
  out["zoomBlocks"] = ordered_json::array();
  for (const auto& z : timeline::zoomShapes(blocks, pps)) {
    ordered_json handles = ordered_json::array();
    if (z.firstPiece) handles.push_back("leading");
    if (z.lastPiece) handles.push_back("trailing");
    out["zoomBlocks"].push_back({{"id", z.block.id.eventID.toString()},
                                 {"x", z.rect.x},
                                 {"width", z.rect.width},
                                 {"handles", handles}});
  }
  out["presenterBlocks"] = ordered_json::array();
  for (const auto& p : timeline::presenterShapes(clip.presenterBlocks(), pps))
    out["presenterBlocks"].push_back(
        {{"x", p.rect.x}, {"width", p.rect.width}, {"full", p.block.fullScreen}});
  out["ticks"] = ordered_json::array();
  for (const auto& t : timeline::ticks(duration, pps, 0, width))
    out["ticks"].push_back({{"x", t.x}, {"label", t.label}, {"major", t.major}});
  out["ghost"] = nullptr;
  if (ghost) {
    if (const auto g = timeline::ghostAt(*ghost, blocks, duration, pps, Studio::newZoomLength))
      out["ghost"] = {{"x", g->rect.x}, {"width", g->rect.width}, {"label", g->showsLabel}};
  }
  return out;
}

int run(const tool::Args& args) {
  tool::ProjectInput project;
  double zoom = TimelineScale::defaultZoom;
  double viewport = 600;
  std::optional<double> ghost;
  std::string png;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == "--zoom" && hasValue) {
      const auto z = tool::parseNumber(args[++i]);
      if (!z || *z < timeline::minZoom || *z > timeline::maxZoom) return tool::usageError(kUsage);
      zoom = *z;
    } else if (a == "--width" && hasValue) {
      const auto w = tool::parseNumber(args[++i]);
      if (!w || *w < 1 || *w > 100000) return tool::usageError(kUsage);
      viewport = *w;
    } else if (a == "--ghost" && hasValue) {
      ghost = tool::parseNumber(args[++i]);
      if (!ghost) return tool::usageError(kUsage);
    } else if (a == "--png" && hasValue) {
      png = args[++i];
    } else if (!project.take(a) || !project.output.empty()) {
      return tool::usageError(kUsage);
    }
  }
  if (!project.demo && project.input.empty()) return tool::usageError(kUsage);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "vantry-tool";
  static char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  Clip clip;
  try {
    clip = project.load();
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
  std::cout << geometry(clip, zoom, viewport, ghost).dump() << "\n";
  if (!png.empty()) {
    timeline::CardState state;
    state.zoom = zoom;
    state.ghost = ghost;
    const QImage image = timeline::renderCard(clip, state, viewport);
    if (!image.save(QString::fromStdString(png), "PNG")) {
      std::cerr << "could not write " << png << "\n";
      return 1;
    }
  }
  return 0;
}

const tool::Command kCommand{"timeline", kUsage, run};

}  // namespace
