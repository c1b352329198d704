#include "localization/user_message.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
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

namespace {

// The error numbers systemReason() puts in words.
constexpr int kWorded[] = {ENOSPC,   EDQUOT, EROFS, EACCES,       EPERM,  ENOTDIR,
                           ENOENT,   EISDIR, EFBIG, ENODEV,       ENXIO,  ESTALE,
                           ENOTCONN, EIO,    ELOOP, ENAMETOOLONG, EMFILE, ENFILE};

}  // namespace

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
  return joinSentences({sentence, reason});
}

std::string systemFailure(std::string sentence, int errnum) {
  return systemFailure(std::move(sentence), errnum, {}, {});
}

std::string systemFailure(std::string sentence, int errnum, std::string_view then,
                          std::string_view detail) {
  const std::string reason = systemReason(errnum);
  std::string text = joinSentences({sentence, reason, then});
  if (!reason.empty()) return text;
  if (detail.empty() && errnum) detail = std::strerror(errnum);
  return withDetail(std::move(text), detail);
}

int systemErrorNumberOf(std::string_view text) {
  if (text.empty()) return 0;
  for (int errnum : kWorded)
    if (text == std::strerror(errnum)) return errnum;
  return 0;
}

std::string joinSentences(std::initializer_list<std::string_view> sentences) {
  // Chinese sentences run on; English ones are parted by a blank.
  const bool blank = currentLanguage() != AppLanguage::chinese;
  std::string text;
  for (std::string_view s : sentences) {
    if (s.empty()) continue;
    if (!text.empty() && blank) text += ' ';
    text += s;
  }
  return text;
}

std::string appendSentence(std::string message, std::string_view more) {
  const std::size_t end = message.find('\n');
  const std::string first = message.substr(0, end);
  const std::string rest = end == std::string::npos ? std::string() : message.substr(end);
  return joinSentences({first, more}) + rest;
}

std::string joinMessages(std::string first, std::string_view second) {
  if (first.empty()) return std::string(second);
  if (second.empty()) return first;
  return first + "\n" + std::string(second);
}

std::string shownDuration(double seconds) {
  // Huge values are capped well inside the integer range (a million hours still prints).
  constexpr double cap = 3.6e9;
  const double s = std::isfinite(seconds) && seconds > 0 ? std::min(seconds, cap) : 0.0;
  const auto n = static_cast<long long>(s);
  char text[32];
  std::snprintf(text, sizeof text, "%02lld:%02lld", n / 60, n % 60);
  return text;
}

}  // namespace vantry
