#include "capture/recording_messages.h"

#include <cerrno>
#include <cmath>

#include "localization/localization.h"
#include "localization/user_message.h"

namespace vantry {

std::string recordingWriteFailure(RecordingFile file, const std::string& path, int errnum,
                                  std::string_view detail, std::string_view then) {
  const std::string shown = shownPath(path);
  std::string sentence;
  switch (file) {
    case RecordingFile::screen:
      sentence = L("无法写入录屏文件 {0}。", shown);
      break;
    case RecordingFile::camera:
      sentence = L("无法写入摄像头录像 {0}。", shown);
      break;
    case RecordingFile::voice:
      sentence = L("无法写入配音文件 {0}。", shown);
      break;
  }
  return systemFailure(std::move(sentence), errnum, then, detail);
}

std::string recordingFolderFailure(const std::string& recordingsFolder, int errnum,
                                   std::string_view detail) {
  return systemFailure(L("无法在 {0} 中创建录制文件夹。", shownPath(recordingsFolder)), errnum,
                       L("请确认这个位置可以写入，然后重新录制。"), detail);
}

namespace {

bool outOfSpace(int errnum) {
  return errnum == ENOSPC || errnum == EDQUOT || errnum == EFBIG;
}

}  // namespace

std::string writeAdvice(int errnum) {
  return outOfSpace(errnum) ? L("请释放一些磁盘空间，然后重新录制。")
                            : L("请检查磁盘和录制文件夹，然后重新录制。");
}

std::string recoveryAdvice(int errnum, const std::string& folder) {
  const std::string shown = shownPath(folder);
  return outOfSpace(errnum) ? L("录制保存在 {0}，腾出空间后重新打开 Vantry 即可恢复。", shown)
                            : L("录制保存在 {0}，检查磁盘后重新打开 Vantry 即可恢复。", shown);
}

std::string recordingFolderRemoved(const std::string& folder) {
  return L("录制文件夹 {0} 在录制中被删除了，这段录制没有保留任何内容。请重新录制。",
           shownPath(folder));
}

namespace {

// Less than a second kept reads as such, not as "00:00"; more is rounded, not cut.
bool underASecond(double seconds) {
  return !(seconds >= 1);
}

std::string roundedDuration(double seconds) {
  return shownDuration(std::round(seconds));
}

}  // namespace

std::string recordingKept(double seconds, const std::string& folder, std::string_view advice) {
  const std::string shown = shownPath(folder);
  return joinSentences({underASecond(seconds)
                            ? L("已保留不到一秒的录制，保存在 {0}。", shown)
                            : L("已保留 {0} 的录制，保存在 {1}。", roundedDuration(seconds), shown),
                        advice});
}

std::string trackKept(KeptTrack track, std::optional<double> seconds) {
  const bool camera = track == KeptTrack::camera;
  if (!seconds) return camera ? L("没有保留任何摄像头画面。") : L("没有保留任何声音。");
  if (underASecond(*seconds))
    return camera ? L("已保留不到一秒的摄像头画面。") : L("已保留不到一秒的声音。");
  const std::string shown = roundedDuration(*seconds);
  return camera ? L("已保留 {0} 的摄像头画面。", shown) : L("已保留 {0} 的声音。", shown);
}

std::string cameraAndSoundKept(std::optional<double> picture, std::optional<double> sound) {
  if (!picture && !sound) return L("摄像头画面和声音都没有保留。");
  if (picture && sound && underASecond(*picture) && underASecond(*sound))
    return L("已保留不到一秒的摄像头画面和声音。");
  if (picture && sound && !underASecond(*picture) && !underASecond(*sound) &&
      roundedDuration(*picture) == roundedDuration(*sound))
    return L("已保留 {0} 的摄像头画面和声音。", roundedDuration(*picture));
  return joinSentences({trackKept(KeptTrack::camera, picture), trackKept(KeptTrack::sound, sound)});
}

std::string lostInputMessage(LostInput what, double keptSeconds, std::string_view detail) {
  std::string text;
  switch (what) {
    case LostInput::cameraDevice:
      text = joinSentences({L("摄像头在录制中断开了。"), L("设备已断开或被拔出。"),
                            trackKept(KeptTrack::camera, keptSeconds),
                            L("请检查摄像头，然后重新录制。")});
      break;
    case LostInput::microphoneDevice:
    case LostInput::soundServer:
      text = joinSentences(
          {L("麦克风在录制中断开了。"),
           what == LostInput::soundServer ? L("声音服务已停止。") : L("设备已断开或被拔出。"),
           trackKept(KeptTrack::sound, keptSeconds), L("请检查麦克风和声音服务，然后重新录制。")});
      break;
  }
  return withDetail(std::move(text), detail);
}

}  // namespace vantry
