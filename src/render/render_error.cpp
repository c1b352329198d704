#include "render/render_error.h"

// The user-facing error type is shared with capture; it is header-only, so using it here
// adds no link dependency on the capture layer.
#include "platform/studio_error.h"

namespace vantry {

void throwStudioError(const std::string& message) {
  throw StudioError(message);
}

void rethrowNaming(const std::string& path, std::exception_ptr error) {
  const std::string shown = shownPath(path);
  try {
    std::rethrow_exception(error);
  } catch (const CancelledError&) {
    throw;
  } catch (const StudioError& e) {
    if (e.message().find(shown) != std::string::npos) throw;  // the reader named it already
    throw StudioError(shown + ": " + e.message());
  } catch (const std::exception& e) {
    throw std::runtime_error(shown + ": " + e.what());
  }
}

}  // namespace vantry
