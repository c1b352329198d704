// vantry-tool derive FILE: prints what the editor derives from a document (the kept
// ranges on the output timeline, the zoom events in force and the lanes' blocks).
#include <iostream>
#include <nlohmann/json.hpp>

#include "command.h"
#include "model/clip.h"
#include "model/document_json.h"

namespace {

using nlohmann::ordered_json;

ordered_json point(const vantry::Point& p) {
  return ordered_json::array({p.x, p.y});
}

ordered_json range(const vantry::SourceRange& r) {
  return {{"id", r.id.toString()}, {"start", r.start}, {"end", r.end}};
}

ordered_json derive(const vantry::Clip& clip) {
  ordered_json out = ordered_json::object();
  out["editedDuration"] = clip.editedDuration();
  out["ranges"] = ordered_json::array();
  for (const auto& r : clip.ranges())
    out["ranges"].push_back(range(r));
  out["placedRanges"] = ordered_json::array();
  for (const auto& p : clip.placedRanges()) {
    out["placedRanges"].push_back({{"range", range(p.range)}, {"start", p.start}});
  }
  out["zoomEvents"] = ordered_json::array();
  for (const auto& z : clip.zoomEvents()) {
    ordered_json e = {
        {"id", z.id.toString()}, {"start", z.start}, {"end", z.end}, {"center", point(z.center)}};
    if (z.amount) e["amount"] = *z.amount;
    out["zoomEvents"].push_back(std::move(e));
  }
  out["zoomBlocks"] = ordered_json::array();
  for (const auto& b : clip.zoomBlocks()) {
    ordered_json block = {{"id",
                           {{"eventID", b.id.eventID.toString()},
                            {"rangeID", b.id.rangeID.toString()},
                            {"sourceStart", b.id.sourceStart}}},
                          {"sourceEnd", b.sourceEnd},
                          {"outputStart", b.outputStart},
                          {"center", point(b.center)}};
    if (b.amount) block["amount"] = *b.amount;
    out["zoomBlocks"].push_back(std::move(block));
  }
  out["presenterBlocks"] = ordered_json::array();
  for (const auto& b : clip.presenterBlocks()) {
    out["presenterBlocks"].push_back(
        {{"id", {{"rangeID", b.id.rangeID.toString()}, {"sourceStart", b.id.sourceStart}}},
         {"sourceEnd", b.sourceEnd},
         {"outputStart", b.outputStart},
         {"fullScreen", b.fullScreen}});
  }
  return out;
}

int run(const vantry::tool::Args& args) {
  if (args.size() != 1) {
    std::cerr << "usage: vantry-tool derive FILE\n";
    return 64;
  }
  try {
    std::cout << derive(vantry::decodeClipFile(args[0])).dump() << "\n";
  } catch (const vantry::DocumentError& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
  return 0;
}

const vantry::tool::Command kCommand{"derive", "derive FILE", run};

}  // namespace
