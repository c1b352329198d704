// The test hook's map file is written as the app's other files are.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QObject>
#include <QTest>

#include <filesystem>

#include "app/widget_map.h"
#include "support/file_bytes.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace vantry {
namespace {

namespace fs = std::filesystem;

TEST(WidgetMap, ALinkAtItsNameIsReplacedNotWrittenThrough) {
  test::TempDir dir;
  const fs::path victim = dir.path / "victim", map = dir.path / "map.json";
  test::writeFile(victim, "precious");
  ::chmod(victim.c_str(), 06777);
  fs::create_symlink(victim, map);
  test::ScopedEnv variable("VANTRY_WIDGET_MAP", map.c_str());
  {
    QObject owner;
    startWidgetMapFromEnvironment(&owner);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !fs::is_symlink(map); }, 30000));
  }
  struct stat st {};
  ASSERT_EQ(::lstat(map.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(test::readFile(victim), "precious");
  ASSERT_EQ(::lstat(victim.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 06777u);
}

}  // namespace
}  // namespace vantry
