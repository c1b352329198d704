#include <cstdlib>
#include <cstring>

#include "platform/camera_source.h"
#include "platform/synthetic/synthetic_camera.h"
#include "platform/v4l2/v4l2_camera.h"

namespace vantry::platform {

std::unique_ptr<CameraSource> makeCameraSource() {
  const char* synthetic = std::getenv("VANTRY_SYNTHETIC_CAMERA");
  if (synthetic && *synthetic && std::strcmp(synthetic, "0") != 0) {
    return std::make_unique<SyntheticCamera>();
  }
  return std::make_unique<V4l2Camera>();
}

}  // namespace vantry::platform
