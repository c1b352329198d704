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
              "screen.mp4. The disk is full. The recording was kept up to 00:24 in "
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
            "录制已保留到 01:15，保存在 ~/.local/share/Pexilar/Recordings/A1。");
}

}  // namespace
}  // namespace vantry
