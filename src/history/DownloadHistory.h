#pragma once

#include "HistoryEntry.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <limits>
#include <optional>

class QSqlQuery;

// The download history: one SQLite database (history.sqlite3, see HistoryLocation) of the files
// saved, written by the window and by every `nepirika download` at once. The database is in WAL mode
// with a busy timeout, and each write is one short transaction, so that several processes record
// together and none loses a row; a process killed in the middle leaves the database as of its last
// transaction.
//
// A file that is not a database of ours (damaged, or another program's) is set aside under the name
// "history.sqlite3.damaged" ("history.sqlite3-2.damaged" when that is taken) and a new database is
// started; takeSetAside() names the file, for the caller's message. A broken history never stops a download.
//
// One object is one connection, to be used on one thread.
class DownloadHistory {
public:
    explicit DownloadHistory(const QString& file);
    ~DownloadHistory();
    DownloadHistory(const DownloadHistory&) = delete;
    DownloadHistory& operator=(const DownloadHistory&) = delete;

    QString file() const;
    // Opens the database, making it (and its folder) when missing. False when none can be had (the
    // folder cannot be written): error() says why.
    bool open();
    bool isOpen() const;
    QString error() const;
    // The name a damaged file was set aside under since the last call; empty when none was.
    QString takeSetAside();

    // Writes the entries in one transaction; their ids are set. False (error() set) when they could
    // not be written even into a new database.
    bool add(QList<HistoryEntry>* entries);

    // For each address of urls that the history has saved, its latest entry whose file still exists.
    QHash<QString, HistoryEntry> savedFor(const QStringList& urls);
    // The latest entry with these bytes whose file still exists and is not exceptPath, among those
    // saved before beforeMs.
    std::optional<HistoryEntry> savedWithContent(const QByteArray& sha256, const QString& exceptPath = {},
                                                 qint64 beforeMs = std::numeric_limits<qint64>::max());

    // The entries, newest first, that text matches (every one for an empty text); at most limit
    // of them (-1: all). more is set when others matched beyond limit.
    QList<HistoryEntry> list(const QString& text, qsizetype limit = -1, bool* more = nullptr);
    // Removes the entries that text matches (an empty text matches none); how many went, -1 on error.
    qsizetype forget(const QString& text);
    // Removes the entries with these ids; how many went, -1 on error.
    qsizetype forgetIds(const QList<qint64>& ids);
    // Removes every entry; false on error.
    bool clear();

    // The rule of list and forget: the text occurs in the address or the final address as the
    // result lists' filter finds it, or in the path (letter case aside).
    static bool matches(const HistoryEntry& entry, const QString& text);
    // The number by which an address is looked up (the first 8 bytes of its SHA-1).
    static qint64 urlKey(const QString& url);

private:
    bool checkFile(bool* damaged);
    bool openFile(bool* damaged);
    std::optional<HistoryEntry> firstExisting(QSqlQuery& q, const QByteArray& sha256,
                                              const QString& exceptPath, qint64 beforeMs);
    bool setAside();
    bool exec(const QString& sql);
    // After a failed statement: when the file turned out damaged, sets it aside and opens a new one.
    bool recoverFrom(const QString& failure);
    void close();

    QString m_file;
    QString m_connection;
    QString m_error;
    QString m_setAside;
    bool m_open = false;
};
