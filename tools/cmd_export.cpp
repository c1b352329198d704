// vantry-tool export (FILE | --demo) OUT [--format mp4|mov] [--encoding h264|hevc]
//   [--resolution 720|1080|1440|2160] [--fps 30|60] [--quality compact|balanced|high]
// Exports with the real exporter, printing every progress value; SIGINT or SIGTERM cancels.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <stop_token>
#include <thread>

#include "args.h"
#include "command.h"
#include "export_args.h"
#include "localization/localization.h"
#include "project_input.h"
#include "render/export_options.h"
#include "render/movie_exporter.h"
#include "render/render_error.h"

namespace {

std::atomic<bool> gInterrupted{false};

void onSignal(int) {
  gInterrupted = true;
}

int usage() {
  std::cerr << "usage: vantry-tool export (FILE | --demo) OUT [--format mp4|mov] "
               "[--encoding h264|hevc] [--resolution 720|1080|1440|2160] [--fps 30|60] "
               "[--quality compact|balanced|high]\n";
  return 64;
}

int run(const vantry::tool::Args& args) {
  using vantry::ExportOptions;
  vantry::tool::ProjectInput project;
  ExportOptions options;
  for (size_t i = 0; i < args.size(); ++i) {
    const auto taken = vantry::tool::takeExportOption(args, i, options);
    if (taken == vantry::tool::OptionTaken::bad) return usage();
    if (taken == vantry::tool::OptionTaken::no && !project.take(args[i])) return usage();
  }
  if (!project.complete()) return usage();
  const auto app = vantry::tool::makeGuiApplication();

  std::stop_source stop;
  std::signal(SIGINT, onSignal);
  // A polite kill cancels like ^C, so that the export removes what it made.
  std::signal(SIGTERM, onSignal);
  std::jthread watcher([&](std::stop_token done) {
    while (!done.stop_requested()) {
      if (gInterrupted) {
        stop.request_stop();
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });

  const auto started = std::chrono::steady_clock::now();
  try {
    const vantry::Clip clip = project.load();
    const vantry::EditSettings settings = clip.savedSettings.value_or(vantry::EditSettings{});
    vantry::MovieExporter exporter;
    if (!project.demo) exporter.setDocumentPath(project.input);
    exporter.exportMovie(
        clip, settings, options, project.output,
        [](double v) {
          std::printf("%.6g\n", v);
          std::fflush(stdout);
        },
        stop.get_token());
  } catch (const vantry::CancelledError&) {
    std::cerr << vantry::L("已取消导出 · 项目和原始录屏已保留") << "\n";
    return 1;
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf("done in %.1f s\n", seconds);
  return 0;
}

const vantry::tool::Command kCommand{
    "export",
    "export (FILE | --demo) OUT [--format mp4|mov] [--encoding h264|hevc] "
    "[--resolution 720|1080|1440|2160] [--fps 30|60] [--quality compact|balanced|high]",
    run};

}  // namespace
