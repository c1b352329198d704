#include "platform/durable_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "support/temp_dir.h"

namespace vantry::platform {
namespace {

namespace fs = std::filesystem;

std::string contents(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::size_t entries(const fs::path& folder) {
  return std::size_t(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

TEST(DurableFile, WritesNewAndReplacesOldLeavingNothingElse) {
  test::TempDir dir;
  const fs::path file = dir.path / "project.json";
  EXPECT_EQ(writeFileAtomically(file, "{\"a\": 1}"), "");
  EXPECT_EQ(contents(file), "{\"a\": 1}");
  // A document of a recording is its owner's alone.
  EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);

  // A replaced file keeps its permissions; a shorter text leaves no tail of the old one.
  fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(writeFileAtomically(file, "{}"), "");
  EXPECT_EQ(contents(file), "{}");
  EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

  EXPECT_EQ(writeFileAtomically(dir.path / "empty.json", ""), "");
  EXPECT_EQ(fs::file_size(dir.path / "empty.json"), 0u);
  EXPECT_EQ(entries(dir.path), 2u);
}

TEST(DurableFile, PrivateFoldersWhateverTheUmaskAndOnlyTheNamedOneIsNarrowed) {
  test::TempDir dir;
  ::chmod(dir.path.c_str(), 0755);
  for (const mode_t mask : {mode_t(002), mode_t(0277)}) {
    SCOPED_TRACE("umask " + std::to_string(mask));
    const mode_t old = ::umask(mask);
    const fs::path data = dir.path / ("data-" + std::to_string(mask));
    EXPECT_EQ(makePrivateFolder(data / "Recordings" / "ABC"), "");
    for (const fs::path& made : {data, data / "Recordings", data / "Recordings" / "ABC"})
      EXPECT_EQ(fs::status(made).permissions() & fs::perms::all, fs::perms::owner_all) << made;
    // One made before under a wider mode is narrowed; the folders above it are not ours.
    ::chmod((data / "Recordings").c_str(), 0775);
    EXPECT_EQ(makePrivateFolder(data / "Recordings"), "");
    EXPECT_EQ(fs::status(data / "Recordings").permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_EQ(fs::status(dir.path).permissions() & fs::perms::all,
              fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                  fs::perms::others_read | fs::perms::others_exec);
    // A media file made ready for a writer that opens it by name.
    preparePrivateFile(data / "screen.mp4");
    EXPECT_EQ(fs::status(data / "screen.mp4").permissions() & fs::perms::all,
              (fs::perms::owner_read | fs::perms::owner_write) & ~fs::perms(mask));
    ::umask(old);
  }
  std::ofstream(dir.path / "file") << "x";
  EXPECT_NE(makePrivateFolder(dir.path / "file"), "");
}

TEST(DurableFile, FailureSaysWhyAndLeavesTheOldStateAlone) {
  test::TempDir dir;
  // The folder is missing: nothing can be made there.
  EXPECT_NE(writeFileAtomically(dir.path / "missing" / "project.json", "x"), "");
  EXPECT_FALSE(fs::exists(dir.path / "missing"));

  // The place holds a folder with something in it: the rename fails, the folder and what it
  // holds stay, and no hidden copy is left beside it.
  fs::create_directory(dir.path / "project.json");
  std::ofstream(dir.path / "project.json" / "keep") << "precious";
  EXPECT_NE(writeFileAtomically(dir.path / "project.json", "new"), "");
  EXPECT_EQ(contents(dir.path / "project.json" / "keep"), "precious");
  EXPECT_EQ(entries(dir.path), 1u);
}

TEST(DurableFile, FileBesideKeepsTheExtensionAndIsReplacedOnlyWhenComplete) {
  test::TempDir dir;
  const fs::path target = dir.path / "screen.mp4";
  std::ofstream(target) << "old";
  const fs::path beside = makeFileBeside(target);
  ASSERT_FALSE(beside.empty());
  EXPECT_EQ(beside.parent_path(), dir.path);
  EXPECT_EQ(beside.extension(), ".mp4");
  EXPECT_EQ(beside.filename().string().front(), '.');  // hidden while it is being written
  std::ofstream(beside) << "new";
  EXPECT_EQ(replaceDurably(beside, target), "");
  EXPECT_EQ(contents(target), "new");
  EXPECT_FALSE(fs::exists(beside));

  // A copy that vanished before the swap: the target stays as it was.
  EXPECT_NE(replaceDurably(dir.path / ".gone.mp4", target), "");
  EXPECT_EQ(contents(target), "new");
}

}  // namespace
}  // namespace vantry::platform
