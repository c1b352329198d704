// vantry-tool record: records a display or a window for a number of seconds and prints the
// recording folder; or, with --preview-seconds, writes the live preview's frames as PNG.
// Exit status: 0 a whole recording; 3 a recording kept but cut short (a full disk, a lost
// display, camera or microphone, a termination signal), said on standard error with how
// much was kept; 1 nothing recorded; 64 a wrong command line.
#include <QCoreApplication>
#include <QImage>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <mutex>
#include <optional>
#include <thread>

#include "args.h"
#include "capture/camera_companion.h"
#include "capture/display_preview.h"
#include "capture/display_recorder.h"
#include "capture/recording_messages.h"
#include "command.h"
#include "platform/screen_source.h"

namespace {

using vantry::platform::DisplayId;
using vantry::platform::WindowId;

std::atomic<bool> gInterrupted{false};

constexpr int kCutShort = 3;

void onSignal(int) {
  gInterrupted.store(true);
}

constexpr const char* kUsage =
    "record [--display ID | --window ID] --seconds N [--camera] [--mic] [--preview-seconds N "
    "--preview-out DIR]";

std::optional<unsigned long> parseId(const std::string& text) {
  return vantry::tool::parseWhole(text, 0xffffffffULL, true);  // decimal or 0x...
}

std::optional<double> parseSeconds(const std::string& text) {
  const auto v = vantry::tool::parseNumber(text);
  if (!v || *v < 0 || *v > 24 * 3600) return std::nullopt;
  return v;
}

// Waits `seconds`, or less when SIGINT or SIGTERM arrives or `ended` turns true.
void waitOrInterrupt(double seconds, const std::function<bool()>& ended = {}) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!gInterrupted.load() && !(ended && ended()) && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

int usage() {
  return vantry::tool::usageError(kUsage);
}

int run(const vantry::tool::Args& args) {
  std::optional<DisplayId> display;
  std::optional<WindowId> window;
  std::optional<double> seconds;
  std::optional<double> previewSeconds;
  std::string previewOut;
  bool camera = false;
  bool mic = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--camera" || a == "--mic") {  // switches without a value
      (a == "--camera" ? camera : mic) = true;
      continue;
    }
    if (i + 1 >= args.size()) return usage();
    const std::string& v = args[++i];
    if (a == "--display") {
      auto id = parseId(v);
      if (!id) return usage();
      display = DisplayId(*id);
    } else if (a == "--window") {
      auto id = parseId(v);
      if (!id) return usage();
      window = WindowId(*id);
    } else if (a == "--seconds") {
      if (!(seconds = parseSeconds(v))) return usage();
    } else if (a == "--preview-seconds") {
      if (!(previewSeconds = parseSeconds(v))) return usage();
    } else if (a == "--preview-out") {
      previewOut = v;
    } else {
      return usage();
    }
  }
  if (display && window) return usage();
  if (previewSeconds.has_value() != !previewOut.empty()) return usage();
  if (!previewSeconds && !seconds) return usage();

  int argc = 1;
  char name[] = "vantry-tool";
  char* argv[] = {name, nullptr};
  QCoreApplication::setOrganizationName("Vantry");
  QCoreApplication::setApplicationName("Vantry");
  QCoreApplication app(argc, argv);

  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  try {
    auto screen = vantry::platform::defaultScreenCapture();
    if (!display) {
      // The main display when none is named (ignored for a window).
      display = 0;
      if (!window) {
        const auto content = screen->shareableContent();
        for (const auto& d : content.displays)
          if (d.primary || *display == 0) display = d.id;
      }
    }

    if (previewSeconds) {
      std::filesystem::create_directories(previewOut);
      vantry::DisplayPreview preview(screen);
      std::mutex mutex;
      int written = 0;
      preview.onFrame = [&](const QImage& image) {
        std::lock_guard lock(mutex);
        const auto file =
            std::filesystem::path(previewOut) / ("preview-" + std::to_string(written + 1) + ".png");
        if (image.save(QString::fromStdString(file.string()), "PNG")) ++written;
      };
      preview.start(*display, window);
      waitOrInterrupt(*previewSeconds);
      preview.stop();
      std::lock_guard lock(mutex);
      std::cout << previewOut << "\n" << written << " frames\n";
      return 0;
    }

    vantry::RecorderEnvironment env;
    env.screen = screen;
    vantry::DisplayRecorder recorder(env);
    // Failures are told once, with what was kept, when the recording has stopped.
    recorder.start(*display, window, vantry::makeRecordingCompanions(camera, mic));
    // A recording that ended by itself (the display was lost) stops at once, as if the user
    // had pressed stop.
    waitOrInterrupt(*seconds, [&] { return recorder.ended(); });
    const bool interrupted = gInterrupted.load();
    const vantry::Clip clip = recorder.stop();
    const std::string warning = recorder.warning();
    if (!warning.empty()) std::cerr << warning << "\n";
    std::cout << recorder.folder() << "\n";
    // A script must be able to tell a cut recording from a whole one.
    if (!interrupted && !recorder.ended() && warning.empty()) return 0;
    // A recording that ended by itself has said how much of it was kept.
    if (!recorder.ended())
      std::cerr << vantry::recordingKept(clip.duration, recorder.folder()) << "\n";
    return kCutShort;
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
}

const vantry::tool::Command kCommand{"record", kUsage, run};

}  // namespace
