#include "render/render_error.h"

// The user-facing error type is shared with capture; it is header-only, so using it here
// adds no link dependency on the capture layer.
#include "platform/studio_error.h"

namespace vantry {

void throwStudioError(const std::string& message) {
  throw StudioError(message);
}

}  // namespace vantry
