// The capture setup queue of the controller (live preview, prepared camera, teardown).
#pragma once

#include "studio/studio.h"

namespace vantry {

struct Studio::CaptureWorker {};

}  // namespace vantry
