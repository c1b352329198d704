#include "app/trash.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStorageInfo>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "localization/localization.h"
#include "localization/user_message.h"

namespace vantry {

namespace {

QString homeTrash() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
         QStringLiteral("/Trash");
}

// Makes `path` a private folder when nothing is there; true when it is a folder now.
bool ensureFolder(const QString& path) {
  if (QFileInfo(path).isDir()) return true;
  ::mkdir(QFile::encodeName(path).constData(), 0700);
  return QFileInfo(path).isDir();
}

std::string trashUnusable(const QString& trash) {
  return L("废纸篓 {0} 无法使用，录制仍在原处。请把它改成可以写入的文件夹，或自行删除这段录制。",
           shownPath(trash.toStdString()));
}

}  // namespace

QStringList trashFoldersFor(const QString& folder) {
  QStringList trashes;
  const QStorageInfo source(folder);
  const QStorageInfo home(QDir::home());
  if (source.isValid() && source != home) {
    const QString top = source.rootPath();
    const QString uid = QString::number(::getuid());
    // An administrator's shared ".Trash" counts only when it is a real folder with the
    // sticky bit, as Qt checks it.
    const QString shared = top + QStringLiteral("/.Trash");
    struct stat st {};
    if (::lstat(QFile::encodeName(shared).constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
        (st.st_mode & S_ISVTX))
      trashes << shared + QLatin1Char('/') + uid;
    trashes << top + QStringLiteral("/.Trash-") + uid;
  }
  trashes << homeTrash();
  for (QString& trash : trashes)
    trash = QDir::cleanPath(trash);
  return trashes;
}

bool liesInTrash(const QString& trashed, const QStringList& trashes) {
  if (trashed.isEmpty()) return false;
  const QString parent = QFileInfo(QFileInfo(trashed).absolutePath()).canonicalFilePath();
  if (parent.isEmpty()) return false;
  for (const QString& trash : trashes) {
    const QString files = QFileInfo(trash + QStringLiteral("/files")).canonicalFilePath();
    if (!files.isEmpty() && files == parent) return true;
  }
  return false;
}

bool keepTrashedOrMoveBack(const QString& folder, const QString& trashed,
                           const QStringList& trashes) {
  const bool gone = !QFileInfo::exists(folder);
  if (gone && liesInTrash(trashed, trashes)) return true;
  if (!gone || trashed.isEmpty() || !QFileInfo::exists(trashed)) return false;
  const QFileInfo moved(trashed);
  const QString files = moved.absolutePath();
  const QString info = QFileInfo(files).absolutePath() + QStringLiteral("/info");
  if (std::rename(QFile::encodeName(moved.absoluteFilePath()).constData(),
                  QFile::encodeName(folder).constData()) != 0)
    return false;
  QFile::remove(info + QLatin1Char('/') + moved.fileName() + QStringLiteral(".trashinfo"));
  // The stray "files" and "info" folders, when nothing else is in them.
  QDir().rmdir(files);
  QDir().rmdir(info);
  return false;
}

std::optional<std::string> moveFolderToTrash(const QString& path) {
  const QString folder = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
  if (!QFileInfo(folder).isDir())
    return systemFailure(L("无法把 {0} 移到废纸篓。", shownPath(folder.toStdString())), ENOENT);
  // Qt makes the home Trash only inside an existing data folder.
  QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
  const QStringList trashes = trashFoldersFor(folder);
  // Qt takes the first of them that is, or can be made, a folder; without one it would
  // use the working folder.
  QString chosen;
  for (const QString& trash : trashes) {
    if (ensureFolder(trash)) {
      chosen = trash;
      break;
    }
  }
  if (chosen.isEmpty()) return trashUnusable(trashes.back());
  if (!ensureFolder(chosen + QStringLiteral("/files")) ||
      !ensureFolder(chosen + QStringLiteral("/info")))
    return trashUnusable(chosen);

  QFile file(folder);
  if (!file.moveToTrash())
    return withDetail(L("无法把 {0} 移到废纸篓。", shownPath(folder.toStdString())),
                      file.errorString().toStdString());
  if (keepTrashedOrMoveBack(folder, file.fileName(), trashes)) return std::nullopt;
  if (!QFileInfo::exists(folder))
    return L("录制被移到了 {0}，请把它移回 {1}。", shownPath(file.fileName().toStdString()),
             shownPath(folder.toStdString()));
  return trashUnusable(chosen);
}

}  // namespace vantry
