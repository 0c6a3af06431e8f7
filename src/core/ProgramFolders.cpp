#include "ProgramFolders.h"

#include "DownloadFolderRule.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace ProgramFolders {

QString folder(Kind kind) {
    return folder(kind, QCoreApplication::applicationDirPath());
}

QString folder(Kind kind, const QString& programFolder) {
    const QFileInfo program(programFolder);
    const bool portable =
        !programFolder.isEmpty() && program.isDir() && program.isWritable() &&
        QFileInfo(QDir(programFolder).filePath(DownloadFolderRule::PortableMarker)).isFile();
    if (portable) {
        const QString part = kind == Kind::Config ? QStringLiteral("config")
                             : kind == Kind::Data ? QStringLiteral("data")
                                                  : QStringLiteral("cache");
        return QDir::cleanPath(program.absoluteFilePath() + u'/' + PortableFolder + u'/' + part);
    }
    const auto place = kind == Kind::Config ? QStandardPaths::GenericConfigLocation
                       : kind == Kind::Data ? QStandardPaths::GenericDataLocation
                                            : QStandardPaths::GenericCacheLocation;
    return QStandardPaths::writableLocation(place) + u'/' + Name;
}

} // namespace ProgramFolders
