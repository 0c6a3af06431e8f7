#include "DownloadBatch.h"

#include "AddressInput.h"
#include "BatchCookieJar.h"
#include "CurlSession.h"
#include "DataFlush.h"
#include "DownloadTransfer.h"
#include "HostPauses.h"
#include "NetworkErrorText.h"
#include "UniqueFileReservation.h"

#include <QDateTime>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <vector>

namespace {

constexpr int ProgressIntervalMs = 100;

// Batches up to this many items have records that take no time to serialise.
constexpr qsizetype SmallRecordItems = 5000;

// Items that may run ahead of the first one whose name is not settled. A finished item waits for
// its name with its file open, so this bounds the open files when an early item is slow.
constexpr int MaxRunAhead = 256;

QString hostOf(const DownloadItem& item) {
    const QUrl url = item.address.isValid() ? item.address : AddressInput::asWritten(item.url);
    return url.host().toLower();
}

} // namespace

DownloadBatch::DownloadBatch(const QString& folder, const QList<DownloadItem>& items,
                             const DownloadOptions& options, QObject* parent)
    : QObject(parent)
    , m_folder(folder)
    , m_items(items)
    , m_options(options)
    , m_reservation(std::make_unique<UniqueFileReservation>(folder)) {
    m_options.parallel = std::clamp(m_options.parallel, 1, WorkLimits::MostTransfersAtOnce);
    m_options.maxPerHost = std::clamp(m_options.maxPerHost, 1, WorkLimits::MostTransfersAtOnce);
    m_options.retries = std::clamp(m_options.retries, 0, WorkLimits::MostRetries);
    m_results.resize(m_items.size());
    m_wantedNames.resize(m_items.size());
    m_ended.resize(m_items.size(), false);
    for (qsizetype i = 0; i < m_items.size(); ++i)
        m_results[i].url = m_items[i].url;
}

DownloadBatch::~DownloadBatch() {
    m_finished = true; // nothing is reported from here on
    waitForFlush();
    const auto transfers = m_active.values();
    m_active.clear();
    for (DownloadTransfer* transfer : transfers) {
        transfer->disconnect(this);
        transfer->cancel();
        delete transfer;
    }
    if (m_session)
        m_session->dispose();
}

int DownloadBatch::total() const {
    return static_cast<int>(m_items.size());
}

int DownloadBatch::done() const {
    return m_done;
}

bool DownloadBatch::isFinished() const {
    return m_finished;
}

qint64 DownloadBatch::bytesReceived() const {
    return m_bytes;
}

QStringList DownloadBatch::currentUrls() const {
    QList<int> indexes = m_active.keys();
    std::sort(indexes.begin(), indexes.end());
    QStringList urls;
    for (int index : indexes) {
        if (!m_parked.contains(index)) // complete, only waiting for its name
            urls.append(m_items[index].url);
    }
    return urls;
}

const DownloadResults& DownloadBatch::results() const {
    return m_results;
}

QList<HostPauses::Pause> DownloadBatch::pausedHosts() const {
    QList<HostPauses::Pause> pauses = HostPauses::instance()->pauses();
    if (m_finished || m_cancelled || pauses.isEmpty())
        return {};
    QSet<QString> hosts;
    for (int index : m_pending)
        hosts.insert(hostOf(m_items[index]));
    for (auto it = m_active.cbegin(); it != m_active.cend(); ++it)
        hosts.insert(hostOf(m_items[it.key()]));
    pauses.removeIf([&hosts](const HostPauses::Pause& pause) { return !hosts.contains(pause.host); });
    return pauses;
}

void DownloadBatch::start() {
    if (m_started)
        return;
    m_started = true;
    for (qsizetype i = 0; i < m_items.size(); ++i)
        m_pending.push_back(static_cast<int>(i));
    if (!m_reservation->open(&m_folderError)) {
        // Every item fails for the same reason; report them from the event loop all the same.
        QTimer::singleShot(0, this, [this] {
            while (!m_pending.empty()) {
                const int index = m_pending.front();
                m_pending.pop_front();
                DownloadResult result;
                result.url = m_items[index].url;
                result.message = m_folderError;
                onTransferFinished(index, result);
            }
            finishIfDone();
        });
        return;
    }
    // One jar for the whole batch, so that a cookie set by one response goes with the next request.
    m_cookies = new BatchCookieJar(m_options.cookieJar, this);
    m_session = new CurlSession;
    // Items of a host that asked to wait start once it is resumed; meanwhile the progress counts down.
    HostPauses* pauses = HostPauses::instance();
    connect(pauses, &HostPauses::resumed, this, [this] {
        if (m_finished)
            return;
        pump();
        if (!m_finished)
            emitProgress();
    });
    connect(pauses, &HostPauses::paused, this, [this] { scheduleProgress(); });
    QTimer::singleShot(0, this, &DownloadBatch::pump);
}

void DownloadBatch::pump() {
    // A transfer whose body is complete and that only waits for its name uses no connection.
    while (!m_cancelled && m_active.size() - m_parked.size() < m_options.parallel && !m_pending.empty()) {
        // The first waiting item whose host has room; items of a busy host wait their turn.
        auto it = std::find_if(m_pending.begin(), m_pending.end(), [this](int index) {
            const QString host = hostOf(m_items[index]);
            return index < m_nameCursor + MaxRunAhead &&
                   (host.isEmpty() || (m_perHost.value(host) < m_options.maxPerHost &&
                                       !HostPauses::instance()->isPaused(host)));
        });
        if (it == m_pending.end())
            break;
        const int index = *it;
        m_pending.erase(it);
        launch(index);
    }
    finishIfDone();
}

void DownloadBatch::launch(int index) {
    const QString host = hostOf(m_items[index]);
    auto* transfer =
        new DownloadTransfer(m_items[index], m_options, m_session, m_cookies, m_reservation.get(), this);
    m_active.insert(index, transfer);
    if (!host.isEmpty())
        ++m_perHost[host];
    connect(transfer, &DownloadTransfer::received, this, [this](qint64 bytes) {
        m_bytes += bytes;
        scheduleProgress();
    });
    // Gives back the transfer's share of the host, once.
    auto leaveConnection = [this, index, host] {
        if (m_parked.contains(index))
            return;
        m_parked.insert(index);
        if (!host.isEmpty() && --m_perHost[host] <= 0)
            m_perHost.remove(host);
    };
    connect(transfer, &DownloadTransfer::nameWanted, this, [this, index](const QString& name) {
        m_wantedNames[index] = name;
        claimNames();
        // Names settled up to here may let items further down the list start.
        QTimer::singleShot(0, this, &DownloadBatch::pump);
    });
    connect(transfer, &DownloadTransfer::resumable, this,
            [this, index](const QByteArray& validator, qint64 total) {
                Q_EMIT itemResumable(index, validator, total);
            });
    connect(transfer, &DownloadTransfer::readyToPublish, this, [this, index] {
        m_readyToFlush.append(index);
        flushReady();
    });
    connect(transfer, &DownloadTransfer::bodyComplete, this, [this, leaveConnection] {
        leaveConnection();
        QTimer::singleShot(0, this, &DownloadBatch::pump);
    });
    connect(transfer, &DownloadTransfer::finished, this,
            [this, index, transfer, leaveConnection](const DownloadResult& result) {
                if (m_active.value(index) != transfer)
                    return;
                leaveConnection();
                m_active.remove(index);
                m_parked.remove(index);
                transfer->deleteLater();
                onTransferFinished(index, result);
                claimNames();
                // Start the next one from the event loop, not from inside the transfer's own signal.
                QTimer::singleShot(0, this, &DownloadBatch::pump);
            });
    transfer->start();
    emitProgress();
}

void DownloadBatch::claimNames() {
    // Claiming can end a transfer, whose end calls here again; the loop below sees that anyway.
    if (m_claiming)
        return;
    m_claiming = true;
    while (m_nameCursor < m_items.size()) {
        const int index = m_nameCursor;
        DownloadTransfer* transfer = m_active.value(index);
        const bool ended = m_ended[index];
        // An item not started, or whose response has not come yet, holds back the names of those
        // after it: that keeps the numbering in list order.
        if (!ended && (!transfer || m_wantedNames[index].isEmpty()))
            break;
        ++m_nameCursor;
        if (ended)
            continue;
        QString error;
        const QString claimed =
            m_reservation->claim(m_wantedNames[index], m_options.numberTakenNames, &error);
        if (claimed.isEmpty())
            transfer->failNaming(error);
        else
            handOverName(index, claimed);
    }
    m_claiming = false;
}

void DownloadBatch::setPartialFile(int index, const QString& partialName, const QByteArray& validator,
                                   qint64 expectedSize) {
    if (index < 0 || index >= m_items.size())
        return;
    m_items[index].partialName = partialName;
    m_items[index].validator = validator;
    m_items[index].expectedSize = expectedSize;
}

void DownloadBatch::flushReady() {
    if (m_flushing || m_readyToFlush.isEmpty())
        return;
    // Every file ready now, in one step: their own descriptors (duplicated, as a transfer may be
    // cancelled and close its file meanwhile), or the whole file system's cache when there are many.
    const QList<int> indexes = std::exchange(m_readyToFlush, {});
    std::vector<int> descriptors;
    for (int index : indexes) {
        if (DownloadTransfer* transfer = m_active.value(index)) {
            const int fd = transfer->dataDescriptor();
            if (fd >= 0)
                descriptors.push_back(DataFlush::duplicate(fd));
        }
    }
    m_flushing = true;
    waitForFlush();
    m_flusher = std::thread([this, indexes, descriptors] {
        const QString error = DataFlush::flush(descriptors);
        QMetaObject::invokeMethod(
            this, [this, indexes, error] { flushed(indexes, error); }, Qt::QueuedConnection);
    });
}

void DownloadBatch::flushed(const QList<int>& indexes, const QString& error) {
    m_flushing = false;
    for (int index : indexes) {
        if (DownloadTransfer* transfer = m_active.value(index))
            transfer->publishFlushed(error);
    }
    flushReady();
    finishIfDone();
}

void DownloadBatch::waitForFlush() {
    if (m_flusher.joinable())
        m_flusher.join();
}

void DownloadBatch::setNameRecorder(NameRecorder recorder, int intervalMs) {
    m_recorder = std::move(recorder);
    m_recordIntervalMs = std::max(0, intervalMs);
}

void DownloadBatch::handOverName(int index, const QString& claimed) {
    if (!m_recorder) {
        m_active.value(index)->assignName(claimed);
        return;
    }
    m_unrecorded.append(qMakePair(index, claimed));
    scheduleRecording();
}

void DownloadBatch::scheduleRecording() {
    // One recording at a time: the next one is scheduled when the one under way is done.
    if (m_recordingScheduled || m_recording)
        return;
    m_recordingScheduled = true;
    // The record of a small batch is written again as soon as the last write is on the disk (its
    // time is the disk's flush, which a pause would only add to every file); a large one pauses as
    // long again as the last recording took, at most intervalMs, so that it is written at most
    // about half the time.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const qint64 wait =
        m_lastRecordedMs < 0 || m_items.size() <= SmallRecordItems
            ? 0
            : std::clamp<qint64>(m_lastRecordedMs +
                                     std::min<qint64>(m_lastRecordingTookMs, m_recordIntervalMs) - now,
                                 0, m_recordIntervalMs);
    QTimer::singleShot(static_cast<int>(wait), this, &DownloadBatch::recordClaims);
}

void DownloadBatch::recordClaims() {
    m_recordingScheduled = false;
    const ClaimedNames claimed = std::exchange(m_unrecorded, {});
    // Items that ended meanwhile, or a batch that was stopped, leave nothing to record.
    ClaimedNames live;
    for (const auto& [index, name] : claimed) {
        if (!m_cancelled && !m_finished && m_active.contains(index))
            live.append(qMakePair(index, name));
        else
            m_reservation->release(name);
    }
    if (live.isEmpty())
        return;
    m_recording = true;
    m_lastRecordedMs = QDateTime::currentMSecsSinceEpoch();
    QPointer<DownloadBatch> self(this);
    m_recorder(live, [self, live] {
        if (self)
            self->namesRecorded(live);
    });
}

void DownloadBatch::namesRecorded(const ClaimedNames& recorded) {
    m_recording = false;
    m_lastRecordingTookMs = QDateTime::currentMSecsSinceEpoch() - m_lastRecordedMs;
    for (const auto& [index, name] : recorded) {
        if (DownloadTransfer* transfer = m_active.value(index))
            transfer->assignName(name);
        else
            m_reservation->release(name);
    }
    if (!m_unrecorded.isEmpty())
        scheduleRecording();
}

void DownloadBatch::onTransferFinished(int index, const DownloadResult& result) {
    m_results[index] = result;
    m_ended[index] = true;
    ++m_done;
    Q_EMIT itemFinished(index, result);
    emitProgress();
}

void DownloadBatch::cancel() {
    if (!m_started || m_finished || m_cancelled)
        return;
    m_cancelled = true;
    while (!m_pending.empty()) {
        const int index = m_pending.front();
        m_pending.pop_front();
        DownloadResult result;
        result.url = m_items[index].url;
        result.status = DownloadResult::Status::Cancelled;
        result.message = NetworkErrorText::cancelled();
        onTransferFinished(index, result);
    }
    // Each transfer reports itself as cancelled through its finished signal.
    const auto transfers = m_active.values();
    for (DownloadTransfer* transfer : transfers)
        transfer->cancel();
    finishIfDone();
}

void DownloadBatch::scheduleProgress() {
    if (m_progressScheduled)
        return;
    m_progressScheduled = true;
    QTimer::singleShot(ProgressIntervalMs, this, [this] {
        m_progressScheduled = false;
        if (m_finished)
            return;
        emitProgress();
        // A wait for a paused host is counted down once a second.
        if (!pausedHosts().isEmpty() && !m_pauseTickScheduled) {
            m_pauseTickScheduled = true;
            QTimer::singleShot(1000 - ProgressIntervalMs, this, [this] {
                m_pauseTickScheduled = false;
                scheduleProgress();
            });
        }
    });
}

void DownloadBatch::emitProgress() {
    Q_EMIT progress(m_done, total(), currentUrls(), m_bytes);
}

void DownloadBatch::finishIfDone() {
    if (m_finished || !m_started || !m_active.isEmpty() || !m_pending.empty() || m_flushing)
        return;
    waitForFlush();
    m_finished = true;
    Q_EMIT finished(m_results);
}
