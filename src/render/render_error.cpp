#include "render/render_error.h"

#include <cstdlib>

// The user-facing error type is shared with capture; it is header-only, so using it here
// adds no link dependency on the capture layer.
#include "platform/studio_error.h"

namespace vantry {

void throwStudioError(const std::string& message) {
  throw StudioError(message);
}

std::string shownPath(const std::string& path) {
  const char* home = std::getenv("HOME");
  if (!home || !*home) return path;
  std::string prefix = home;
  while (prefix.size() > 1 && prefix.back() == '/')
    prefix.pop_back();
  if (prefix == "/") return path;
  if (path == prefix) return "~";
  if (path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0 &&
      path[prefix.size()] == '/')
    return "~" + path.substr(prefix.size());
  return path;
}

void rethrowNaming(const std::string& path, std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const CancelledError&) {
    throw;
  } catch (const StudioError& e) {
    throw StudioError(shownPath(path) + ": " + e.message());
  } catch (const std::exception& e) {
    throw std::runtime_error(shownPath(path) + ": " + e.what());
  }
}

}  // namespace vantry
