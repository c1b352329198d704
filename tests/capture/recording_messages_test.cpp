// What a person reads when a recording goes wrong, in both languages: the file or folder
// with home as "~", the reason in words and never twice, what was kept, what to do.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "capture/recording_messages.h"
#include "localization/language_scope.h"
#include "support/scoped_env.h"

namespace vantry {
namespace {

TEST(RecordingMessages, AFullDiskNamesTheFileWhatWasKeptAndWhatToDo) {
  test::ScopedEnv home("HOME", "/home/ann");
  const std::string folder = "/home/ann/.local/share/Pexilar/Recordings/A1";
  const std::string movie = folder + "/screen.mp4";
  {
    LanguageScope english(AppLanguage::english);
    EXPECT_EQ(recordingWriteFailure(RecordingFile::screen, movie, ENOSPC, "No space left on device",
                                    recordingKept(24.7, folder, writeAdvice(ENOSPC))),
              "Could not write the screen recording ~/.local/share/Pexilar/Recordings/A1/"
              "screen.mp4. The disk is full. Kept 00:25 of the recording in "
              "~/.local/share/Pexilar/Recordings/A1. Free some disk space, then record again.");
    // A folder that cannot be made: the recordings folder is named, not a file in it.
    EXPECT_EQ(recordingFolderFailure("/home/ann/.local/share/Pexilar/Recordings", ENOTDIR,
                                     "Not a directory"),
              "Could not create a recording folder in ~/.local/share/Pexilar/Recordings. Part of "
              "the path is not a folder. Make sure this place can be written to, then record "
              "again.");
    // A library's reason without words follows on its own line.
    EXPECT_EQ(recordingWriteFailure(RecordingFile::camera, folder + "/camera.mov", 0,
                                    "Generic error in an external library"),
              "Could not write the camera recording ~/.local/share/Pexilar/Recordings/A1/"
              "camera.mov.\nGeneric error in an external library");
  }
  LanguageScope chinese(AppLanguage::chinese);
  const std::string text = recordingWriteFailure(RecordingFile::screen, movie, EROFS,
                                                 "Read-only file system", writeAdvice(EROFS));
  EXPECT_EQ(text,
            "无法写入录屏文件 ~/.local/share/Pexilar/Recordings/A1/screen.mp4。磁盘是只读的。"
            "请检查磁盘和录制文件夹，然后重新录制。");
  EXPECT_EQ(text.find("Read-only"), std::string::npos);
  EXPECT_EQ(recordingKept(75, folder),
            "已保留 01:15 的录制，保存在 ~/.local/share/Pexilar/Recordings/A1。");
  // A document that could not be written for want of anything but space: no space to free.
  EXPECT_EQ(
      recoveryAdvice(EROFS, folder),
      "录制保存在 ~/.local/share/Pexilar/Recordings/A1，检查磁盘后重新打开 Vantry 即可恢复。");
}

// A length kept is rounded to the nearest second, and under a second is said so, not "00:00".
TEST(RecordingMessages, WhatWasKeptIsRoundedOrSaidToBeLessThanASecond) {
  test::ScopedEnv home("HOME", "/home/ann");
  {
    LanguageScope english(AppLanguage::english);
    EXPECT_EQ(recordingKept(2.99, "/home/ann/A1"), "Kept 00:03 of the recording in ~/A1.");
    EXPECT_EQ(recordingKept(0.6, "/home/ann/A1", "Record again."),
              "Kept less than a second of the recording in ~/A1. Record again.");
    EXPECT_EQ(trackKept(KeptTrack::camera, 1.02), "Kept 00:01 of the camera picture.");
    EXPECT_EQ(trackKept(KeptTrack::sound, 0.98), "Kept less than a second of the sound.");
  }
  {
    // A camera movie holds the microphone's sound too: both are named, "nothing" where the
    // file holds none of it.
    LanguageScope english(AppLanguage::english);
    EXPECT_EQ(cameraAndSoundKept(2.4, 1.6), "Kept 00:02 of the camera picture and the sound.");
    EXPECT_EQ(cameraAndSoundKept(3.2, std::nullopt),
              "Kept 00:03 of the camera picture. Kept nothing of the sound.");
    EXPECT_EQ(cameraAndSoundKept(0.4, 0.2),
              "Kept less than a second of the camera picture and the sound.");
    EXPECT_EQ(trackKept(KeptTrack::sound, std::nullopt), "Kept nothing of the sound.");
  }
  LanguageScope chinese(AppLanguage::chinese);
  EXPECT_EQ(cameraAndSoundKept(std::nullopt, std::nullopt), "摄像头画面和声音都没有保留。");
  EXPECT_EQ(trackKept(KeptTrack::camera, 0), "已保留不到一秒的摄像头画面。");
  EXPECT_EQ(recordingKept(0.5, "/home/ann/A1"), "已保留不到一秒的录制，保存在 ~/A1。");
  EXPECT_EQ(
      lostInputMessage(LostInput::cameraDevice, 59.5, ""),
      "摄像头在录制中断开了。设备已断开或被拔出。已保留 01:00 的摄像头画面。请检查摄像头，然后重新"
      "录制。");
}

}  // namespace
}  // namespace vantry
