#include "AppSettings.h"

#include "AddressInput.h"

#include "AddressPassword.h"
#include "ProgramFolders.h"
#include <QSettings>

#include <algorithm>

namespace {

const QString PagesFolderKey = QStringLiteral("folders/pages");
const QString FilesFolderKey = QStringLiteral("folders/files");
const QString PagesFilterKey = QStringLiteral("filters/pages");
const QString FilesFilterKey = QStringLiteral("filters/files");
const QString GeometryKey = QStringLiteral("window/geometry");
const QString LastFileFolderKey = QStringLiteral("dialogs/lastFolder");
const QString RecentKey = QStringLiteral("recent/inputs");
const QString RecentLeftOutKey = QStringLiteral("recent/linesLeftOut");
const QString NoScriptsKey = QStringLiteral("harvest/noScripts");
const QString ScrollKey = QStringLiteral("harvest/scrollToEnd");
const QString ParallelPagesKey = QStringLiteral("harvest/parallelPages");
const QString DownloadJobsKey = QStringLiteral("download/jobs");
const QString RecordHistoryKey = QStringLiteral("download/recordHistory");

} // namespace

AppSettings::AppSettings() = default;

AppSettings::AppSettings(const QString& path)
    : m_settings(std::make_unique<QSettings>(path, QSettings::IniFormat)) {}

AppSettings::~AppSettings() = default;

QString AppSettings::defaultFile() {
    return ProgramFolders::folder(ProgramFolders::Kind::Config) + QStringLiteral("/nepirika.ini");
}

QString AppSettings::fileName() const {
    return m_settings ? m_settings->fileName() : QString();
}

bool AppSettings::sync() {
    if (!m_settings)
        return true;
    m_settings->sync();
    return m_settings->status() == QSettings::NoError;
}

QVariant AppSettings::read(const QString& key, const QVariant& fallback) const {
    return m_settings ? m_settings->value(key, fallback) : m_memory.value(key, fallback);
}

void AppSettings::write(const QString& key, const QVariant& value) {
    if (m_settings)
        m_settings->setValue(key, value);
    else
        m_memory.insert(key, value);
}

QString AppSettings::pagesFolder() const {
    return read(PagesFolderKey, DefaultPagesFolder).toString();
}

void AppSettings::setPagesFolder(const QString& folder) {
    write(PagesFolderKey, folder);
}

QString AppSettings::filesFolder() const {
    return read(FilesFolderKey, DefaultFilesFolder).toString();
}

void AppSettings::setFilesFolder(const QString& folder) {
    write(FilesFolderKey, folder);
}

QString AppSettings::pagesFilter() const {
    return read(PagesFilterKey, DefaultPagesFilter).toString();
}

void AppSettings::setPagesFilter(const QString& text) {
    write(PagesFilterKey, text);
}

QString AppSettings::filesFilter() const {
    return read(FilesFilterKey, DefaultFilesFilter).toString();
}

void AppSettings::setFilesFilter(const QString& text) {
    write(FilesFilterKey, text);
}

namespace {

QString nameMaskKey(const QString& band, const char* what) {
    return QStringLiteral("names/%1/%2").arg(band, QLatin1String(what));
}

} // namespace

QString AppSettings::nameMask(const QString& band) const {
    return read(nameMaskKey(band, "mask")).toString();
}

void AppSettings::setNameMask(const QString& band, const QString& mask) {
    write(nameMaskKey(band, "mask"), mask);
}

QStringList AppSettings::recentNameMasks(const QString& band) const {
    QStringList masks = read(nameMaskKey(band, "recent")).toStringList();
    masks.removeAll(QString());
    return masks.mid(0, RecentMasksKept);
}

void AppSettings::addRecentNameMask(const QString& band, const QString& mask) {
    if (mask.trimmed().isEmpty())
        return;
    QStringList masks = recentNameMasks(band);
    masks.removeAll(mask);
    masks.prepend(mask);
    write(nameMaskKey(band, "recent"), masks.mid(0, RecentMasksKept));
}

QByteArray AppSettings::windowGeometry() const {
    return read(GeometryKey).toByteArray();
}

void AppSettings::setWindowGeometry(const QByteArray& geometry) {
    write(GeometryKey, geometry);
}

QList<AppSettings::RecentInput> AppSettings::recentEntries() const {
    const QStringList inputs = read(RecentKey).toStringList();
    const QVariantList leftOut = read(RecentLeftOutKey).toList();
    QList<RecentInput> entries;
    for (qsizetype i = 0; i < inputs.size() && entries.size() < RecentLimit; ++i) {
        if (inputs.at(i).isEmpty())
            continue;
        // A count that is missing (a file written before counts were kept) or damaged reads as 0.
        bool ok = false;
        const qsizetype count = i < leftOut.size() ? leftOut.at(i).toLongLong(&ok) : 0;
        entries.append({inputs.at(i), ok && count > 0 ? count : 0});
    }
    return entries;
}

void AppSettings::writeRecentEntries(const QList<RecentInput>& entries) {
    QStringList inputs;
    QVariantList leftOut;
    for (const RecentInput& entry : entries.mid(0, RecentLimit)) {
        inputs.append(entry.text);
        leftOut.append(entry.linesLeftOut);
    }
    write(RecentKey, inputs);
    write(RecentLeftOutKey, leftOut);
}

QStringList AppSettings::recentInputs() const {
    QStringList inputs;
    for (const RecentInput& entry : recentEntries())
        inputs.append(entry.text);
    return inputs;
}

QList<qsizetype> AppSettings::recentLinesLeftOut() const {
    QList<qsizetype> counts;
    for (const RecentInput& entry : recentEntries())
        counts.append(entry.linesLeftOut);
    return counts;
}

void AppSettings::addRecentInput(const QString& input) {
    if (input.trimmed().isEmpty())
        return;
    // A password typed into an address is never written down.
    RecentInput entry{AddressPassword::withoutPasswords(input), 0};
    const QStringList lines = AddressInput::lines(entry.text);
    if (lines.size() > RecentLinesKept) {
        entry.text = lines.mid(0, RecentLinesKept).join(QLatin1Char('\n'));
        entry.linesLeftOut = lines.size() - RecentLinesKept;
    }
    QList<RecentInput> entries = recentEntries();
    entries.removeIf([&entry](const RecentInput& kept) { return kept.text == entry.text; });
    entries.prepend(entry);
    writeRecentEntries(entries);
}

void AppSettings::clearRecentInputs() {
    if (m_settings) {
        m_settings->remove(RecentKey);
        m_settings->remove(RecentLeftOutKey);
    }
    m_memory.remove(RecentKey);
    m_memory.remove(RecentLeftOutKey);
}

QString AppSettings::lastFileFolder() const {
    return read(LastFileFolderKey).toString();
}

void AppSettings::setLastFileFolder(const QString& folder) {
    if (!folder.isEmpty())
        write(LastFileFolderKey, folder);
}

bool AppSettings::noScripts() const {
    // Only a clear yes turns scripts off; a damaged value keeps the default.
    const QString value = read(NoScriptsKey).toString().toLower();
    return value == QLatin1String("true") || value == QLatin1String("1");
}

void AppSettings::setNoScripts(bool on) {
    write(NoScriptsKey, on);
}

bool AppSettings::scrollToEnd() const {
    // As for scripts: only a clear yes.
    const QString value = read(ScrollKey).toString().toLower();
    return value == QLatin1String("true") || value == QLatin1String("1");
}

void AppSettings::setScrollToEnd(bool on) {
    write(ScrollKey, on);
}

int AppSettings::boundedInt(const QString& key, int most, int fallback) const {
    bool ok = false;
    const int value = read(key).toInt(&ok);
    if (!ok || value < 1)
        return fallback;
    // A count above what the work takes (a file from an older version, say) is that most.
    return std::min(value, most);
}

int AppSettings::parallelPages() const {
    return boundedInt(ParallelPagesKey, WorkLimits::MostPagesAtOnce, DefaultParallelPages);
}

void AppSettings::setParallelPages(int count) {
    write(ParallelPagesKey, std::clamp(count, 1, WorkLimits::MostPagesAtOnce));
}

int AppSettings::downloadJobs() const {
    return boundedInt(DownloadJobsKey, WorkLimits::MostTransfersAtOnce, DefaultDownloadJobs);
}

void AppSettings::setDownloadJobs(int count) {
    write(DownloadJobsKey, std::clamp(count, 1, WorkLimits::MostTransfersAtOnce));
}

namespace {

const QString PicturesKey = QStringLiteral("files/pictures");
const QString MinWidthKey = QStringLiteral("files/minWidth");
const QString MinHeightKey = QStringLiteral("files/minHeight");
const QString TypesKey = QStringLiteral("files/types");
const QString LargestKey = QStringLiteral("files/largestOnly");
const QString OrderKey = QStringLiteral("files/order");

bool isYes(const QVariant& value) {
    const QString text = value.toString().toLower();
    return text == QLatin1String("true") || text == QLatin1String("1");
}

} // namespace

bool AppSettings::filesAsPictures() const {
    return isYes(read(PicturesKey));
}

void AppSettings::setFilesAsPictures(bool on) {
    write(PicturesKey, on);
}

ImageNarrowing::Criteria AppSettings::filesNarrowing() const {
    ImageNarrowing::Criteria criteria;
    auto size = [this](const QString& key) {
        bool ok = false;
        const int value = read(key).toInt(&ok);
        return ok && value > 0 && value <= 100000 ? value : 0;
    };
    criteria.minWidth = size(MinWidthKey);
    criteria.minHeight = size(MinHeightKey);
    QStringList offered = ImageNarrowing::offeredTypes();
    offered.append(ImageNarrowing::otherTypes());
    for (const QString& type : read(TypesKey).toStringList()) {
        if (offered.contains(type) && !criteria.types.contains(type))
            criteria.types.append(type);
    }
    criteria.largestOnly = isYes(read(LargestKey));
    const QString order = read(OrderKey).toString();
    if (order == QLatin1String("area"))
        criteria.order = ImageNarrowing::Order::Area;
    else if (order == QLatin1String("bytes"))
        criteria.order = ImageNarrowing::Order::Bytes;
    return criteria;
}

void AppSettings::setFilesNarrowing(const ImageNarrowing::Criteria& criteria) {
    write(MinWidthKey, criteria.minWidth);
    write(MinHeightKey, criteria.minHeight);
    write(TypesKey, criteria.types);
    write(LargestKey, criteria.largestOnly);
    const char* order = criteria.order == ImageNarrowing::Order::Area    ? "area"
                        : criteria.order == ImageNarrowing::Order::Bytes ? "bytes"
                                                                         : "page";
    write(OrderKey, QString::fromLatin1(order));
}

namespace {

const QString FollowDepthKey = QStringLiteral("follow/depth");
const QString FollowSpanKey = QStringLiteral("follow/spanHosts");
const QString FollowMatchKey = QStringLiteral("follow/match");
const QString FollowIgnoreRobotsKey = QStringLiteral("follow/ignoreRobots");
const QString FollowDelayKey = QStringLiteral("follow/delaySeconds");

} // namespace

LinkFollowing::Settings AppSettings::following() const {
    LinkFollowing::Settings settings;
    settings.depth = boundedInt(FollowDepthKey, LinkFollowing::MostDepth, 0);
    settings.spanHosts = isYes(read(FollowSpanKey));
    // The box's text as typed: its words, separated by blanks, are the texts a link may contain.
    settings.match = read(FollowMatchKey).toString().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    settings.obeyRobots = !isYes(read(FollowIgnoreRobotsKey));
    bool ok = false;
    const double delay = read(FollowDelayKey).toDouble(&ok);
    settings.delaySeconds = ok && delay > 0 ? std::min(delay, LinkFollowing::MostDelaySeconds) : 0;
    return LinkFollowing(settings).settings();
}

void AppSettings::setFollowing(const LinkFollowing::Settings& settings) {
    write(FollowDepthKey, settings.depth);
    write(FollowSpanKey, settings.spanHosts);
    write(FollowMatchKey, settings.match.join(QLatin1Char(' ')));
    write(FollowIgnoreRobotsKey, !settings.obeyRobots);
    write(FollowDelayKey, settings.delaySeconds);
}

namespace {
const QString BandSizesKey = QStringLiteral("window/bands");
const QString FillKey = QStringLiteral("files/fillWindow");
} // namespace

QByteArray AppSettings::bandSizes() const {
    return read(BandSizesKey).toByteArray();
}

void AppSettings::setBandSizes(const QByteArray& state) {
    write(BandSizesKey, state);
}

bool AppSettings::filesFillWindow() const {
    return isYes(read(FillKey));
}

void AppSettings::setFilesFillWindow(bool on) {
    write(FillKey, on);
}

bool AppSettings::recordHistory() const {
    return read(RecordHistoryKey, true).toBool();
}

void AppSettings::setRecordHistory(bool on) {
    write(RecordHistoryKey, on);
}
