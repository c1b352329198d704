#include "render/render_error.h"

#include <cerrno>

#include "localization/localization.h"

// The user-facing error type is shared with capture; it is header-only, so using it here
// adds no link dependency on the capture layer.
#include "platform/studio_error.h"

namespace vantry {

void throwStudioError(const std::string& message) {
  throw StudioError(message);
}

void throwWriteFailure(const std::string& sentence, int errnum, ExportPlace place,
                       std::string_view detail) {
  std::string advice;
  if (errnum == ENOSPC || errnum == EDQUOT)
    advice = L("请释放一些磁盘空间，然后重新导出。");
  else if (place == ExportPlace::destination)
    advice = L("请选择其他文件夹，然后重新导出。");
  else
    advice = L("请确认临时文件夹可以写入（或用 TMPDIR 指定其他文件夹），然后重新导出。");
  throw StudioError(systemFailure(sentence, errnum, advice, detail));
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
