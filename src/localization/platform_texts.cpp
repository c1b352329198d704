#include "localization/platform_texts.h"

#include "localization/localization.h"

namespace vantry {

namespace {

constexpr PlatformReplacement kReplacements[] = {
    {"读取显示器失败。请在系统设置 → 隐私与安全性 → 屏幕与系统音频录制中允许 "
     "Vantry，授权后重新打开应用。\n\n",
     "读取显示器失败。Vantry 只能在 X11 桌面会话中录屏（Wayland 会话无法录制，其中的 "
     "Xwayland 也不行）。请登录 X11 会话，并确认 DISPLAY 指向本用户可以访问的显示服务，"
     "然后重新打开应用。\n\n"},
    {"macOS 尚未允许 Vantry 录制屏幕。\n\n1. 打开系统设置 → 隐私与安全性 → "
     "屏幕与系统音频录制。\n2. 打开 Vantry 旁边的开关（不是 Corvane）。\n3. 退出并重新打开 "
     "Vantry，再点击开始录屏。\n\n如果列表中没有本应用，可用 + 添加“用户文件夹 → Applications → "
     "Vantry.app”。",
     "Vantry 无法读取屏幕画面。\n\n1. 确认当前是 X11 桌面会话；Wayland 会话无法录制，其中的 "
     "Xwayland 也不行，请注销，再登录 X11 会话。\n2. "
     "确认 DISPLAY 指向当前的显示服务，并且本用户可以访问它（XAUTHORITY 或 xhost）。\n3. "
     "退出并重新打开 Vantry，再点击开始录屏。"},
    {"摄像头权限未开启。请在系统设置 → 隐私与安全性 → 摄像头中允许 Vantry。",
     "无法打开摄像头。请确认当前用户属于 video "
     "组（加入后需重新登录），并且摄像头没有被其他应用占用。"},
    {"麦克风权限未开启。可以关闭麦克风录制，或在系统设置中允许访问。",
     "无法访问麦克风。可以关闭麦克风录制，或确认声音服务（PulseAudio 或 PipeWire）正在运行。"},
    {"打开系统设置", "打开权限帮助"},
    {"在访达中显示", "在文件管理器中显示"},
};

void replaceAll(std::string& text, std::string_view from, std::string_view to) {
  if (from.empty()) return;
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

}  // namespace

std::span<const PlatformReplacement> platformReplacements() {
  return kReplacements;
}

std::string platformMessage(std::string_view message) {
  std::string text(message);
  for (const PlatformReplacement& row : kReplacements) {
    if (text.find(row.original) != std::string::npos)
      replaceAll(text, row.original, row.replacement);
    const auto& map = Localizer::catalog();
    const auto english = map.find(row.original);
    if (english != map.end()) replaceAll(text, english->second, row.replacement);
  }
  return text;
}

std::string shownMessage(std::string_view message) {
  return LM(platformMessage(message));
}

std::string_view platformKey(std::string_view key) {
  for (const PlatformReplacement& row : kReplacements) {
    if (row.original == key) return row.replacement;
  }
  return key;
}

}  // namespace vantry
