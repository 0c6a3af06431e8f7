#pragma once

#include "HistoryEntry.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <limits>

class QThread;
class HistoryWorker;

// The download history (DownloadHistory) on a thread of its own, so that neither the window nor a
// download waits for the disk: each saved file is hashed there and recorded in batched transactions
// (at most every WriteIntervalMs, or once WriteBatch files are waiting). Everything is reported back
// on the recorder's thread, in the order asked for.
class HistoryRecorder : public QObject {
    Q_OBJECT
public:
    static constexpr int WriteIntervalMs = 200;
    static constexpr int WriteBatch = 256;

    explicit HistoryRecorder(const QString& file, QObject* parent = nullptr);
    // Writes what is waiting, then stops the thread.
    ~HistoryRecorder() override;

    QString file() const;

    // A file a download has saved (entry without its SHA-256): it is hashed, and with
    // skipSameContent a file whose bytes match a saved file that still exists is removed again (its
    // address is then recorded with that file). Recorded when record is set. settled() follows with the
    // ticket returned.
    // Only files saved before copiesOfBeforeMs count as the earlier file of a copy.
    int fileSaved(const HistoryEntry& entry, bool record, bool skipSameContent,
                  qint64 copiesOfBeforeMs = std::numeric_limits<qint64>::max());
    // The addresses of urls that were saved (their latest file that still exists); lookedUp() follows.
    int lookUp(const QStringList& urls);
    // The entries matching text, newest first, at most limit; listed() follows.
    int list(const QString& text, qsizetype limit);
    // Removes entries; changed() follows.
    void forget(const QList<qint64>& ids);
    void clear();
    // Returns once everything asked so far is done and written.
    void flush();

Q_SIGNALS:
    // sameContent.path is empty unless the file was removed as a copy of sameContent.
    void settled(int ticket, const HistoryEntry& entry, const HistoryEntry& sameContent);
    void lookedUp(int ticket, const QHash<QString, HistoryEntry>& saved);
    void listed(int ticket, const QList<HistoryEntry>& entries, bool more);
    // Entries were written or removed.
    void changed();
    // Entries were removed (forgotten or cleared).
    void removed();
    // A damaged or foreign history file was set aside under this name and a new one started.
    void setAside(const QString& damagedFile);
    // The history could not be written (the download itself goes on).
    void failed(const QString& message);

private:
    QString m_file;
    QThread* m_thread = nullptr;
    HistoryWorker* m_worker = nullptr;
    int m_tickets = 0;
};
