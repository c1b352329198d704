#include "render/render_error.h"

namespace vantry {

void throwStudioError(const std::string& message) {
  throw std::runtime_error(message);
}

}  // namespace vantry
