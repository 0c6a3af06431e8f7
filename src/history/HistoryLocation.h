#pragma once

#include <QString>

// Where the download history is kept: history.sqlite3 beside the program in a portable copy (one
// with the file "nepirika.portable" beside it, in a folder the user can write to), otherwise in the
// user's data folder (~/.local/share/nepirika/).
namespace HistoryLocation {

inline const QString FileName = QStringLiteral("history.sqlite3");

// The history file of this program and user.
QString defaultFile();
// The history file for a program in programFolder and a user whose data folder is dataFolder.
QString fileFor(const QString& programFolder, const QString& dataFolder);

} // namespace HistoryLocation
