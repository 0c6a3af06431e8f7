#include "DownloadQueueKeeper.h"

#include "DownloadBatch.h"
#include "LocalFileName.h"
#include "TextFileSave.h"

#include <QDir>
#include <QFileInfo>

DownloadQueueKeeper::DownloadQueueKeeper(DownloadBatch* batch, const DownloadQueue& queue,
                                         const QList<int>& positions, QObject* parent,
                                         std::unique_ptr<DownloadQueue::Lock> lock, const QString& file)
    : QObject(parent)
    , m_queue(queue)
    , m_positions(positions)
    , m_file(file.isEmpty() ? DownloadQueue::fileFor(queue.folder, queue.batch) : file)
    , m_lock(lock ? std::move(lock) : std::make_unique<DownloadQueue::Lock>(m_file)) {
    if (!m_lock->held()) {
        // A batch of its own has a lock of its own: only a folder that cannot be written to (or a
        // record continued elsewhere meanwhile) gets here.
        m_done = true;
        m_error = QStringLiteral("ダウンロードの記録「%1」を作成できません。中断したときは続けられません")
                      .arg(QDir::toNativeSeparators(m_file));
        return;
    }
    // Each item keeps its data under a hidden name of its own in the folder, so that a killed
    // transfer can be continued from its bytes.
    for (qsizetype i = 0; i < m_positions.size(); ++i) {
        const DownloadQueue::Entry& entry = m_queue.entries.at(m_positions.at(i));
        batch->setPartialFile(static_cast<int>(i), m_queue.partialName(m_positions.at(i)), entry.validator,
                              entry.size);
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
    // Written with the name that the item claims right after.
    connect(batch, &DownloadBatch::itemResumable, this,
            [this](int index, const QByteArray& validator, qint64 total) {
                DownloadQueue::Entry& entry = m_queue.entries[m_positions.at(index)];
                entry.validator = validator;
                entry.size = total;
            });
    // Off this thread as well: the batch starts meanwhile, and its first names are recorded after it.
    writeInBackground({});
}

DownloadQueueKeeper::~DownloadQueueKeeper() {
    // Gone with the window or the process's end in the middle of the batch: what is left is kept.
    if (!m_done)
        write();
    waitForWriter();
}

DownloadQueue DownloadQueueKeeper::queueFor(const QString& folder, const QList<DownloadItem>& items) {
    DownloadQueue queue = DownloadQueue::begin(folder);
    queue.entries.reserve(items.size());
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
        entry.size = result.bytes;
        entry.validator.clear();
        m_folderUnflushed = true;
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
        m_queue.removePartials();
        DownloadQueue::remove(m_file);
    }
}

QString DownloadQueueKeeper::file() const {
    return m_file;
}

QString DownloadQueueKeeper::lastError() const {
    return m_error;
}

bool DownloadQueueKeeper::recorded() const {
    return m_error.isEmpty();
}

void DownloadQueueKeeper::setError(const QString& error) {
    if (error.isEmpty() || error == m_error)
        return;
    m_error = error;
    Q_EMIT recordFailed(error);
}

void DownloadQueueKeeper::waitForWriter() {
    if (m_writer.joinable())
        m_writer.join();
}

void DownloadQueueKeeper::write() {
    waitForWriter();
    if (std::exchange(m_folderUnflushed, false))
        TextFileSave::syncFolderOf(m_queue.folder + QStringLiteral("/."));
    QString error;
    if (!m_queue.write(m_file, &error))
        setError(error);
}

void DownloadQueueKeeper::writeInBackground(std::function<void()> recorded) {
    // Written one after the other, so that an older state never lands over a newer one: the new
    // writer waits for the one before it, and this thread waits for neither.
    std::thread previous = std::move(m_writer);
    const bool flushFolder = std::exchange(m_folderUnflushed, false);
    // The state is copied here (shared until changed) and written out there, so that a large
    // batch is not serialised on the transfers' thread.
    m_writer = std::thread([this, previous = std::move(previous), path = m_file, queue = m_queue, flushFolder,
                            recorded = std::move(recorded)]() mutable {
        if (previous.joinable())
            previous.join();
        // The files published since the last write are there for good before the record says so.
        if (flushFolder)
            TextFileSave::syncFolderOf(queue.folder + QStringLiteral("/."));
        QString error;
        const bool written = queue.write(path, &error);
        // Back on the keeper's thread; dropped if the keeper is gone by then (it waits for this
        // thread first, so it is there while the thread runs).
        QMetaObject::invokeMethod(
            this,
            [this, written, error, recorded] {
                if (!written)
                    setError(error);
                // A name that could not be recorded is used all the same: the download matters
                // more than its record, and the record says why it is behind.
                if (recorded)
                    recorded();
            },
            Qt::QueuedConnection);
    });
}
