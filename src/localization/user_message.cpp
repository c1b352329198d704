#include "localization/user_message.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "localization/localization.h"

namespace vantry {

std::string shownPath(std::string_view path) {
  const char* home = std::getenv("HOME");
  if (!home || !*home) return std::string(path);
  std::string_view prefix = home;
  while (prefix.size() > 1 && prefix.back() == '/')
    prefix.remove_suffix(1);
  if (prefix == "/") return std::string(path);
  if (path == prefix) return "~";
  if (path.size() > prefix.size() && path.substr(0, prefix.size()) == prefix &&
      path[prefix.size()] == '/')
    return "~" + std::string(path.substr(prefix.size()));
  return std::string(path);
}

std::string withDetail(std::string sentence, std::string_view detail) {
  while (!detail.empty() && (detail.back() == '\n' || detail.back() == ' '))
    detail.remove_suffix(1);
  if (detail.empty() || sentence.find(detail) != std::string::npos) return sentence;
  if (sentence.empty()) return std::string(detail);
  return sentence + "\n" + std::string(detail);
}

std::string systemReason(int errnum) {
  switch (errnum) {
    case ENOSPC:
      return L("磁盘已满。");
    case EDQUOT:
      return L("磁盘配额已用完。");
    case EROFS:
      return L("磁盘是只读的。");
    case EACCES:
    case EPERM:
      return L("没有访问权限。");
    case ENOTDIR:
      return L("路径中有一项不是文件夹。");
    case ENOENT:
      return L("文件或文件夹不存在。");
    case EISDIR:
      return L("这是一个文件夹，不是文件。");
    case EFBIG:
      return L("文件太大。");
    case ENODEV:
    case ENXIO:
    case ESTALE:
    case ENOTCONN:
      return L("存放它的设备或文件系统已断开。");
    case EIO:
      return L("读写出错，磁盘或设备可能有故障。");
    case ELOOP:
      return L("路径中的符号链接形成了循环。");
    case ENAMETOOLONG:
      return L("路径太长。");
    case EMFILE:
    case ENFILE:
      return L("打开的文件太多。");
    default:
      return {};
  }
}

std::string withReason(std::string sentence, std::string_view reason) {
  if (reason.empty()) return sentence;
  // Chinese sentences run on; English ones are parted by a blank.
  if (!sentence.empty() && currentLanguage() != AppLanguage::chinese) sentence += ' ';
  return sentence.append(reason);
}

std::string systemFailure(std::string sentence, int errnum) {
  const std::string reason = systemReason(errnum);
  if (reason.empty()) return withDetail(std::move(sentence), errnum ? std::strerror(errnum) : "");
  return withReason(std::move(sentence), reason);
}

}  // namespace vantry
