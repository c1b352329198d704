// vantry-tool sources [--icons DIR]: the displays and windows that can be recorded, as JSON;
// with --icons, each window's icon (the size shown in the window list) as DIR/<id>.png.
#include <QBuffer>
#include <QDir>
#include <QImage>

#include <iostream>
#include <nlohmann/json.hpp>

#include "command.h"
#include "platform/durable_file.h"
#include "platform/screen_source.h"
#include "studio/capture_services.h"

namespace {

constexpr const char* kUsage = "sources [--icons DIR]";
// The list draws icons 24 points wide; 48 pixels serve a doubled scale too.
constexpr int kIconPixels = 48;

nlohmann::json rectJson(const vantry::platform::Rect& r) {
  return {{"x", r.x}, {"y", r.y}, {"width", r.width}, {"height", r.height}};
}

int run(const vantry::tool::Args& args) {
  std::optional<QString> iconFolder;
  if (args.size() == 2 && args[0] == "--icons" && !args[1].empty()) {
    iconFolder = QString::fromStdString(args[1]);
  } else if (!args.empty()) {
    std::cerr << "usage: vantry-tool " << kUsage << "\n";
    return 64;
  }
  if (iconFolder && !QDir().mkpath(*iconFolder)) {
    std::cerr << "cannot create " << iconFolder->toStdString() << "\n";
    return 1;
  }
  try {
    const auto capture = vantry::platform::defaultScreenCapture();
    const auto content = capture->shareableContent();
    nlohmann::json out{{"displays", nlohmann::json::array()}, {"windows", nlohmann::json::array()}};
    for (const auto& d : content.displays) {
      out["displays"].push_back(
          {{"id", d.id}, {"name", d.name}, {"primary", d.primary}, {"rect", rectJson(d.frame)}});
    }
    int failures = 0;
    for (const auto& w : content.windows) {
      nlohmann::json entry{{"id", w.id},
                           {"title", w.title},
                           {"application", w.application.name},
                           {"pid", w.application.pid},
                           {"layer", w.layer},
                           {"rect", rectJson(w.frame)}};
      if (iconFolder) {
        const auto icon = capture->windowIcon(w.id, kIconPixels);
        const QImage image = icon ? vantry::windowIconImage(*icon) : QImage();
        if (!image.isNull()) {
          const QString path = QDir(*iconFolder).filePath(QString::number(w.id) + ".png");
          // Window ids are easy to guess: a link planted under one is replaced, never
          // written through.
          QByteArray png;
          QBuffer buffer(&png);
          std::string error = "cannot encode";
          if (image.save(&buffer, "PNG")) {
            error = vantry::platform::writeFileAtomically(path.toStdString(),
                                                          std::string_view(png.data(), png.size()));
          }
          if (error.empty()) {
            entry["icon"] = path.toStdString();
          } else {
            std::cerr << "cannot write " << path.toStdString() << ": " << error << "\n";
            ++failures;
          }
        }
      }
      out["windows"].push_back(std::move(entry));
    }
    // Titles are not always valid UTF-8; replace what is not instead of failing.
    std::cout << out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    return failures == 0 ? 0 : 1;
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
}

const vantry::tool::Command kCommand{"sources", kUsage, run};

}  // namespace
