#pragma once

#include <QString>

class QMessageBox;

// A download's end notice names the folder it saved into: the folder as a link that opens it in the
// file manager, and a "フォルダを開く" button that does the same.
namespace FolderNotice {

void addFolder(QMessageBox* notice, const QString& folder);

inline const QString OpenCaption = QStringLiteral("フォルダを開く");

} // namespace FolderNotice
