#pragma once

#include <QByteArray>
#include <QString>

// Writes a whole file at once: the content appears under its name complete or not at all, and a file
// already there is replaced only when the new one is complete.
namespace TextFileSave {

// Empty on success, otherwise the message for the user ("「path」に保存できません: reason").
QString write(const QString& path, const QByteArray& content);

} // namespace TextFileSave
