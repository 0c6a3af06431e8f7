#include "HistoryLocation.h"

#include "DownloadFolderRule.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace HistoryLocation {

QString fileFor(const QString& programFolder, const QString& dataFolder) {
    const QFileInfo program(programFolder);
    if (!programFolder.isEmpty() && program.isDir() && program.isWritable() &&
        QFileInfo(QDir(programFolder).filePath(DownloadFolderRule::PortableMarker)).isFile())
        return QDir(program.absoluteFilePath()).filePath(FileName);
    return QDir::cleanPath(dataFolder + QStringLiteral("/nepirika/") + FileName);
}

QString defaultFile() {
    return fileFor(QCoreApplication::applicationDirPath(),
                   QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
}

} // namespace HistoryLocation
