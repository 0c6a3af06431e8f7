#include "DownloadBatch.h"

#include "AddressInput.h"
#include "BatchCookieJar.h"
#include "DownloadTransfer.h"
#include "NetworkErrorText.h"
#include "UniqueFileReservation.h"

#include <QNetworkAccessManager>
#include <QTimer>

#include <algorithm>

namespace {

constexpr int ProgressIntervalMs = 100;

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
    m_options.parallel = std::max(1, m_options.parallel);
    m_options.maxPerHost = std::max(1, m_options.maxPerHost);
    m_results.resize(m_items.size());
    for (qsizetype i = 0; i < m_items.size(); ++i)
        m_results[i].url = m_items[i].url;
}

DownloadBatch::~DownloadBatch() {
    m_finished = true; // nothing is reported from here on
    const auto transfers = m_active.values();
    m_active.clear();
    for (DownloadTransfer* transfer : transfers) {
        transfer->disconnect(this);
        transfer->cancel();
        delete transfer;
    }
}

int DownloadBatch::total() const {
    return static_cast<int>(m_items.size());
}

qint64 DownloadBatch::bytesReceived() const {
    return m_bytes;
}

QStringList DownloadBatch::currentUrls() const {
    QList<int> indexes = m_active.keys();
    std::sort(indexes.begin(), indexes.end());
    QStringList urls;
    for (int index : indexes)
        urls.append(m_items[index].url);
    return urls;
}

const DownloadResults& DownloadBatch::results() const {
    return m_results;
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
    m_network = new QNetworkAccessManager(this);
    m_network->setCookieJar(new BatchCookieJar(m_options.cookieJar, m_network));
    QTimer::singleShot(0, this, &DownloadBatch::pump);
}

void DownloadBatch::pump() {
    while (!m_cancelled && m_active.size() < m_options.parallel && !m_pending.empty()) {
        // The first waiting item whose host has room; items of a busy host wait their turn.
        auto it = std::find_if(m_pending.begin(), m_pending.end(), [this](int index) {
            const QString host = hostOf(m_items[index]);
            return host.isEmpty() || m_perHost.value(host) < m_options.maxPerHost;
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
    auto* transfer = new DownloadTransfer(m_items[index], m_options, m_network, m_reservation.get(), this);
    m_active.insert(index, transfer);
    const QString host = hostOf(m_items[index]);
    if (!host.isEmpty())
        ++m_perHost[host];
    connect(transfer, &DownloadTransfer::received, this, [this](qint64 bytes) {
        m_bytes += bytes;
        scheduleProgress();
    });
    connect(transfer, &DownloadTransfer::finished, this,
            [this, index, transfer, host](const DownloadResult& result) {
                if (m_active.remove(index) == 0)
                    return;
                if (!host.isEmpty() && --m_perHost[host] <= 0)
                    m_perHost.remove(host);
                transfer->deleteLater();
                onTransferFinished(index, result);
                // Start the next one from the event loop, not from inside the transfer's own signal.
                QTimer::singleShot(0, this, &DownloadBatch::pump);
            });
    transfer->start();
    emitProgress();
}

void DownloadBatch::onTransferFinished(int index, const DownloadResult& result) {
    m_results[index] = result;
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
        if (!m_finished)
            emitProgress();
    });
}

void DownloadBatch::emitProgress() {
    Q_EMIT progress(m_done, total(), currentUrls(), m_bytes);
}

void DownloadBatch::finishIfDone() {
    if (m_finished || !m_started || !m_active.isEmpty() || !m_pending.empty())
        return;
    m_finished = true;
    Q_EMIT finished(m_results);
}
