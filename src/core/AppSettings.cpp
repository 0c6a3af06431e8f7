#include "AppSettings.h"

#include <QSettings>

#include <algorithm>

namespace {

const QString PagesFolderKey = QStringLiteral("folders/pages");
const QString FilesFolderKey = QStringLiteral("folders/files");
const QString PagesFilterKey = QStringLiteral("filters/pages");
const QString FilesFilterKey = QStringLiteral("filters/files");
const QString GeometryKey = QStringLiteral("window/geometry");
const QString RecentKey = QStringLiteral("recent/inputs");
const QString NoScriptsKey = QStringLiteral("harvest/noScripts");
const QString ParallelPagesKey = QStringLiteral("harvest/parallelPages");
const QString DownloadJobsKey = QStringLiteral("download/jobs");

} // namespace

AppSettings::AppSettings()
    : m_settings(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                             QStringLiteral("nepirika"), QStringLiteral("nepirika"))) {}

AppSettings::AppSettings(const QString& path)
    : m_settings(std::make_unique<QSettings>(path, QSettings::IniFormat)) {}

AppSettings::~AppSettings() = default;

QString AppSettings::fileName() const {
    return m_settings->fileName();
}

bool AppSettings::sync() {
    m_settings->sync();
    return m_settings->status() == QSettings::NoError;
}

QString AppSettings::pagesFolder() const {
    return m_settings->value(PagesFolderKey, DefaultPagesFolder).toString();
}

void AppSettings::setPagesFolder(const QString& folder) {
    m_settings->setValue(PagesFolderKey, folder);
}

QString AppSettings::filesFolder() const {
    return m_settings->value(FilesFolderKey, DefaultFilesFolder).toString();
}

void AppSettings::setFilesFolder(const QString& folder) {
    m_settings->setValue(FilesFolderKey, folder);
}

QString AppSettings::pagesFilter() const {
    return m_settings->value(PagesFilterKey, DefaultPagesFilter).toString();
}

void AppSettings::setPagesFilter(const QString& text) {
    m_settings->setValue(PagesFilterKey, text);
}

QString AppSettings::filesFilter() const {
    return m_settings->value(FilesFilterKey, DefaultFilesFilter).toString();
}

void AppSettings::setFilesFilter(const QString& text) {
    m_settings->setValue(FilesFilterKey, text);
}

QByteArray AppSettings::windowGeometry() const {
    return m_settings->value(GeometryKey).toByteArray();
}

void AppSettings::setWindowGeometry(const QByteArray& geometry) {
    m_settings->setValue(GeometryKey, geometry);
}

QStringList AppSettings::recentInputs() const {
    QStringList inputs = m_settings->value(RecentKey).toStringList();
    inputs.removeAll(QString());
    return inputs.mid(0, RecentLimit);
}

void AppSettings::addRecentInput(const QString& input) {
    if (input.trimmed().isEmpty())
        return;
    QStringList inputs = recentInputs();
    inputs.removeAll(input);
    inputs.prepend(input);
    m_settings->setValue(RecentKey, inputs.mid(0, RecentLimit));
}

void AppSettings::clearRecentInputs() {
    m_settings->remove(RecentKey);
}

bool AppSettings::noScripts() const {
    // Only a clear yes turns scripts off; a damaged value keeps the default.
    const QString value = m_settings->value(NoScriptsKey).toString().toLower();
    return value == QLatin1String("true") || value == QLatin1String("1");
}

void AppSettings::setNoScripts(bool on) {
    m_settings->setValue(NoScriptsKey, on);
}

int AppSettings::boundedInt(const QString& key, int fallback) const {
    bool ok = false;
    const int value = m_settings->value(key).toInt(&ok);
    return ok && value >= 1 && value <= MostParallel ? value : fallback;
}

int AppSettings::parallelPages() const {
    return boundedInt(ParallelPagesKey, DefaultParallelPages);
}

void AppSettings::setParallelPages(int count) {
    m_settings->setValue(ParallelPagesKey, std::clamp(count, 1, MostParallel));
}

int AppSettings::downloadJobs() const {
    return boundedInt(DownloadJobsKey, DefaultDownloadJobs);
}

void AppSettings::setDownloadJobs(int count) {
    m_settings->setValue(DownloadJobsKey, std::clamp(count, 1, MostParallel));
}
