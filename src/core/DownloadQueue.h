#pragma once

#include "FileLock.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

// A download batch that has not ended, kept on disk so that a closed window, a killed command, a
// crash or a power cut does not lose it: the folder and, for each address, its Referer, its page's
// encoding and how far it got. One file a batch (any number of them for one folder) under the user's
// data folder (~/.local/share/nepirika/queues), replaced in one step (a complete temporary file
// renamed over it, both flushed to the disk), so that it is always either the old or the new state,
// never a mix.
//
// An entry whose name was claimed is recorded before the file appears under that name: an entry
// "claimed" whose file exists was saved, even when the process died before it could say so. That
// is how a continued batch saves each file exactly once.
class DownloadQueue {
public:
    struct Entry {
        enum class State { Waiting, Claimed, Saved };

        QString url;
        QString referer;
        QString charset;
        State state = State::Waiting;
        // The file name in the folder, once claimed.
        QString name;
        // The length of the file: of a saved one, its size; of a claimed one, what the server
        // announced (-1 when not known).
        qint64 size = -1;
        // What identifies the version of the file on the server (a strong ETag, else
        // Last-Modified), so that a partial file can be continued with Range and If-Range.
        QByteArray validator{};
    };

    // What became of read().
    enum class ReadStatus { Read, Missing, Damaged };

    // Held by the process that runs a batch, for as long as it runs (the system lets it go when
    // the process ends, however it ends): a batch that runs in another process is neither offered
    // nor continued, and its record is not replaced by another batch into the same folder.
    class Lock {
    public:
        // Tries to take the lock of the record at path, without waiting.
        explicit Lock(const QString& path);
        bool held() const;

    private:
        FileLock m_file;
    };

    QString folder;
    // What tells this batch from the others kept for the same folder (letters and digits).
    QString batch;
    // When the batch began (UTC).
    QDateTime created;
    QList<Entry> entries;

    // A new batch into folder (made absolute), with a batch name of its own.
    static DownloadQueue begin(const QString& folder);
    // The file in which the batch of that name for folder (absolute) is kept.
    static QString fileFor(const QString& folder, const QString& batch);
    // The folder under which every queue file lives; tests point it elsewhere with XDG_DATA_HOME.
    static QString queuesFolder();
    // Every queue file kept, oldest first; those of one folder.
    static QStringList keptFiles();
    static QStringList keptFilesFor(const QString& folder);
    // The hidden name in the folder under which the item at position keeps its data while it is
    // on its way, so that a killed transfer can be continued from its bytes. Never a final name.
    QString partialName(int position) const;
    // Removes the partial files of this batch from its folder.
    void removePartials() const;

    QByteArray toJson() const;
    // False with a message for the user when data is not a queue of this program.
    static bool fromJson(const QByteArray& data, DownloadQueue* queue, QString* error);

    // Reads the file; Damaged comes with a message naming the file, Missing when there is none.
    static ReadStatus read(const QString& path, DownloadQueue* queue, QString* error);
    // Replaces the file with this state in one step, flushed to the disk. False with a message.
    bool write(const QString& path, QString* error) const;
    // The same with the state already written out (toJson); safe on any thread.
    static bool writeData(const QString& path, const QByteArray& data, QString* error);
    // Removes the record and its lock file.
    static void remove(const QString& path);

    // Settles the entries against the folder: a claimed one is saved when its file is there (of
    // the recorded length, when one was recorded), otherwise waiting again (the file was never
    // published); a saved one whose file is gone or has another size than recorded is waiting
    // again. Call before continuing the batch.
    void settleClaims();
    // The entries that still have to be downloaded, by position.
    QList<int> unfinished() const;
    int savedCount() const;
};
