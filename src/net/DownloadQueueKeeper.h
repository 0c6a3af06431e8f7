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

// Keeps a running DownloadBatch on disk as a DownloadQueue, so that the batch can be continued
// after the window was closed or the process killed: every name is recorded before its file
// appears (see DownloadBatch::setNameRecorder), at most a few times a second and off the
// transfers' thread, and the saved items with it. When the batch ends, finish() removes the record or keeps
// what is left of it; a keeper that goes away without finish() (the window closed mid-way) keeps it.
class DownloadQueueKeeper : public QObject {
    Q_OBJECT
public:
    // The least time between two writes of the record.
    static constexpr int WriteIntervalMs = 250;

    // Keeps batch, made of the entries of queue at positions (one a batch item, in order). Writes
    // the record at once. parent is usually the batch. When another process runs a batch into the
    // same folder, this one is not kept (lastError says so) and that one's record stays as it is.
    DownloadQueueKeeper(DownloadBatch* batch, const DownloadQueue& queue, const QList<int>& positions,
                        QObject* parent = nullptr);
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

private:
    void onItemFinished(int index, const DownloadResult& result);
    // Writes the record here and now, after the write under way.
    void write();
    // Writes the record on a thread of its own and calls recorded here once it is on the disk.
    void writeInBackground(std::function<void()> recorded);
    void waitForWriter();

    DownloadQueue m_queue;
    QList<int> m_positions;
    QString m_file;
    std::unique_ptr<DownloadQueue::Lock> m_lock;
    // The write under way, off the thread of the transfers: a write flushes to the disk, which
    // can take long enough to hold up every transfer.
    std::thread m_writer;
    QString m_error;
    bool m_done = false;
};
