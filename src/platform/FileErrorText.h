#pragma once

#include <QString>

// The one place where a failed file operation's error number turns into a text for the user.
namespace FileErrorText {

// "what" followed by the reason for errorNumber, e.g. "ファイルに書き込めません: ディスクの空きがありません".
QString describe(const QString& what, int errorNumber);

// The reason alone.
QString reason(int errorNumber);

} // namespace FileErrorText
