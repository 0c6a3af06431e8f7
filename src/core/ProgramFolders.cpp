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
        // NEPIRIKA_FILES names another folder for them (a copy on a stick shared by several
        // machines, or several test programs beside one another).
        const QString chosen = qEnvironmentVariable("NEPIRIKA_FILES");
        const QString base =
            QDir::isAbsolutePath(chosen) ? chosen : program.absoluteFilePath() + u'/' + PortableFolder;
        return QDir::cleanPath(base + u'/' + part);
    }
    const auto place = kind == Kind::Config ? QStandardPaths::GenericConfigLocation
                       : kind == Kind::Data ? QStandardPaths::GenericDataLocation
                                            : QStandardPaths::GenericCacheLocation;
    return QStandardPaths::writableLocation(place) + u'/' + Name;
}

} // namespace ProgramFolders
