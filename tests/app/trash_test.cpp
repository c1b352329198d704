// The Trash as it is on disk: a home Trash made unusable by a file where its folder should
// be, a Trash at the top of another mount, and the move back of a folder that landed
// outside every Trash.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "app/trash.h"
#include "localization/qt/language_settings.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace vantry {
namespace {

bool touch(const QString& path, const QByteArray& bytes = "{}") {
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// A private data home and working folder, and a recording's folder to throw away.
class TrashOnDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    LanguageSettings::shared().setSelected(AppLanguage::english);
    base = QString::fromStdString(dir.path.string());
    data = base + "/data";
    work = base + "/work";
    ASSERT_TRUE(QDir().mkpath(data) && QDir().mkpath(work));
    dataHome.set(data.toLocal8Bit().constData());
    previous = QDir::currentPath();
    // Qt 6.4 falls back to "./files" in the working folder: watch that folder.
    ASSERT_TRUE(QDir::setCurrent(work));
  }
  void TearDown() override { QDir::setCurrent(previous); }

  QString recording(const QString& parent) {
    const QString folder = parent + "/2026-12-08 at 10.00.00";
    EXPECT_TRUE(QDir().mkpath(folder));
    EXPECT_TRUE(touch(folder + "/edit.json", "{\"keep\":1}"));
    return folder;
  }

  test::TempDir dir{"vantry-trash"};
  test::ScopedEnv dataHome{"XDG_DATA_HOME"};
  QString base, data, work, previous;
};

TEST_F(TrashOnDisk, AFileWhereTheHomeTrashShouldBeLeavesTheRecordingWhereItWas) {
  // A file in place of the Trash itself, then in place of its "files" folder.
  for (const QString blocker : {QString("Trash"), QString("Trash/files")}) {
    SCOPED_TRACE(blocker.toStdString());
    QDir(data).removeRecursively();
    ASSERT_TRUE(QDir().mkpath(QFileInfo(data + "/" + blocker).absolutePath()));
    ASSERT_TRUE(touch(data + "/" + blocker, "not a folder"));
    const QString folder = recording(base + "/Recordings");

    const auto failure = moveFolderToTrash(folder);
    ASSERT_TRUE(failure.has_value()) << "reported success";
    EXPECT_NE(failure->find("cannot be used"), std::string::npos) << *failure;
    EXPECT_NE(failure->find("Trash"), std::string::npos) << *failure;
    EXPECT_TRUE(QFileInfo(folder + "/edit.json").isFile()) << "the recording left its folder";
    EXPECT_FALSE(QFileInfo::exists(work + "/files")) << "something went to the working folder";
    EXPECT_FALSE(QFileInfo::exists(work + "/info"));
    EXPECT_TRUE(QFileInfo(data + "/" + blocker).isFile());
  }
}

TEST_F(TrashOnDisk, AHomeTrashMadeOnDemandTakesTheFolder) {
  // No data folder at all: the Trash is made inside a new one.
  QDir(data).removeRecursively();
  const QString folder = recording(base + "/Recordings");
  ASSERT_FALSE(moveFolderToTrash(folder).has_value());
  EXPECT_FALSE(QFileInfo::exists(folder));
  EXPECT_TRUE(QFileInfo(data + "/Trash/files/2026-12-08 at 10.00.00/edit.json").isFile());
  EXPECT_TRUE(QFileInfo(data + "/Trash/info/2026-12-08 at 10.00.00.trashinfo").isFile());
  EXPECT_FALSE(QFileInfo::exists(work + "/files"));
}

TEST_F(TrashOnDisk, AFolderOnAnotherMountGoesToThatMountsOwnTrash) {
  const QString mount = base + "/mount";
  ASSERT_TRUE(QDir().mkpath(mount));
  if (::mount("tmpfs", QFile::encodeName(mount).constData(), "tmpfs", 0, "size=2m,mode=0755") != 0)
    GTEST_SKIP() << "no second file system can be mounted here (" << std::strerror(errno)
                 << "): the top-directory Trash needs one";
  struct Unmount {
    QString path;
    ~Unmount() { ::umount2(QFile::encodeName(path).constData(), MNT_DETACH); }
  } unmount{mount};
  // The home Trash is unusable: only the mount's own Trash can take the folder.
  ASSERT_TRUE(touch(data + "/Trash", "not a folder"));
  const QString folder = recording(mount + "/Recordings");
  const QString trash = mount + "/.Trash-" + QString::number(::getuid());
  EXPECT_EQ(trashFoldersFor(folder).first(), trash);

  const auto failure = moveFolderToTrash(folder);
  ASSERT_FALSE(failure.has_value()) << *failure;
  EXPECT_FALSE(QFileInfo::exists(folder));
  EXPECT_TRUE(QFileInfo(trash + "/files/2026-12-08 at 10.00.00/edit.json").isFile());
  EXPECT_TRUE(QFileInfo(trash + "/info/2026-12-08 at 10.00.00.trashinfo").isFile());
}

TEST_F(TrashOnDisk, AFolderThatLandedOutsideEveryTrashIsMovedBack) {
  // Where Qt puts it without a Trash: "files/<name>" in the working folder, with its
  // information file in "info".
  const QString folder = recording(base + "/Recordings");
  ASSERT_TRUE(QDir(work).mkpath("files") && QDir(work).mkpath("info"));
  const QString stray = work + "/files/2026-12-08 at 10.00.00";
  ASSERT_TRUE(QDir().rename(folder, stray));
  ASSERT_TRUE(touch(work + "/info/2026-12-08 at 10.00.00.trashinfo", "[Trash Info]"));
  const QStringList trashes = {data + "/Trash"};

  EXPECT_FALSE(keepTrashedOrMoveBack(folder, "files/2026-12-08 at 10.00.00", trashes));
  EXPECT_TRUE(QFileInfo(folder + "/edit.json").isFile());
  EXPECT_FALSE(QFileInfo::exists(work + "/files"));
  EXPECT_FALSE(QFileInfo::exists(work + "/info"));

  // A folder really in a Trash stays there.
  ASSERT_TRUE(QDir().mkpath(data + "/Trash/files"));
  const QString trashed = data + "/Trash/files/2026-12-08 at 10.00.00";
  ASSERT_TRUE(QDir().rename(folder, trashed));
  EXPECT_TRUE(keepTrashedOrMoveBack(folder, trashed, trashes));
  EXPECT_TRUE(QFileInfo(trashed).isDir());
  EXPECT_FALSE(liesInTrash(data + "/Trash/info/x", trashes));
  EXPECT_FALSE(liesInTrash(data + "/files/x", trashes));
}

}  // namespace
}  // namespace vantry
