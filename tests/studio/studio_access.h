// The one door of the tests into the controller's private state: the capture queue and
// export run, the recorder and pointer of a recording, the tick's state and the autosave
// writer.
#pragma once

#include <QCoreApplication>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "studio/capture_worker.h"
#include "studio/export_run.h"
#include "studio/project_opener.h"
#include "studio/studio.h"

namespace vantry {

class StudioTestAccess {
 public:
  // Runs everything queued on the capture queue and the project opener, then what they
  // posted back.
  static void settle(Studio& s) {
    for (int i = 0; i < 3; ++i) {
      s.captureWorker_->queue.sync([] {});
      s.opener_->queue.sync([] {});
      for (int j = 0; j < 5; ++j)
        QCoreApplication::processEvents();
    }
  }
  static void setWaitInterval(Studio& s, int ms) { s.captureWorker_->waitIntervalMs = ms; }
  static std::int64_t setupGeneration(const Studio& s) { return s.setupGeneration_; }
  static void setExporter(Studio& s, Studio::ExportRun::Exporter exporter) {
    if (!s.exportRun_) s.exportRun_ = std::make_unique<Studio::ExportRun>();
    s.exportRun_->exporter = std::move(exporter);
  }
  static void leaveStandby(Studio& s) { s.setStandby(false); }

  static void setRecorder(Studio& s, std::unique_ptr<Recording> r) { s.recorder_ = std::move(r); }
  static void setPointer(Studio& s, std::unique_ptr<platform::PointerSource> p) {
    s.pointer_ = std::move(p);
  }
  static void setRecordingStart(Studio& s, double t) { s.recordingStart_ = t; }
  static double liveClick(const Studio& s) { return s.liveClick_; }
  static Point liveFocus(const Studio& s) { return s.liveFocus_; }
  static Point livePointer(const Studio& s) { return s.livePointer_; }
  static const MotionSpring& presenterSpring(const Studio& s) { return s.presenterSpring_; }
  static const std::vector<PresenterEvent>& layouts(const Studio& s) { return s.recordingLayouts_; }
  static void setWindows(Studio& s, std::vector<platform::WindowInfo> w) {
    s.captureWindows_ = std::move(w);
  }
  static void setUseCamera(Studio& s, bool on) { s.useCamera_ = on; }
  static int writes(Studio& s);  // waits for the writer first
  // Keeps the autosave writer busy until `held` returns (it runs on the writer's thread,
  // after a write of an empty document to `path`).
  static void occupySaver(Studio& s, const std::string& path, std::function<void()> held);
  static bool savePending(const Studio& s);
};

}  // namespace vantry
