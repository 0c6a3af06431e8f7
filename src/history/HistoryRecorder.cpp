#include "HistoryRecorder.h"

#include "DownloadHistory.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <memory>

namespace {

QByteArray sha256Of(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    return hash.addData(&file) ? hash.result() : QByteArray();
}

} // namespace

// Lives on the recorder's thread and owns the database connection there.
class HistoryWorker : public QObject {
public:
    HistoryWorker(const QString& file, HistoryRecorder* recorder)
        : m_history(file)
        , m_recorder(recorder) {}

    void fileSaved(int ticket, HistoryEntry entry, bool record, bool skipSameContent, qint64 before) {
        entry.sha256 = sha256Of(entry.path);
        HistoryEntry same;
        if (skipSameContent && !entry.sha256.isEmpty()) {
            const auto seen = m_seen.constFind(entry.sha256);
            if (seen != m_seen.cend() && seen->path != entry.path && seen->timeMs < before &&
                QFileInfo(seen->path).isFile()) {
                same = *seen;
            } else if (const auto found = m_history.savedWithContent(entry.sha256, entry.path, before)) {
                // Still these bytes: a file changed since it was saved is no copy.
                if (sha256Of(found->path) == entry.sha256)
                    same = *found;
            }
            if (!same.path.isEmpty())
                QFile::remove(entry.path);
        }
        if (same.path.isEmpty() && !entry.sha256.isEmpty())
            m_seen.insert(entry.sha256, entry);
        if (record) {
            // A copy's address is kept too, with the file it copies: the next time it is known.
            HistoryEntry kept = entry;
            if (!same.path.isEmpty())
                kept.path = same.path;
            m_pending.append(kept);
            scheduleWrite();
        }
        report();
        post([ticket, entry, same](HistoryRecorder* r) { Q_EMIT r->settled(ticket, entry, same); });
    }

    void lookUp(int ticket, const QStringList& urls) {
        // What waits to be written is part of the answer.
        write();
        const QHash<QString, HistoryEntry> saved = m_history.savedFor(urls);
        report();
        post([ticket, saved](HistoryRecorder* r) { Q_EMIT r->lookedUp(ticket, saved); });
    }

    void list(int ticket, const QString& text, qsizetype limit) {
        write();
        bool more = false;
        const QList<HistoryEntry> entries = m_history.list(text, limit, &more);
        report();
        post([ticket, entries, more](HistoryRecorder* r) { Q_EMIT r->listed(ticket, entries, more); });
    }

    void forget(const QList<qint64>& ids) {
        write();
        const qsizetype removed = m_history.forgetIds(ids);
        report();
        if (removed > 0)
            post([](HistoryRecorder* r) {
                Q_EMIT r->changed();
                Q_EMIT r->removed();
            });
    }

    void clear() {
        m_pending.clear();
        m_seen.clear();
        const bool ok = m_history.clear();
        report();
        if (ok)
            post([](HistoryRecorder* r) {
                Q_EMIT r->changed();
                Q_EMIT r->removed();
            });
    }

    void write() {
        if (m_timer)
            m_timer->stop();
        if (m_pending.isEmpty())
            return;
        QList<HistoryEntry> entries = std::exchange(m_pending, {});
        const bool ok = m_history.add(&entries);
        const QString error = m_history.error();
        report();
        if (ok)
            post([](HistoryRecorder* r) { Q_EMIT r->changed(); });
        else
            post([error](HistoryRecorder* r) { Q_EMIT r->failed(error); });
    }

private:
    void scheduleWrite() {
        if (m_pending.size() >= HistoryRecorder::WriteBatch) {
            write();
            return;
        }
        if (!m_timer) {
            m_timer = new QTimer(this);
            m_timer->setSingleShot(true);
            connect(m_timer, &QTimer::timeout, this, [this] { write(); });
        }
        if (!m_timer->isActive())
            m_timer->start(HistoryRecorder::WriteIntervalMs);
    }

    // A damaged file set aside meanwhile is told once.
    void report() {
        const QString aside = m_history.takeSetAside();
        if (!aside.isEmpty())
            post([aside](HistoryRecorder* r) { Q_EMIT r->setAside(aside); });
    }

    template <typename F> void post(F f) {
        QPointer<HistoryRecorder> recorder(m_recorder);
        QMetaObject::invokeMethod(
            m_recorder,
            [recorder, f] {
                if (recorder)
                    f(recorder.data());
            },
            Qt::QueuedConnection);
    }

    DownloadHistory m_history;
    HistoryRecorder* m_recorder;
    QList<HistoryEntry> m_pending;
    QTimer* m_timer = nullptr;
    // The files of this run by their bytes, for copies within one download.
    QHash<QByteArray, HistoryEntry> m_seen;
};

HistoryRecorder::HistoryRecorder(const QString& file, QObject* parent)
    : QObject(parent)
    , m_file(file)
    , m_thread(new QThread) {
    m_worker = new HistoryWorker(file, this);
    m_worker->moveToThread(m_thread);
    m_thread->setObjectName(QStringLiteral("history"));
    m_thread->start();
}

HistoryRecorder::~HistoryRecorder() {
    HistoryWorker* worker = m_worker;
    // The worker and its database go on their own thread, after writing what waits.
    QMetaObject::invokeMethod(
        worker,
        [worker] {
            worker->write();
            delete worker;
        },
        Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
    delete m_thread;
}

QString HistoryRecorder::file() const {
    return m_file;
}

int HistoryRecorder::fileSaved(const HistoryEntry& entry, bool record, bool skipSameContent,
                               qint64 copiesOfBeforeMs) {
    const int ticket = ++m_tickets;
    HistoryWorker* worker = m_worker;
    QMetaObject::invokeMethod(
        worker, [=] { worker->fileSaved(ticket, entry, record, skipSameContent, copiesOfBeforeMs); },
        Qt::QueuedConnection);
    return ticket;
}

int HistoryRecorder::lookUp(const QStringList& urls) {
    const int ticket = ++m_tickets;
    HistoryWorker* worker = m_worker;
    QMetaObject::invokeMethod(
        worker, [=] { worker->lookUp(ticket, urls); }, Qt::QueuedConnection);
    return ticket;
}

int HistoryRecorder::list(const QString& text, qsizetype limit) {
    const int ticket = ++m_tickets;
    HistoryWorker* worker = m_worker;
    QMetaObject::invokeMethod(
        worker, [=] { worker->list(ticket, text, limit); }, Qt::QueuedConnection);
    return ticket;
}

void HistoryRecorder::forget(const QList<qint64>& ids) {
    HistoryWorker* worker = m_worker;
    QMetaObject::invokeMethod(
        worker, [=] { worker->forget(ids); }, Qt::QueuedConnection);
}

void HistoryRecorder::clear() {
    HistoryWorker* worker = m_worker;
    QMetaObject::invokeMethod(
        worker, [=] { worker->clear(); }, Qt::QueuedConnection);
}

void HistoryRecorder::flush() {
    HistoryWorker* worker = m_worker;
    QMetaObject::invokeMethod(
        worker, [worker] { worker->write(); }, Qt::BlockingQueuedConnection);
}
