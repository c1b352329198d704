// vantry-tool session (FILE | --demo) SCRIPT: runs a headless controller on a project, the
// way the application opens it, applies one operation per script line and prints the
// controller's state after each line as one JSON object.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>

#include "args.h"
#include "command.h"
#include "export_args.h"
#include "localization/localization.h"
#include "project_input.h"
#include "studio/studio.h"

namespace {

using nlohmann::ordered_json;
using vantry::Studio;

constexpr const char* kUsage =
    "session (FILE | --demo) SCRIPT\n"
    "      one operation a line: seek T | split | selectSegment N | delete | addZoom T\n"
    "      moveZoom N T | resizeZoom N lead|trail T | setZoomAmount N A | removeZoom N\n"
    "      setPresenter full|bubble | undo | redo | play | pause | wait S | setRate R | save\n"
    "      (N counts from 0 in edited order)";

struct BadLine {};

double number(const std::string& text) {
  auto v = vantry::tool::parseNumber(text);
  if (!v) throw BadLine{};
  return *v;
}

std::size_t index(const std::string& text, std::size_t count) {
  auto v = vantry::tool::parseWhole(text);
  if (!v || *v >= count) throw BadLine{};
  return static_cast<std::size_t>(*v);
}

// Runs the event loop until `done` holds, at most `seconds`.
void runUntil(const std::function<bool()>& done, double seconds) {
  QElapsedTimer t;
  t.start();
  while (!done() && t.elapsed() < seconds * 1000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// Seconds after its start at which the next export is cancelled.
std::optional<double> gCancelAfter;

// prepare [--display ID | --window ID] [--camera] [--mic]: shows the recording setup and
// waits for its live preview.
void prepare(Studio& s, const std::vector<std::string>& w) {
  std::optional<vantry::platform::DisplayId> display;
  std::optional<vantry::platform::WindowId> window;
  bool camera = false;
  bool microphone = false;
  for (std::size_t i = 1; i < w.size(); ++i) {
    if ((w[i] == "--display" || w[i] == "--window") && i + 1 < w.size()) {
      auto id = vantry::tool::parseWhole(w[i + 1], 0xffffffffULL, true);
      if (!id) throw BadLine{};
      (w[i] == "--display" ? display : window) = static_cast<std::uint32_t>(*id);
      ++i;
    } else if (w[i] == "--camera") {
      camera = true;
    } else if (w[i] == "--mic") {
      microphone = true;
    } else {
      throw BadLine{};
    }
  }
  if (display && window) throw BadLine{};
  if (!s.previewing()) s.record();
  if (display) s.setSelectedDisplay(*display);
  s.setSelectedWindowID(window);
  s.setUseMicrophone(microphone);
  s.setUseCamera(camera);  // also starts the live preview
  runUntil([&] { return !s.preparing(); }, 20);
}

void record(Studio& s, double seconds) {
  s.startPreparedRecording();
  runUntil([&] { return !s.busy(); }, 30);
  if (!s.recording()) return;
  // A recording can end by itself (a lost display, a full disk).
  runUntil([&] { return !s.recording(); }, seconds);
  if (s.recording()) s.stop();
  runUntil([&] { return !s.busy(); }, 120);
}

void exportTo(Studio& s, const std::vector<std::string>& w) {
  if (w.size() < 2) throw BadLine{};
  vantry::ExportOptions options;
  for (std::size_t i = 2; i < w.size(); ++i)
    if (vantry::tool::takeExportOption(w, i, options) != vantry::tool::OptionTaken::yes)
      throw BadLine{};
  s.exportMovie();
  s.setExportOptions(options);
  s.beginExportTo(w[1]);
  if (gCancelAfter && s.exporting())
    QTimer::singleShot(static_cast<int>(*gCancelAfter * 1000), &s, [&s] { s.cancelExport(); });
  gCancelAfter.reset();
  runUntil([&] { return !s.exporting(); }, 24 * 3600);
}

// Runs the event loop (the frame clock, completions, autosave) for a while.
void runFor(double seconds) {
  QEventLoop loop;
  QTimer::singleShot(static_cast<int>(std::max(0.0, seconds) * 1000), &loop, &QEventLoop::quit);
  loop.exec();
}

std::vector<vantry::ZoomEvent> zooms(const Studio& s) {
  auto events = s.clip().zoomEvents();
  std::sort(events.begin(), events.end(), [&](const auto& a, const auto& b) {
    return s.clip().outputTime(a.start).value_or(a.start) <
           s.clip().outputTime(b.start).value_or(b.start);
  });
  return events;
}

void perform(Studio& s, const std::vector<std::string>& w) {
  const std::string& op = w[0];
  const std::size_t n = w.size() - 1;
  auto zoomAt = [&](const std::string& text) {
    auto events = zooms(s);
    return events[index(text, events.size())].id;
  };
  if (op == "seek" && n == 1) return s.seek(number(w[1]));
  if (op == "split" && n == 0) return s.split();
  if (op == "selectSegment" && n == 1) {
    auto ranges = s.clip().placedRanges();
    return s.setSelectedSegment(ranges[index(w[1], ranges.size())].id());
  }
  if (op == "delete" && n == 0) return s.deleteSelection();
  if (op == "addZoom" && n == 1) return s.addZoom(number(w[1]));
  if (op == "moveZoom" && n == 2) return s.moveZoom(zoomAt(w[1]), number(w[2]));
  if (op == "resizeZoom" && n == 3 && (w[2] == "lead" || w[2] == "trail"))
    return s.resizeZoom(zoomAt(w[1]), w[2] == "lead", number(w[3]));
  if (op == "setZoomAmount" && n == 2) return s.setZoomAmount(zoomAt(w[1]), number(w[2]));
  if (op == "removeZoom" && n == 1) {
    s.selectZoom(zoomAt(w[1]));
    return s.removeSelectedZoom();
  }
  if (op == "setPresenter" && n == 1 && (w[1] == "full" || w[1] == "bubble"))
    return s.setPresenter(w[1] == "full");
  if (op == "undo" && n == 0) return s.undoEdit();
  if (op == "redo" && n == 0) return s.redoEdit();
  if (op == "play" && n == 0) {
    if (!s.playing()) s.togglePlayback();
    return;
  }
  if (op == "pause" && n == 0) {
    if (s.playing()) s.togglePlayback();
    return;
  }
  if (op == "wait" && n == 1) return runFor(number(w[1]));
  if (op == "setRate" && n == 1) {
    double rate = number(w[1]);
    if (rate < 0.5 || rate > 2) throw BadLine{};
    return s.setPlaybackRate(rate);
  }
  if (op == "prepare") return prepare(s, w);
  if (op == "record" && n == 1) return record(s, number(w[1]));
  if (op == "export") return exportTo(s, w);
  if (op == "cancelExport" && n == 1) {
    gCancelAfter = std::max(0.0, number(w[1]));
    return;
  }
  if (op == "save" && n == 0) {
    s.saveNow();
    return;
  }
  throw BadLine{};
}

ordered_json describe(const Studio& s) {
  ordered_json out;
  out["time"] = s.displayTime();
  out["duration"] = s.duration();
  out["playing"] = s.playing();
  out["rate"] = s.playbackRate();
  out["notice"] = s.notice();
  out["error"] = s.error().value_or("");
  out["canUndo"] = s.canUndo();
  out["canRedo"] = s.canRedo();
  auto ranges = s.clip().placedRanges();
  out["selectedSegment"] = nullptr;
  for (std::size_t i = 0; i < ranges.size(); ++i)
    if (s.selectedSegment() == ranges[i].id()) out["selectedSegment"] = i;
  auto events = zooms(s);
  out["selectedZoom"] = nullptr;
  for (std::size_t i = 0; i < events.size(); ++i)
    if (s.selectedZoomID() == events[i].id) out["selectedZoom"] = i;
  out["segments"] = ranges.size();
  out["zooms"] = events.size();
  out["presenterFull"] = s.presenterFull();
  out["project"] = s.projectURL().value_or("");
  out["preparing"] = s.preparing();
  out["setupError"] = s.setupError().value_or("");
  out["recording"] = s.recording();
  out["exporting"] = s.exporting();
  out["exportProgress"] = s.exportProgress();
  out["exportResult"] = s.exportResultURL().value_or("");
  out["exportFailure"] = s.exportFailure().value_or("");
  out["exportCancelled"] = s.exportCancelled();
  return out;
}

int run(const vantry::tool::Args& args) {
  vantry::tool::ProjectInput input;
  for (const std::string& a : args)
    if (!input.take(a)) return vantry::tool::usageError(kUsage);
  if (!input.complete()) return vantry::tool::usageError(kUsage);
  std::ifstream scriptFile(input.output);
  if (!scriptFile) {
    std::cerr << "vantry-tool session: cannot read " << input.output << "\n";
    return 1;
  }

  auto app = vantry::tool::makeGuiApplication();
  vantry::setCurrentLanguage(vantry::AppLanguage::english);
  vantry::StudioServices services = vantry::defaultStudioServices();
  // The live preview and the recording start only with a "prepare" line.
  services.capture = vantry::defaultStudioCapture();
  services.dialogs = nullptr;
  services.desktop = nullptr;
  auto studio = std::make_unique<Studio>(services);
  if (input.demo) {
    studio->demo();
    studio->togglePlayback();  // the demonstration starts playing; a script starts paused
  } else {
    // The project opens on a worker; its end is reported here.
    std::optional<bool> opened;
    if (studio->openProjectFile(input.input, [&](bool ok) { opened = ok; }))
      runUntil([&] { return opened.has_value(); }, 120);
    if (!opened.value_or(false)) {
      std::cerr << studio->error().value_or("cannot open " + input.input) << "\n";
      return 1;
    }
  }
  studio->setError(std::nullopt);
  QCoreApplication::processEvents();

  std::string line;
  int number = 0;
  while (std::getline(scriptFile, line)) {
    ++number;
    std::istringstream words(line);
    std::vector<std::string> w{std::istream_iterator<std::string>(words), {}};
    if (w.empty() || w[0][0] == '#') continue;
    try {
      perform(*studio, w);
    } catch (const BadLine&) {
      std::cerr << "vantry-tool session: line " << number << ": cannot do \"" << line << "\"\n";
      return 64;
    }
    QCoreApplication::processEvents();
    std::cout << describe(*studio).dump() << std::endl;
  }
  studio.reset();  // writes a pending autosave
  return 0;
}

const vantry::tool::Command kCommand{"session", kUsage, run};

}  // namespace
