#include "DownloadQueue.h"

#include "FileErrorText.h"
#include "LocalFileName.h"
#include "ProgramFolders.h"
#include "RecordedFolder.h"
#include "TextFileSave.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QStandardPaths>

#include <algorithm>

#include <cerrno>

namespace {

const QString FormatName = QStringLiteral("nepirika-download-queue");
// Version 1 was one record a folder, without a batch name, sizes or validators: read all the same.
constexpr int FormatVersion = 2;
constexpr int OldestFormatVersion = 1;
// A queue file larger than this is no queue of ours (a million addresses of 64 KiB fit).
constexpr qint64 MostQueueBytes = qint64(256) * 1024 * 1024;

QString stateName(DownloadQueue::Entry::State state) {
    switch (state) {
    case DownloadQueue::Entry::State::Claimed:
        return QStringLiteral("claimed");
    case DownloadQueue::Entry::State::Saved:
        return QStringLiteral("saved");
    case DownloadQueue::Entry::State::Waiting:
        break;
    }
    return QStringLiteral("waiting");
}

bool stateFromName(const QString& name, DownloadQueue::Entry::State* state) {
    if (name == u"waiting")
        *state = DownloadQueue::Entry::State::Waiting;
    else if (name == u"claimed")
        *state = DownloadQueue::Entry::State::Claimed;
    else if (name == u"saved")
        *state = DownloadQueue::Entry::State::Saved;
    else
        return false;
    return true;
}

} // namespace

namespace {

// The lock of the record at path: a file of its own beside the record (which is replaced by renames
// while the batch runs), in a folder made when missing.
QString lockFileOf(const QString& path) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    return path + QStringLiteral(".lock");
}

} // namespace

DownloadQueue::Lock::Lock(const QString& path)
    : m_file(lockFileOf(path)) {}

bool DownloadQueue::Lock::held() const {
    return m_file.held();
}

QString DownloadQueue::queuesFolder() {
    return ProgramFolders::folder(ProgramFolders::Kind::Data) + QStringLiteral("/queues");
}

namespace {

// The same folder however it was written: absolute and cleaned, symbolic links resolved where it
// exists.
QString folderKey(const QString& folder) {
    const QFileInfo info(folder);
    QString key = info.canonicalFilePath();
    if (key.isEmpty())
        key = QDir::cleanPath(info.absoluteFilePath());
    const QByteArray hash = QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1).toHex();
    return QString::fromLatin1(hash.left(20));
}

bool isBatchName(const QString& name) {
    if (name.isEmpty() || name.size() > 32)
        return false;
    return std::all_of(name.cbegin(), name.cend(),
                       [](QChar c) { return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z'); });
}

QStringList filesMatching(const QString& pattern) {
    const QDir dir(DownloadQueue::queuesFolder());
    QStringList files;
    const QFileInfoList found = dir.entryInfoList({pattern}, QDir::Files, QDir::Time | QDir::Reversed);
    for (const QFileInfo& info : found)
        files.append(info.absoluteFilePath());
    return files;
}

} // namespace

DownloadQueue DownloadQueue::begin(const QString& folder) {
    DownloadQueue queue;
    queue.folder = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    queue.batch = QString::number(QDateTime::currentMSecsSinceEpoch(), 36) +
                  QString::number(QRandomGenerator::system()->generate64() % 0xFFFFFFFFFFull, 36);
    queue.created = QDateTime::currentDateTimeUtc();
    return queue;
}

QString DownloadQueue::fileFor(const QString& folder, const QString& batch) {
    return queuesFolder() + u'/' + folderKey(folder) + u'-' + batch + QStringLiteral(".json");
}

QStringList DownloadQueue::keptFiles() {
    return filesMatching(QStringLiteral("*.json"));
}

QStringList DownloadQueue::keptFilesFor(const QString& folder) {
    // Records of version 1 have no batch name.
    return filesMatching(folderKey(folder) + QStringLiteral("*.json"));
}

QString DownloadQueue::partialName(int position) const {
    return QStringLiteral(".nepirika-%1-%2.part")
        .arg(batch.isEmpty() ? QStringLiteral("0") : batch)
        .arg(position);
}

void DownloadQueue::removePartials() const {
    const QDir dir(folder);
    const QStringList found = dir.entryList(
        {QStringLiteral(".nepirika-%1-*.part").arg(batch.isEmpty() ? QStringLiteral("0") : batch)},
        QDir::Files | QDir::Hidden);
    for (const QString& name : found)
        QFile::remove(dir.filePath(name));
}

QByteArray DownloadQueue::toJson() const {
    QJsonArray items;
    for (const Entry& entry : entries) {
        QJsonObject item{{QStringLiteral("url"), entry.url}};
        if (!entry.referer.isEmpty())
            item.insert(QStringLiteral("referer"), entry.referer);
        if (!entry.charset.isEmpty())
            item.insert(QStringLiteral("charset"), entry.charset);
        item.insert(QStringLiteral("state"), stateName(entry.state));
        if (!entry.name.isEmpty())
            item.insert(QStringLiteral("name"), entry.name);
        if (entry.size >= 0)
            item.insert(QStringLiteral("size"), entry.size);
        if (!entry.validator.isEmpty())
            item.insert(QStringLiteral("validator"), QString::fromLatin1(entry.validator));
        items.append(item);
    }
    const QJsonObject root{{QStringLiteral("format"), FormatName},
                           {QStringLiteral("version"), FormatVersion},
                           {QStringLiteral("folder"), folder},
                           {QStringLiteral("batch"), batch},
                           {QStringLiteral("created"), created.toUTC().toString(Qt::ISODate)},
                           {QStringLiteral("items"), items}};
    return QJsonDocument(root).toJson(QJsonDocument::Compact) + '\n';
}

bool DownloadQueue::fromJson(const QByteArray& data, DownloadQueue* queue, QString* error) {
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(data, &parseError);
    const QJsonObject root = document.object();
    if (parseError.error != QJsonParseError::NoError || !document.isObject() ||
        root.value(QStringLiteral("format")).toString() != FormatName) {
        *error = QStringLiteral("ネピリカのダウンロードの記録ではありません");
        return false;
    }
    const int version = root.value(QStringLiteral("version")).toInt(-1);
    if (version < OldestFormatVersion || version > FormatVersion) {
        *error = QStringLiteral("この版では読めない形式です (版 %1)").arg(version);
        return false;
    }
    DownloadQueue read;
    read.folder = root.value(QStringLiteral("folder")).toString();
    if (!RecordedFolder::isUsable(read.folder)) {
        *error = QStringLiteral("保存先のフォルダが記録されていません");
        return false;
    }
    read.batch = root.value(QStringLiteral("batch")).toString();
    if (!read.batch.isEmpty() && !isBatchName(read.batch)) {
        *error = QStringLiteral("ダウンロードの名前が壊れています");
        return false;
    }
    read.created = QDateTime::fromString(root.value(QStringLiteral("created")).toString(), Qt::ISODate);
    const QJsonValue items = root.value(QStringLiteral("items"));
    if (!items.isArray()) {
        *error = QStringLiteral("アドレスの一覧がありません");
        return false;
    }
    const QJsonArray array = items.toArray();
    for (qsizetype i = 0; i < array.size(); ++i) {
        const QJsonObject item = array.at(i).toObject();
        Entry entry;
        entry.url = item.value(QStringLiteral("url")).toString();
        entry.referer = item.value(QStringLiteral("referer")).toString();
        entry.charset = item.value(QStringLiteral("charset")).toString();
        entry.name = item.value(QStringLiteral("name")).toString();
        entry.size = static_cast<qint64>(item.value(QStringLiteral("size")).toDouble(-1));
        entry.validator = item.value(QStringLiteral("validator")).toString().toLatin1();
        const bool named = entry.name.isEmpty() || LocalFileNames::isRelativePath(entry.name);
        if (entry.url.isEmpty() ||
            !stateFromName(item.value(QStringLiteral("state")).toString(), &entry.state) || !named ||
            (entry.state != Entry::State::Waiting && entry.name.isEmpty())) {
            *error = QStringLiteral("%1 件目が壊れています").arg(i + 1);
            return false;
        }
        read.entries.append(entry);
    }
    *queue = read;
    return true;
}

DownloadQueue::ReadStatus DownloadQueue::read(const QString& path, DownloadQueue* queue, QString* error) {
    const auto damaged = [&](const QString& reason) {
        *error = QStringLiteral("前回のダウンロードの記録「%1」を読めません: %2")
                     .arg(QDir::toNativeSeparators(path), reason);
        return ReadStatus::Damaged;
    };
    QFile file(path);
    if (!file.exists())
        return ReadStatus::Missing;
    errno = 0;
    if (!file.open(QIODevice::ReadOnly))
        return damaged(FileErrorText::reason(errno ? errno : EIO));
    if (file.size() > MostQueueBytes)
        return damaged(QStringLiteral("大きすぎます"));
    QString reason;
    if (!fromJson(file.readAll(), queue, &reason))
        return damaged(reason);
    return ReadStatus::Read;
}

bool DownloadQueue::write(const QString& path, QString* error) const {
    return writeData(path, toJson(), error);
}

bool DownloadQueue::writeData(const QString& path, const QByteArray& data, QString* error) {
    const QString failure = QStringLiteral("ダウンロードの記録「%1」を保存できません");
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        *error = FileErrorText::describe(failure.arg(QDir::toNativeSeparators(path)), EACCES);
        return false;
    }
    *error = TextFileSave::write(path, data, failure);
    return error->isEmpty();
}

void DownloadQueue::remove(const QString& path) {
    if (QFile::remove(path))
        TextFileSave::syncFolderOf(path);
    // Its lock file goes with it: each batch has its own, and a process that takes a lock on a new
    // file of that name meanwhile finds no record to run.
    QFile::remove(path + QStringLiteral(".lock"));
}

void DownloadQueue::settleClaims() {
    const QDir dir(folder);
    for (Entry& entry : entries) {
        if (entry.state == Entry::State::Saved) {
            // A saved file that is gone, or that has another size (cut short by a crash of the
            // disk's cache, or replaced), is fetched again under a new name.
            const QFileInfo saved(dir.filePath(entry.name));
            if (!saved.isSymLink() && (!saved.exists() || (entry.size >= 0 && saved.size() != entry.size))) {
                entry.state = Entry::State::Waiting;
                entry.name.clear();
                entry.size = -1;
            }
            continue;
        }
        if (entry.state != Entry::State::Claimed)
            continue;
        // An entry of that name (a symbolic link included) is the published file, when it has the
        // length the record expects.
        const QFileInfo published(dir.filePath(entry.name));
        const bool there = published.exists() || published.isSymLink();
        if (there && (entry.size < 0 || published.isSymLink() || published.size() == entry.size)) {
            entry.state = Entry::State::Saved;
            entry.size = published.isSymLink() ? entry.size : published.size();
        } else {
            entry.state = Entry::State::Waiting;
            entry.name.clear();
        }
    }
}

QList<int> DownloadQueue::unfinished() const {
    QList<int> left;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (entries[i].state != Entry::State::Saved)
            left.append(static_cast<int>(i));
    }
    return left;
}

int DownloadQueue::savedCount() const {
    return static_cast<int>(entries.size() - unfinished().size());
}
