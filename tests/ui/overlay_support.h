// A controller over a scripted capture, in the recording setup without camera, and the
// overlay controller with every wait scaled down.
#pragma once

#include <memory>

#include "setup/overlay_controller.h"
#include "studio/capture_fakes.h"
#include "studio/fakes.h"

namespace vantry::testing {

struct OverlayStudio {
  Harness h;
  std::shared_ptr<FakeCapture> capture = std::make_shared<FakeCapture>();
  std::unique_ptr<Studio> studio;
  std::unique_ptr<RecordingOverlayController> overlay;

  void open() {
    RecordingOverlayController::setTimeScale(0.02);
    auto services = h.services();
    services.capture = capture;
    studio = std::make_unique<Studio>(std::move(services));
    studio->setUseCamera(false);
    studio->setShowingRecordingSetup(true);
    overlay = std::make_unique<RecordingOverlayController>();
  }
  void close() {
    overlay.reset();
    studio.reset();
    RecordingOverlayController::setTimeScale(1);
  }
};

}  // namespace vantry::testing
