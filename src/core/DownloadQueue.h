#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// A download batch that has not ended, kept on disk so that a closed window, a killed command, a
// crash or a power cut does not lose it: the folder and, for each address, its Referer, its page's
// encoding and how far it got. One file a folder under the user's data folder
// (~/.local/share/nepirika/queues), replaced in one step (a complete temporary file renamed over it,
// both flushed to the disk), so that it is always either the old or the new state, never a mix.
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
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;
        bool held() const;

    private:
        QByteArray m_path;
        int m_fd = -1;
    };

    QString folder;
    QList<Entry> entries;

    // The file in which the batch for folder (absolute) is kept.
    static QString fileFor(const QString& folder);
    // The folder under which every queue file lives; tests point it elsewhere with XDG_DATA_HOME.
    static QString queuesFolder();
    // Every queue file kept, oldest first.
    static QStringList keptFiles();

    QByteArray toJson() const;
    // False with a message for the user when data is not a queue of this program.
    static bool fromJson(const QByteArray& data, DownloadQueue* queue, QString* error);

    // Reads the file; Damaged comes with a message naming the file, Missing when there is none.
    static ReadStatus read(const QString& path, DownloadQueue* queue, QString* error);
    // Replaces the file with this state in one step, flushed to the disk. False with a message.
    bool write(const QString& path, QString* error) const;
    // The same with the state already written out (toJson); safe on any thread.
    static bool writeData(const QString& path, const QByteArray& data, QString* error);
    static void remove(const QString& path);

    // Settles the entries recorded as claimed: saved when their file is in the folder, otherwise
    // waiting again (the file was never published). Call before continuing the batch.
    void settleClaims();
    // The entries that still have to be downloaded, by position.
    QList<int> unfinished() const;
    int savedCount() const;
};
