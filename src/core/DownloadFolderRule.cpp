#include "DownloadFolderRule.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

DownloadFolderRule::DownloadFolderRule(const Places& places)
    : m_places(places) {}

DownloadFolderRule DownloadFolderRule::fromSystem() {
    Places places;
    places.programFolder = QCoreApplication::applicationDirPath();
    places.downloadFolder = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    places.homeFolder = QDir::homePath();
    if (places.downloadFolder.isEmpty())
        places.downloadFolder = places.homeFolder;
    return DownloadFolderRule(places);
}

QString DownloadFolderRule::baseFolder() const {
    const QFileInfo program(m_places.programFolder);
    if (!m_places.programFolder.isEmpty() && program.isDir() && program.isWritable() &&
        QFileInfo(QDir(m_places.programFolder).filePath(PortableMarker)).isFile())
        return QDir::cleanPath(program.absoluteFilePath());
    return QDir::cleanPath(m_places.downloadFolder + QLatin1Char('/') + InstalledFolderName);
}

QString DownloadFolderRule::resolve(const QString& boxText) const {
    QString text = boxText.trimmed();
    if (text == QLatin1String("~"))
        return QDir::cleanPath(m_places.homeFolder);
    if (text.startsWith(QLatin1String("~/")))
        return QDir::cleanPath(m_places.homeFolder + text.mid(1));
    if (QDir::isAbsolutePath(text))
        return QDir::cleanPath(text);
    if (text.isEmpty())
        return baseFolder();
    return QDir::cleanPath(baseFolder() + QLatin1Char('/') + text);
}
