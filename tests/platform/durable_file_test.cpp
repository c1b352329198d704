#include "platform/durable_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

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

  // A replaced file keeps its permissions but never a set-id bit; a shorter text leaves no
  // tail of the old one.
  fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                            fs::perms::set_gid);
  EXPECT_EQ(writeFileAtomically(file, "{}"), "");
  EXPECT_EQ(contents(file), "{}");
  EXPECT_EQ(fs::status(file).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

  EXPECT_EQ(writeFileAtomically(dir.path / "empty.json", ""), "");
  EXPECT_EQ(fs::file_size(dir.path / "empty.json"), 0u);
  EXPECT_EQ(entries(dir.path), 2u);
}

mode_t modeOf(const fs::path& file) {
  struct stat st {};
  return ::lstat(file.c_str(), &st) == 0 ? st.st_mode : 0;
}

// Someone else's file, wide open and set-id, for links to lead to.
struct Victim {
  fs::path path;
  explicit Victim(const fs::path& at) : path(at) {
    std::ofstream(path) << "precious";
    ::chmod(path.c_str(), 06777);
  }
  bool untouched() const {
    return modeOf(path) == (S_IFREG | 06777) && contents(path) == "precious";
  }
};

TEST(DurableFile, ALinkAtTheNameOrInPlaceOfTheHiddenFileCannotRedirectTheWrite) {
  test::TempDir dir, elsewhere;
  const Victim victim(elsewhere.path / "victim");
  const fs::path document = dir.path / "edit.json";
  const mode_t old = ::umask(077);
  fs::create_symlink(victim.path, document);
  // A second thread puts a link to the victim in place of every hidden file it finds, and
  // watches for any file with set-id bits.
  std::atomic<bool> done = false;
  std::atomic<int> swaps = 0, setIds = 0;
  std::thread other([&] {
    for (int n = 0; !done; ++n) {
      std::error_code ec;
      for (fs::directory_iterator it(dir.path, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path found = it->path();
        if (modeOf(found) & (S_ISUID | S_ISGID)) ++setIds;
        if (found.filename().string().rfind(".edit.", 0) != 0) continue;
        const fs::path link = dir.path / ("link" + std::to_string(n));
        fs::create_symlink(victim.path, link, ec);
        if (std::rename(link.c_str(), found.c_str()) == 0) ++swaps;
      }
    }
  });
  // Bounded, so that a writer leaving no hidden file to swap fails the test rather than
  // hanging it; twenty swaps take well under a second.
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (swaps < 20 && std::chrono::steady_clock::now() < end)
    writeFileAtomically(document, "ours");
  done = true;
  other.join();
  EXPECT_GE(swaps, 20) << "no hidden file to put a link in place of";
  EXPECT_EQ(setIds, 0);
  EXPECT_TRUE(victim.untouched());
  // Whatever the last swap left at the name, the next write puts a private file there.
  EXPECT_EQ(writeFileAtomically(document, "last"), "");
  EXPECT_EQ(modeOf(document), S_IFREG | 0600);
  EXPECT_EQ(contents(document), "last");
  ::umask(old);
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
    // A media file opened for its writer.
    const int fd = openPrivateFile(data / "screen.mp4");
    EXPECT_GE(fd, 0);
    ::close(fd);
    EXPECT_EQ(fs::status(data / "screen.mp4").permissions() & fs::perms::all,
              (fs::perms::owner_read | fs::perms::owner_write) & ~fs::perms(mask));
    ::umask(old);
  }
  std::ofstream(dir.path / "file") << "x";
  EXPECT_NE(makePrivateFolder(dir.path / "file"), "");
}

// Narrowed through one descriptor: a link where the folder is gives neither itself nor what it
// leads to a mode (a folder of recordings may lead to one the person shares), nor does
// another user's folder.
TEST(DurableFile, AFolderIsNarrowedNeverThroughALinkAndOnlyWhenItIsTheUsers) {
  test::TempDir dir, elsewhere;
  const fs::path shared = elsewhere.path / "shared";
  fs::create_directory(shared);
  ::chmod(shared.c_str(), 0755);
  fs::create_directory_symlink(shared, dir.path / "Recordings");
  EXPECT_EQ(makePrivateFolder(dir.path / "Recordings"), "");
  EXPECT_EQ(modeOf(shared), S_IFDIR | 0755);
  // A recording made in it is private all the same.
  EXPECT_EQ(makePrivateFolder(dir.path / "Recordings" / "ABC"), "");
  EXPECT_EQ(modeOf(shared / "ABC"), S_IFDIR | 0700);
  EXPECT_EQ(modeOf(shared), S_IFDIR | 0755);
  // Nor is a movie written through a link at its name.
  const Victim victim(elsewhere.path / "victim");
  fs::create_symlink(victim.path, dir.path / "Recordings" / "ABC" / "screen.mp4");
  EXPECT_EQ(openPrivateFile(dir.path / "Recordings" / "ABC" / "screen.mp4"), -1);
  EXPECT_TRUE(victim.untouched());
  // A link that leads to no folder is no place for one.
  fs::create_symlink(elsewhere.path / "missing", dir.path / "Dangling");
  EXPECT_NE(makePrivateFolder(dir.path / "Dangling"), "");
  EXPECT_FALSE(fs::exists(elsewhere.path / "missing"));

  const fs::path theirs = dir.path / "theirs";
  fs::create_directory(theirs);
  ::chmod(theirs.c_str(), 0755);
  if (::chown(theirs.c_str(), ::geteuid() + 1, ::getegid()) != 0)
    GTEST_SKIP() << "another user's folder needs root to make";
  EXPECT_EQ(makePrivateFolder(theirs), "");
  EXPECT_EQ(modeOf(theirs), S_IFDIR | 0755);
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
