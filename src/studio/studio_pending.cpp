// Operations of live preview, recording and export that are not built yet. Each moves to
// its own file when it is.
#include "studio/studio.h"

namespace vantry {

void Studio::launchPreview() {}
void Studio::prepareRecording() {}
void Studio::cancelRecordingSetup() {}
void Studio::dismissRecordingSetup() {}
void Studio::setUseCamera(bool) {}
void Studio::refreshCaptureSources() {}
void Studio::openScreenPermissionSettings() {}
QImage Studio::captureWindowIcon(platform::WindowId) const {
  return {};
}

void Studio::record() {}
void Studio::startPreparedRecording() {}
void Studio::stop() {}

void Studio::exportMovie() {}
void Studio::resetExportResult() {}
void Studio::dismissExport() {}
void Studio::beginExport() {}
void Studio::beginExportTo(const std::string&) {}
void Studio::cancelExport() {}
std::string Studio::exportFileName(const QDateTime&, bool) {
  return {};
}

std::shared_ptr<StudioCapture> defaultStudioCapture() {
  return nullptr;
}

}  // namespace vantry
