#include "DownloadHistory.h"

#include "ResultFilter.h"

#include <QAtomicInteger>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <cstring>

namespace {

// "NEPI": marks a database as ours (PRAGMA application_id).
constexpr qint64 ApplicationId = 0x4E455049;
// How long a write waits for another process's transaction.
constexpr int BusyTimeoutMs = 15000;
// Addresses looked up per statement.
constexpr qsizetype LookupChunk = 2000;

QAtomicInteger<quint64> connectionCounter;

qint64 firstBytes(const QByteArray& hash) {
    if (hash.size() < 8)
        return 0;
    qint64 key = 0;
    std::memcpy(&key, hash.constData(), sizeof key);
    return key;
}

// SQLite's primary result codes for a file that is no database or a damaged one.
bool isDamage(const QSqlError& error) {
    const QString code = error.nativeErrorCode();
    return code == u"11" || code == u"26" || error.databaseText().contains(u"malformed") ||
           error.databaseText().contains(u"not a database");
}

HistoryEntry entryFrom(const QSqlQuery& q) {
    HistoryEntry e;
    e.id = q.value(0).toLongLong();
    e.timeMs = q.value(1).toLongLong();
    e.url = q.value(2).toString();
    e.finalUrl = q.value(3).toString();
    if (e.finalUrl.isEmpty())
        e.finalUrl = e.url; // kept empty when it is the address itself
    e.page = q.value(4).toString();
    e.path = q.value(5).toString();
    e.bytes = q.value(6).toLongLong();
    e.sha256 = q.value(7).toByteArray();
    return e;
}

const QString Columns = QStringLiteral("id, time, url, final_url, page, path, bytes, sha256");

} // namespace

DownloadHistory::DownloadHistory(const QString& file)
    : m_file(file)
    , m_connection(QStringLiteral("nepirika-history-%1").arg(connectionCounter.fetchAndAddRelaxed(1))) {}

DownloadHistory::~DownloadHistory() {
    close();
}

QString DownloadHistory::file() const {
    return m_file;
}

bool DownloadHistory::isOpen() const {
    return m_open;
}

QString DownloadHistory::error() const {
    return m_error;
}

QString DownloadHistory::takeSetAside() {
    return std::exchange(m_setAside, {});
}

qint64 DownloadHistory::urlKey(const QString& url) {
    return firstBytes(QCryptographicHash::hash(url.toUtf8(), QCryptographicHash::Sha1));
}

void DownloadHistory::close() {
    if (QSqlDatabase::contains(m_connection)) {
        QSqlDatabase::database(m_connection, false).close();
        QSqlDatabase::removeDatabase(m_connection);
    }
    m_open = false;
}

bool DownloadHistory::exec(const QString& sql) {
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (q.exec(sql))
        return true;
    m_error = q.lastError().text();
    return false;
}

bool DownloadHistory::open() {
    if (m_open)
        return true;
    const QString folder = QFileInfo(m_file).absolutePath();
    if (!QDir().mkpath(folder)) {
        m_error = QStringLiteral("cannot make the folder %1").arg(folder);
        return false;
    }
    bool damaged = false;
    if (openFile(&damaged))
        return true;
    if (!damaged)
        return false;
    // Set aside, then a new one; once only.
    if (!setAside())
        return false;
    return openFile(&damaged);
}

bool DownloadHistory::checkFile(bool* damaged) {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    db.setDatabaseName(m_file);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(BusyTimeoutMs));
    if (!db.open()) {
        m_error = db.lastError().text();
        return false;
    }
    QSqlQuery q(db);
    const auto failed = [&] {
        *damaged = isDamage(q.lastError());
        m_error = q.lastError().text();
        return false;
    };
    // Reads the header: a file that is no SQLite database fails here.
    if (!q.exec(QStringLiteral("PRAGMA application_id")) || !q.next())
        return failed();
    const qint64 id = q.value(0).toLongLong();
    q.finish();
    if (id != ApplicationId) {
        // An empty database is made ours; one with tables of its own belongs to someone else.
        if (!q.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")) || !q.next())
            return failed();
        const qint64 objects = q.value(0).toLongLong();
        q.finish();
        if (objects > 0) {
            m_error = QStringLiteral("%1 is not a download history").arg(m_file);
            *damaged = true;
            return false;
        }
    }
    if (!q.exec(QStringLiteral("PRAGMA journal_mode=WAL")) ||
        !q.exec(QStringLiteral("PRAGMA synchronous=NORMAL")))
        return failed();
    // Look-ups touch pages all over the address index: read them mapped, without a call each, and
    // keep more of them (a history of a million entries has an index of about 20 MB).
    q.exec(QStringLiteral("PRAGMA mmap_size=268435456"));
    q.exec(QStringLiteral("PRAGMA cache_size=-16384"));
    return true;
}

bool DownloadHistory::openFile(bool* damaged) {
    *damaged = false;
    if (!checkFile(damaged)) {
        close();
        return false;
    }
    m_open = true;
    // Made by whichever process comes first; the others find it made.
    const bool made =
        exec(QStringLiteral("BEGIN IMMEDIATE")) &&
        exec(QStringLiteral("CREATE TABLE IF NOT EXISTS saved ("
                            "id INTEGER PRIMARY KEY, time INTEGER NOT NULL, url TEXT NOT NULL, "
                            "final_url TEXT NOT NULL, page TEXT NOT NULL, path TEXT NOT NULL, "
                            "bytes INTEGER NOT NULL, sha256 BLOB, url_key INTEGER NOT NULL, "
                            "content_key INTEGER)")) &&
        exec(QStringLiteral("CREATE INDEX IF NOT EXISTS saved_url ON saved(url_key)")) &&
        exec(QStringLiteral("CREATE INDEX IF NOT EXISTS saved_content ON saved(content_key)")) &&
        exec(QStringLiteral("PRAGMA application_id=%1").arg(ApplicationId)) && exec(QStringLiteral("COMMIT"));
    if (!made) {
        exec(QStringLiteral("ROLLBACK"));
        const QString error = m_error;
        close();
        m_error = error;
        *damaged = error.contains(u"malformed") || error.contains(u"not a database");
        return false;
    }
    return true;
}

bool DownloadHistory::setAside() {
    close();
    QString target = m_file + QStringLiteral(".damaged");
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = m_file + QStringLiteral("-%1.damaged").arg(n);
    if (!QFile::rename(m_file, target)) {
        m_error = QStringLiteral("cannot set aside the damaged history %1").arg(m_file);
        return false;
    }
    // Its journal belongs to it: a new database must not read it.
    QFile::rename(m_file + QStringLiteral("-wal"), target + QStringLiteral("-wal"));
    QFile::remove(m_file + QStringLiteral("-shm"));
    m_setAside = target;
    return true;
}

bool DownloadHistory::recoverFrom(const QString& failure) {
    m_error = failure;
    if (!failure.contains(u"malformed") && !failure.contains(u"not a database"))
        return false;
    if (!setAside())
        return false;
    bool damaged = false;
    return openFile(&damaged);
}

bool DownloadHistory::add(QList<HistoryEntry>* entries) {
    if (entries->isEmpty())
        return true;
    if (!open())
        return false;
    for (int attempt = 0; attempt < 2; ++attempt) {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        bool ok = exec(QStringLiteral("BEGIN IMMEDIATE"));
        if (ok) {
            QSqlQuery q(db);
            q.prepare(QStringLiteral("INSERT INTO saved (time, url, final_url, page, path, bytes, sha256, "
                                     "url_key, content_key) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"));
            for (HistoryEntry& e : *entries) {
                q.bindValue(0, e.timeMs);
                q.bindValue(1, e.url);
                q.bindValue(2, e.finalUrl == e.url ? QStringLiteral("") : e.finalUrl);
                q.bindValue(3, e.page.isNull() ? QStringLiteral("") : e.page);
                q.bindValue(4, e.path);
                q.bindValue(5, e.bytes);
                q.bindValue(6, e.sha256.isEmpty() ? QVariant() : QVariant(e.sha256));
                q.bindValue(7, urlKey(e.url));
                q.bindValue(8, e.sha256.isEmpty() ? QVariant() : QVariant(firstBytes(e.sha256)));
                if (!q.exec()) {
                    m_error = q.lastError().text();
                    ok = false;
                    break;
                }
                e.id = q.lastInsertId().toLongLong();
            }
            ok = ok && exec(QStringLiteral("COMMIT"));
        }
        if (ok)
            return true;
        const QString failure = m_error;
        db = QSqlDatabase();
        exec(QStringLiteral("ROLLBACK"));
        if (attempt > 0 || !recoverFrom(failure))
            return false;
    }
    return false;
}

QHash<QString, HistoryEntry> DownloadHistory::savedFor(const QStringList& urls) {
    QHash<QString, HistoryEntry> found;
    if (urls.isEmpty() || !open())
        return found;
    // Every entry of each address, the latest first per address.
    QHash<QString, QList<HistoryEntry>> candidates;
    const QSet<QString> wanted(urls.cbegin(), urls.cend());
    QString failure;
    for (qsizetype start = 0; start < urls.size() && failure.isEmpty(); start += LookupChunk) {
        const qsizetype n = std::min(LookupChunk, urls.size() - start);
        // Only what marking needs: the id, the time, the address and the path.
        // The keys are numbers of our own, written into the statement: binding thousands of
        // values one by one costs more than the look-up itself.
        QByteArray sql("SELECT id, time, url, path FROM saved WHERE url_key IN (");
        sql.reserve(sql.size() + n * 21);
        for (qsizetype i = 0; i < n; ++i) {
            if (i)
                sql += ',';
            sql += QByteArray::number(urlKey(urls.at(start + i)));
        }
        sql += ')';
        QSqlQuery q(QSqlDatabase::database(m_connection, false));
        q.setForwardOnly(true);
        if (!q.exec(QString::fromLatin1(sql))) {
            failure = q.lastError().text();
            break;
        }
        while (q.next()) {
            const QString url = q.value(2).toString();
            if (!wanted.contains(url))
                continue;
            HistoryEntry e;
            e.id = q.value(0).toLongLong();
            e.timeMs = q.value(1).toLongLong();
            e.url = url;
            e.path = q.value(3).toString();
            candidates[url].append(std::move(e));
        }
    }
    if (!failure.isEmpty()) {
        // A damaged database is set aside; the new one knows nothing.
        recoverFrom(failure);
        return found;
    }
    for (auto it = candidates.begin(); it != candidates.end(); ++it) {
        QList<HistoryEntry>& list = it.value();
        std::sort(list.begin(), list.end(),
                  [](const HistoryEntry& a, const HistoryEntry& b) { return a.id > b.id; });
        for (const HistoryEntry& e : std::as_const(list)) {
            if (QFileInfo(e.path).isFile()) {
                found.insert(it.key(), e);
                break;
            }
        }
    }
    return found;
}

std::optional<HistoryEntry> DownloadHistory::savedWithContent(const QByteArray& sha256,
                                                              const QString& exceptPath, qint64 beforeMs) {
    if (sha256.size() < 8 || !open())
        return std::nullopt;
    QString failure;
    {
        QSqlQuery q(QSqlDatabase::database(m_connection, false));
        q.setForwardOnly(true);
        q.prepare(QStringLiteral("SELECT %1 FROM saved WHERE content_key = ? ORDER BY id DESC").arg(Columns));
        q.bindValue(0, firstBytes(sha256));
        if (q.exec())
            return firstExisting(q, sha256, exceptPath, beforeMs);
        failure = q.lastError().text();
    }
    recoverFrom(failure);
    return std::nullopt;
}

std::optional<HistoryEntry> DownloadHistory::firstExisting(QSqlQuery& q, const QByteArray& sha256,
                                                           const QString& exceptPath, qint64 beforeMs) {
    while (q.next()) {
        HistoryEntry e = entryFrom(q);
        if (e.sha256 != sha256 || e.path == exceptPath || e.timeMs >= beforeMs)
            continue;
        // The file still has these bytes only as far as its size tells: a file changed since is
        // hashed again by the caller when it matters.
        const QFileInfo info(e.path);
        if (info.isFile() && info.size() == e.bytes)
            return e;
    }
    return std::nullopt;
}

bool DownloadHistory::matches(const HistoryEntry& entry, const QString& text) {
    if (text.isEmpty())
        return true;
    return ResultFilter::matches(entry.url, text) ||
           (entry.finalUrl != entry.url && ResultFilter::matches(entry.finalUrl, text)) ||
           entry.path.contains(text, Qt::CaseInsensitive);
}

QList<HistoryEntry> DownloadHistory::list(const QString& text, qsizetype limit, bool* more) {
    QList<HistoryEntry> entries;
    if (more)
        *more = false;
    if (!open())
        return entries;
    QString failure;
    {
        QSqlQuery q(QSqlDatabase::database(m_connection, false));
        q.setForwardOnly(true);
        if (!q.exec(QStringLiteral("SELECT %1 FROM saved ORDER BY id DESC").arg(Columns)))
            failure = q.lastError().text();
        while (failure.isEmpty() && q.next()) {
            HistoryEntry e = entryFrom(q);
            if (!matches(e, text))
                continue;
            if (limit >= 0 && entries.size() >= limit) {
                if (more)
                    *more = true;
                break;
            }
            entries.append(std::move(e));
        }
    }
    if (!failure.isEmpty())
        recoverFrom(failure);
    return entries;
}

qsizetype DownloadHistory::forget(const QString& text) {
    if (text.isEmpty())
        return 0;
    QList<qint64> ids;
    for (const HistoryEntry& e : list(text))
        ids.append(e.id);
    return forgetIds(ids);
}

qsizetype DownloadHistory::forgetIds(const QList<qint64>& ids) {
    if (ids.isEmpty())
        return 0;
    if (!open())
        return -1;
    if (!exec(QStringLiteral("BEGIN IMMEDIATE")))
        return -1;
    qsizetype removed = 0;
    bool ok = true;
    {
        QSqlQuery q(QSqlDatabase::database(m_connection, false));
        q.prepare(QStringLiteral("DELETE FROM saved WHERE id = ?"));
        for (const qint64 id : ids) {
            q.bindValue(0, id);
            if (!q.exec()) {
                m_error = q.lastError().text();
                ok = false;
                break;
            }
            removed += q.numRowsAffected();
        }
    }
    if (!ok || !exec(QStringLiteral("COMMIT"))) {
        exec(QStringLiteral("ROLLBACK"));
        return -1;
    }
    return removed;
}

bool DownloadHistory::clear() {
    if (!open())
        return false;
    if (exec(QStringLiteral("DELETE FROM saved")))
        return true;
    return recoverFrom(m_error);
}
