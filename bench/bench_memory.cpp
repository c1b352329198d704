// Resident memory of one controller over a working session, run by hand on a Release build
// with an X server of 1920 x 1080 as DISPLAY and a sound server (scripts/test-services.sh
// starts both):
//   bench_memory record [COUNT [SECONDS]]   COUNT recordings (5) of SECONDS (3) each, 1080p60
//                                           with the camera (synthetic) and the microphone
//   bench_memory screen [COUNT [SECONDS]]   the same with the screen alone
//   bench_memory export [COUNT]             COUNT exports (10) of the demonstration project
// For each: the peak while it ran and the resident memory once it was done. Targets: the
// fifth recording ends within 100 MB of the first; a recording with camera and microphone
// peaks at 350 MB at most.
#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/memory_release.h"
#include "studio/capture_services.h"
#include "studio/studio.h"
#include "studio_recording.h"

namespace {

using namespace vantry;
using bench::waitFor;

// VmRSS or VmHWM of this process, MB.
double statusMegabytes(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(key) + ":";
  while (std::getline(in, line))
    if (line.rfind(prefix, 0) == 0) return std::atof(line.c_str() + prefix.size()) / 1024;
  return 0;
}

// Starts a new peak from the present resident size.
void resetPeak() {
  std::ofstream("/proc/self/clear_refs") << "5";
}

void settle(double seconds) {
  waitFor([] { return false; }, seconds);
}

StudioServices services(const QTemporaryDir& dir) {
  auto s = defaultStudioServices();
  s.capture = defaultStudioCapture(nullptr, dir.path().toStdString());
  s.recordingsFolder = dir.path().toStdString();
  s.dialogs = nullptr;
  s.desktop = nullptr;
  return s;
}

int record(int count, double seconds, bool companions) {
  if (qEnvironmentVariableIsEmpty("VANTRY_SYNTHETIC_CAMERA"))
    qputenv("VANTRY_SYNTHETIC_CAMERA", "1");
  QTemporaryDir dir;
  Studio studio(services(dir));
  std::printf("%d recordings of %.0f s, %s, one controller (MB)\n", count, seconds,
              companions ? "camera and microphone" : "screen alone");
  std::printf("  before: %.0f\n", statusMegabytes("VmRSS"));
  double first = 0;
  double last = 0;
  double highest = 0;
  for (int i = 0; i < count; ++i) {
    resetPeak();
    if (!studio.previewing()) studio.record();
    studio.setUseMicrophone(companions);
    studio.setUseCamera(companions);
    if (!bench::beginRecording(studio)) return 1;
    settle(seconds);
    const double recordingPeak = statusMegabytes("VmHWM");
    studio.stop();
    waitFor([&] { return !studio.busy(); }, 120);
    if (studio.error()) std::printf("  error: %s\n", studio.error()->c_str());
    studio.setError(std::nullopt);
    settle(1.0);  // the recorder is released on the capture queue
    const double peak = statusMegabytes("VmHWM");
    last = statusMegabytes("VmRSS");
    if (i == 0) first = last;
    highest = std::max(highest, recordingPeak);
    std::printf("  recording %d: peak %.0f while recording, %.0f with the stop; after %.0f\n",
                i + 1, recordingPeak, peak, last);
  }
  std::printf(
      "  last - first: %+.0f (target within 100); highest peak while recording %.0f (target 350)\n",
      last - first, highest);
  std::fflush(stdout);
  // To look at the process's maps from outside before it goes.
  if (const char* hold = std::getenv("VANTRY_BENCH_HOLD")) settle(std::atof(hold));
  return 0;
}

int exportRuns(int count) {
  QTemporaryDir dir;
  Studio studio(services(dir));
  studio.demo();
  if (studio.playing()) studio.togglePlayback();
  settle(0.5);
  std::printf("%d exports of the demonstration project, one controller (MB)\n", count);
  std::printf("  before: %.0f\n", statusMegabytes("VmRSS"));
  double first = 0;
  double last = 0;
  for (int i = 0; i < count; ++i) {
    resetPeak();
    studio.exportMovie();
    const QString out = dir.path() + QStringLiteral("/out-%1.mp4").arg(i);
    studio.beginExportTo(out.toStdString());
    waitFor([&] { return !studio.exporting(); }, 3600);
    if (studio.exportFailure()) std::printf("  failure: %s\n", studio.exportFailure()->c_str());
    studio.setShowingExport(false);
    QFile::remove(out);
    settle(0.5);
    const double peak = statusMegabytes("VmHWM");
    last = statusMegabytes("VmRSS");
    if (i == 0) first = last;
    std::printf("  export %d: peak %.0f, after %.0f\n", i + 1, peak, last);
  }
  std::printf("  last - first: %+.0f\n", last - first);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // As the application and the tool do (VANTRY_BENCH_DEFAULT_ALLOCATOR=1 to compare).
  if (!std::getenv("VANTRY_BENCH_DEFAULT_ALLOCATOR")) platform::configureAllocator();
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const std::string mode = argc > 1 ? argv[1] : "record";
  const int count = argc > 2 ? std::atoi(argv[2]) : (mode == "export" ? 10 : 5);
  const double seconds = argc > 3 ? std::atof(argv[3]) : 3.0;
  if (mode == "record" || mode == "screen") return record(count, seconds, mode == "record");
  if (mode == "export") return exportRuns(count);
  std::fprintf(stderr, "usage: bench_memory [record|screen [COUNT [SECONDS]] | export [COUNT]]\n");
  return 2;
}
