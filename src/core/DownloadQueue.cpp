#include "DownloadQueue.h"

#include "FileErrorText.h"
#include "LocalFileName.h"
#include "ProgramFolders.h"
#include "TextFileSave.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString FormatName = QStringLiteral("nepirika-download-queue");
constexpr int FormatVersion = 1;
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

DownloadQueue::Lock::Lock(const QString& path)
    : m_path(QFile::encodeName(path + QStringLiteral(".lock"))) {
    // A file of its own beside the record, which is replaced by renames while the batch runs. It is
    // removed when the lock is let go, so a lock taken on a file that its holder removed meanwhile
    // is no lock: the file is opened again until the one locked is the one at the path.
    QDir().mkpath(QFileInfo(path).absolutePath());
    for (int attempt = 0; attempt < 8; ++attempt) {
        m_fd = ::open(m_path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (m_fd < 0)
            return;
        if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(m_fd);
            m_fd = -1;
            return;
        }
        struct stat held {};
        struct stat named {};
        if (::fstat(m_fd, &held) == 0 && ::stat(m_path.constData(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino)
            return;
        ::close(m_fd);
        m_fd = -1;
    }
}

DownloadQueue::Lock::~Lock() {
    if (m_fd < 0)
        return;
    // Removed while still held, so that no one takes the lock of a file that is about to go.
    ::unlink(m_path.constData());
    ::close(m_fd);
}

bool DownloadQueue::Lock::held() const {
    return m_fd >= 0;
}

QString DownloadQueue::queuesFolder() {
    return ProgramFolders::folder(ProgramFolders::Kind::Data) + QStringLiteral("/queues");
}

QString DownloadQueue::fileFor(const QString& folder) {
    // The same folder however it was written: absolute and cleaned, symbolic links resolved where
    // it exists.
    const QFileInfo info(folder);
    QString key = info.canonicalFilePath();
    if (key.isEmpty())
        key = QDir::cleanPath(info.absoluteFilePath());
    const QByteArray hash = QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1).toHex();
    return queuesFolder() + u'/' + QString::fromLatin1(hash.left(20)) + QStringLiteral(".json");
}

QStringList DownloadQueue::keptFiles() {
    const QDir dir(queuesFolder());
    QStringList files;
    const QFileInfoList found =
        dir.entryInfoList({QStringLiteral("*.json")}, QDir::Files, QDir::Time | QDir::Reversed);
    for (const QFileInfo& info : found)
        files.append(info.absoluteFilePath());
    return files;
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
        items.append(item);
    }
    const QJsonObject root{{QStringLiteral("format"), FormatName},
                           {QStringLiteral("version"), FormatVersion},
                           {QStringLiteral("folder"), folder},
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
    if (version != FormatVersion) {
        *error = QStringLiteral("この版では読めない形式です (版 %1)").arg(version);
        return false;
    }
    DownloadQueue read;
    read.folder = root.value(QStringLiteral("folder")).toString();
    if (read.folder.isEmpty() || !QDir::isAbsolutePath(read.folder)) {
        *error = QStringLiteral("保存先のフォルダが記録されていません");
        return false;
    }
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
        const bool named = entry.name.isEmpty() || LocalFileNames::isPlainName(entry.name);
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
}

void DownloadQueue::settleClaims() {
    const QDir dir(folder);
    for (Entry& entry : entries) {
        if (entry.state != Entry::State::Claimed)
            continue;
        // An entry of that name (a symbolic link included) is the published file.
        const QFileInfo published(dir.filePath(entry.name));
        if (published.exists() || published.isSymLink()) {
            entry.state = Entry::State::Saved;
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
