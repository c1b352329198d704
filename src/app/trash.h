#pragma once

// Moving a recording's folder to the freedesktop Trash without ever losing sight of it.
// Qt 6.4's QFile::moveToTrash falls back to the working folder when no Trash folder can be
// made, moves the folder to "./files/<name>" there and reports success; so the Trash is
// made ready first, and a folder that lands anywhere but a Trash's "files" folder is moved
// back before the failure is reported.

#include <QString>
#include <QStringList>

#include <optional>
#include <string>

namespace vantry {

// The Trash folders a folder may go to, in the order they are tried: on a mount other
// than the home folder's, "$top/.Trash/$uid" and "$top/.Trash-$uid"; then the home Trash
// "$XDG_DATA_HOME/Trash".
QStringList trashFoldersFor(const QString& folder);

// True when `trashed` lies directly in the "files" folder of one of `trashes`.
bool liesInTrash(const QString& trashed, const QStringList& trashes);

// Moves `folder` to the Trash; on failure returns the reason (translated) and the folder
// is where it was.
std::optional<std::string> moveFolderToTrash(const QString& folder);

// The safety net after a move: when `trashed` is not in one of `trashes`, moves it back to
// `folder` (with the information file Qt wrote beside it removed). True when the folder is
// in a Trash.
bool keepTrashedOrMoveBack(const QString& folder, const QString& trashed,
                           const QStringList& trashes);

}  // namespace vantry
