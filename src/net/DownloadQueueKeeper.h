#pragma once

#include "DownloadQueue.h"
#include "DownloadTypes.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <thread>

class DownloadBatch;

// Keeps a running DownloadBatch on disk as a DownloadQueue of its own (one record a batch, any
// number of them for one folder), so that the batch can be continued after the window was closed or
// the process killed: every name is recorded before its file appears (see
// DownloadBatch::setNameRecorder), at most a few times a second and off the transfers' thread, with
// the saved items and what lets a partial file be continued from its bytes (its hidden name, the
// version's validator and length). A file counts as saved in the record only once its data and its
// folder's entry are on the disk. When the batch ends, finish() removes the record or keeps what
// is left of it; a keeper that goes away without finish() (the window closed mid-way) keeps it.
// A record that cannot be written is told at once (recordFailed), and recorded() is false from then on.
class DownloadQueueKeeper : public QObject {
    Q_OBJECT
public:
    // The longest pause between two writes of the record (see DownloadBatch::setNameRecorder).
    static constexpr int WriteIntervalMs = 250;

    // Keeps batch, made of the entries of queue at positions (one a batch item, in order), in the
    // record file (by default the batch's own file, DownloadQueue::fileFor), under lock (taken here
    // when null), which it holds until it goes. Writes the record at once. parent is usually the
    // batch.
    DownloadQueueKeeper(DownloadBatch* batch, const DownloadQueue& queue, const QList<int>& positions,
                        QObject* parent = nullptr, std::unique_ptr<DownloadQueue::Lock> lock = nullptr,
                        const QString& file = {});
    ~DownloadQueueKeeper() override;

    // A new batch: every item waiting, in the given order.
    static DownloadQueue queueFor(const QString& folder, const QList<DownloadItem>& items);
    // The batch items for the unfinished entries of queue, and their positions.
    static QList<DownloadItem> itemsToContinue(const DownloadQueue& queue, QList<int>* positions);

    // The batch has ended: keepRest keeps the entries not saved for another run (an interrupted
    // batch), otherwise the record goes (the batch ran to its end, or the user stopped it).
    void finish(bool keepRest);
    // The record's file, and the last error writing it (empty when none).
    QString file() const;
    QString lastError() const;
    // False once the record could not be written: an interruption would then lose the batch.
    bool recorded() const;

Q_SIGNALS:
    // The record could not be written (the first time, and whenever the reason changes).
    void recordFailed(const QString& message);

private:
    void onItemFinished(int index, const DownloadResult& result);
    // Writes the record here and now, after the write under way.
    void write();
    // Writes the record on a thread of its own and calls recorded here once it is on the disk.
    void writeInBackground(std::function<void()> recorded);
    void waitForWriter();
    void setError(const QString& error);

    DownloadQueue m_queue;
    QList<int> m_positions;
    QString m_file;
    std::unique_ptr<DownloadQueue::Lock> m_lock;
    // The write under way, off the thread of the transfers: a write flushes to the disk, which
    // can take long enough to hold up every transfer.
    std::thread m_writer;
    QString m_error;
    // Files published since the last write: the folder is flushed before the record says so.
    bool m_folderUnflushed = false;
    bool m_done = false;
};
