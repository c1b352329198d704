// The controller's running export.
#pragma once

#include "studio/studio.h"

namespace vantry {

struct Studio::ExportRun {};

}  // namespace vantry
