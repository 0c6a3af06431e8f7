#pragma once

#include <QByteArray>
#include <QString>

// Writes a whole file at once: the content appears under its name complete or not at all, and a file
// already there is replaced only when the new one is complete.
namespace TextFileSave {

// Empty on success, otherwise the message for the user: failure (where %1 is the path; by default
// "「%1」に保存できません"), then the reason. The file and its folder's entry reach the disk before it
// returns, so that the file is found whole after a power cut.
QString write(const QString& path, const QByteArray& content, const QString& failure = {});

// Flushes the folder that holds path to the disk, so that a file renamed or removed in it stays so
// after a power cut.
void syncFolderOf(const QString& path);

} // namespace TextFileSave
