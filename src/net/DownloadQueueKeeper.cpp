#include "DownloadQueueKeeper.h"

#include "DownloadBatch.h"
#include "LocalFileName.h"

#include <QDir>
#include <QFileInfo>

DownloadQueueKeeper::DownloadQueueKeeper(DownloadBatch* batch, const DownloadQueue& queue,
                                         const QList<int>& positions, QObject* parent)
    : QObject(parent)
    , m_queue(queue)
    , m_positions(positions)
    , m_file(DownloadQueue::fileFor(queue.folder))
    , m_lock(std::make_unique<DownloadQueue::Lock>(m_file)) {
    if (!m_lock->held()) {
        m_done = true;
        m_error = QStringLiteral(
            "同じフォルダへの別のダウンロードが実行中のため、このダウンロードは中断に備えて記録されません");
        return;
    }
    batch->setNameRecorder(
        [this](const DownloadBatch::ClaimedNames& claimed, std::function<void()> recorded) {
            for (const auto& [index, name] : claimed) {
                DownloadQueue::Entry& entry = m_queue.entries[m_positions.at(index)];
                entry.state = DownloadQueue::Entry::State::Claimed;
                entry.name = name;
            }
            writeInBackground(std::move(recorded));
        },
        WriteIntervalMs);
    connect(batch, &DownloadBatch::itemFinished, this, &DownloadQueueKeeper::onItemFinished);
    write();
}

DownloadQueueKeeper::~DownloadQueueKeeper() {
    // Gone with the window or the process's end in the middle of the batch: what is left is kept.
    if (!m_done)
        write();
    waitForWriter();
}

DownloadQueue DownloadQueueKeeper::queueFor(const QString& folder, const QList<DownloadItem>& items) {
    DownloadQueue queue;
    queue.folder = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    for (const DownloadItem& item : items) {
        DownloadQueue::Entry entry;
        entry.url = item.url;
        entry.referer = item.referer;
        entry.charset = item.charset;
        queue.entries.append(entry);
    }
    return queue;
}

QList<DownloadItem> DownloadQueueKeeper::itemsToContinue(const DownloadQueue& queue, QList<int>* positions) {
    QList<DownloadItem> items;
    positions->clear();
    for (int position : queue.unfinished()) {
        const DownloadQueue::Entry& entry = queue.entries.at(position);
        DownloadItem item;
        item.url = entry.url;
        item.referer = entry.referer;
        item.charset = entry.charset;
        items.append(item);
        positions->append(position);
    }
    return items;
}

void DownloadQueueKeeper::onItemFinished(int index, const DownloadResult& result) {
    DownloadQueue::Entry& entry = m_queue.entries[m_positions.at(index)];
    if (result.succeeded()) {
        entry.state = DownloadQueue::Entry::State::Saved;
        // Relative to the folder: a name mask's folders are part of the name.
        entry.name = QDir(m_queue.folder).relativeFilePath(QFileInfo(result.path).absoluteFilePath());
        if (!LocalFileNames::isRelativePath(entry.name))
            entry.name = QFileInfo(result.path).fileName();
    } else {
        // Tried again when the batch is continued.
        entry.state = DownloadQueue::Entry::State::Waiting;
        entry.name.clear();
    }
    // Written with the next claim or at the end: a claimed entry whose file exists counts as
    // saved anyway.
}

void DownloadQueueKeeper::finish(bool keepRest) {
    if (m_done)
        return;
    m_done = true;
    if (keepRest && !m_queue.unfinished().isEmpty()) {
        write();
    } else {
        waitForWriter(); // which would bring the record back
        DownloadQueue::remove(m_file);
    }
}

QString DownloadQueueKeeper::file() const {
    return m_file;
}

QString DownloadQueueKeeper::lastError() const {
    return m_error;
}

void DownloadQueueKeeper::waitForWriter() {
    if (m_writer.joinable())
        m_writer.join();
}

void DownloadQueueKeeper::write() {
    waitForWriter();
    QString error;
    if (!m_queue.write(m_file, &error))
        m_error = error;
}

void DownloadQueueKeeper::writeInBackground(std::function<void()> recorded) {
    // Written one after the other, so that an older state never lands over a newer one.
    waitForWriter();
    m_writer = std::thread([this, path = m_file, data = m_queue.toJson(), recorded = std::move(recorded)] {
        QString error;
        const bool written = DownloadQueue::writeData(path, data, &error);
        // Back on the keeper's thread; dropped if the keeper is gone by then (it waits for this
        // thread first, so it is there while the thread runs).
        QMetaObject::invokeMethod(
            this,
            [this, written, error, recorded] {
                if (!written)
                    m_error = error;
                // A name that could not be recorded is used all the same: the download matters
                // more than its record, and the record says why it is behind.
                recorded();
            },
            Qt::QueuedConnection);
    });
}
