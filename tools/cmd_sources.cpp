// vantry-tool sources: the displays and windows that can be recorded, as JSON.
#include <iostream>
#include <nlohmann/json.hpp>

#include "command.h"
#include "platform/screen_source.h"

namespace {

nlohmann::json rectJson(const vantry::platform::Rect& r) {
  return {{"x", r.x}, {"y", r.y}, {"width", r.width}, {"height", r.height}};
}

int run(const vantry::tool::Args& args) {
  if (!args.empty()) {
    std::cerr << "usage: vantry-tool sources\n";
    return 64;
  }
  try {
    const auto content = vantry::platform::defaultScreenCapture()->shareableContent();
    nlohmann::json out{{"displays", nlohmann::json::array()}, {"windows", nlohmann::json::array()}};
    for (const auto& d : content.displays) {
      out["displays"].push_back(
          {{"id", d.id}, {"name", d.name}, {"primary", d.primary}, {"rect", rectJson(d.frame)}});
    }
    for (const auto& w : content.windows) {
      out["windows"].push_back({{"id", w.id},
                                {"title", w.title},
                                {"application", w.application.name},
                                {"pid", w.application.pid},
                                {"layer", w.layer},
                                {"rect", rectJson(w.frame)}});
    }
    // Titles are not always valid UTF-8; replace what is not instead of failing.
    std::cout << out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    return 0;
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
}

const vantry::tool::Command kCommand{"sources", "sources", run};

}  // namespace
