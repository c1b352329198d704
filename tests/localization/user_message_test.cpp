#include "localization/user_message.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "language_scope.h"
#include "localization/localization.h"
#include "support/scoped_env.h"

namespace vantry {
namespace {

TEST(UserMessage, HomeIsShownAsTildeOnlyAtAWholeFolder) {
  test::ScopedEnv home("HOME", "/home/ann/");
  EXPECT_EQ(shownPath("/home/ann/Videos/a.mp4"), "~/Videos/a.mp4");
  EXPECT_EQ(shownPath("/home/ann"), "~");
  EXPECT_EQ(shownPath("/home/anna/a.mp4"), "/home/anna/a.mp4");
  test::ScopedEnv root("HOME", "/");
  EXPECT_EQ(shownPath("/tmp/a.mp4"), "/tmp/a.mp4");
}

TEST(UserMessage, DetailFollowsOnItsOwnLineOnceAndNeverAlone) {
  EXPECT_EQ(withDetail("Could not open ~/a.", "moov atom not found\n"),
            "Could not open ~/a.\nmoov atom not found");
  EXPECT_EQ(withDetail("Could not open ~/a.", ""), "Could not open ~/a.");
  // A sentence that already carries the text does not repeat it.
  EXPECT_EQ(withDetail("Could not write ~/a (No space left on device).", "No space left on device"),
            "Could not write ~/a (No space left on device).");
}

TEST(UserMessage, ReasonsPeopleMeetAreSentencesInBothLanguages) {
  {
    LanguageScope english(AppLanguage::english);
    EXPECT_EQ(systemFailure(L("无法写入文件 {0}。", "~/a.mp4"), ENOSPC),
              "Could not write the file ~/a.mp4. The disk is full.");
    for (int err : {ENOSPC, EDQUOT, EROFS, EACCES, ENOTDIR, ENOENT, EISDIR, ENODEV, EIO})
      EXPECT_EQ(systemReason(err).find(std::strerror(err)), std::string::npos) << err;
  }
  LanguageScope chinese(AppLanguage::chinese);
  EXPECT_EQ(systemFailure(L("无法写入文件 {0}。", "~/a.mp4"), EROFS),
            "无法写入文件 ~/a.mp4。磁盘是只读的。");
  // A number without words keeps the system's text, on the second line.
  EXPECT_EQ(systemFailure(L("无法写入文件 {0}。", "~/a.mp4"), EPROTO),
            std::string("无法写入文件 ~/a.mp4。\n") + std::strerror(EPROTO));
}

}  // namespace
}  // namespace vantry
