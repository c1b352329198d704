// vantry-tool thumbnail MOVIE OUT.png: the still the export sheet shows of a finished movie,
// extracted the same way.
#include <QString>

#include <filesystem>
#include <iostream>

#include "command.h"
#include "render/video_frames.h"

namespace {

int run(const vantry::tool::Args& args) {
  if (args.size() != 2) {
    std::cerr << "usage: vantry-tool thumbnail MOVIE OUT.png\n";
    return 64;
  }
  // Movies are opened by absolute paths only.
  std::error_code ec;
  const std::optional<QImage> still =
      vantry::movieThumbnail(std::filesystem::absolute(args[0], ec).string());
  if (!still) {
    std::cerr << "no picture could be read from " << args[0] << "\n";
    return 1;
  }
  if (!still->save(QString::fromStdString(args[1]), "PNG")) {
    std::cerr << "could not write " << args[1] << "\n";
    return 1;
  }
  std::cout << still->width() << "x" << still->height() << "\n";
  return 0;
}

const vantry::tool::Command kCommand{"thumbnail", "thumbnail MOVIE OUT.png", run};

}  // namespace
