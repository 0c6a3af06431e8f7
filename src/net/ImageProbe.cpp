#include "ImageProbe.h"

#include "AddressInput.h"
#include "BatchCookieJar.h"
#include "CurlSession.h"
#include "DataUrl.h"
#include "HostPauses.h"
#include "NetworkErrorText.h"
#include "RangedFetch.h"

#include <QTimer>

#include <algorithm>

namespace {

QUrl addressOf(const ImageProbeItem& item) {
    const QUrl url = AddressInput::toUrl(item.url);
    return url.isValid() ? url : AddressInput::asWritten(item.url);
}

} // namespace

ImageProbe::ImageProbe(const DownloadOptions& options, QObject* parent)
    : QObject(parent)
    , m_options(options) {
    // The limits of a download batch.
    m_options.parallel = std::clamp(m_options.parallel, 1, WorkLimits::MostTransfersAtOnce);
    m_options.maxPerHost = std::clamp(m_options.maxPerHost, 1, WorkLimits::MostTransfersAtOnce);
    m_options.retries = std::clamp(m_options.retries, 0, WorkLimits::MostRetries);
    // A download batch's set-up: the browser's cookies beside those of the probes' own responses,
    // one session for connections, DNS answers, TLS sessions and HSTS.
    m_cookies = new BatchCookieJar(m_options.cookieJar, this);
    m_session = new CurlSession;
    // Images of a host that asked to wait start once it is resumed.
    connect(HostPauses::instance(), &HostPauses::resumed, this, &ImageProbe::pump);
}

ImageProbe::~ImageProbe() {
    const auto running = m_running;
    m_running.clear();
    for (const Running& r : running) {
        if (!r.fetch)
            continue;
        r.fetch->disconnect(this);
        delete r.fetch;
    }
    m_session->dispose();
}

int ImageProbe::add(const ImageProbeItem& item) {
    const int index = int(m_items.size());
    m_items.append(item);
    m_urls.append(addressOf(item));
    // Hosts are told apart by number: the queue is scanned for a host with room after each probe.
    const QString host = m_urls.last().host().toLower();
    auto number = m_hostNumbers.constFind(host);
    if (number == m_hostNumbers.cend()) {
        number = m_hostNumbers.insert(host, int(m_perHost.size()));
        m_perHost.append(0);
        m_hostNames.append(host);
    }
    m_hosts.append(*number);
    m_pending.push_back(index);
    if (!m_pumpScheduled) {
        m_pumpScheduled = true;
        QTimer::singleShot(0, this, [this] {
            m_pumpScheduled = false;
            pump();
        });
    }
    return index;
}

int ImageProbe::outstanding() const {
    return int(m_items.size()) - m_reported;
}

void ImageProbe::cancel() {
    ImageProbeResult cancelled;
    cancelled.problem = NetworkErrorText::cancelled();
    while (!m_pending.empty()) {
        const int index = m_pending.front();
        m_pending.pop_front();
        report(index, cancelled);
    }
    const QList<int> running = m_running.keys();
    for (int index : running)
        if (m_running.contains(index))
            m_running.value(index).fetch->cancel();
}

void ImageProbe::pump() {
    while (int(m_running.size()) < m_options.parallel && !m_pending.empty()) {
        // The first waiting image whose host has room; those of a busy host wait their turn.
        const HostPauses* pauses = HostPauses::instance();
        auto it = std::find_if(m_pending.begin(), m_pending.end(), [this, pauses](int index) {
            const int host = m_hosts.at(index);
            return m_perHost.at(host) < m_options.maxPerHost &&
                   (m_hostNames.at(host).isEmpty() || !pauses->isPaused(m_hostNames.at(host)));
        });
        if (it == m_pending.end())
            break;
        const int index = *it;
        m_pending.erase(it);
        launch(index);
    }
}

void ImageProbe::launch(int index) {
    const QUrl& url = m_urls.at(index);
    if (url.scheme().compare(QLatin1String("data"), Qt::CaseInsensitive) == 0) {
        QByteArray content;
        ImageProbeResult result;
        if (DataUrl::decode(url.toString(QUrl::FullyEncoded), &content)) {
            result.facts = ImageFacts::read(content, true);
            result.bytes = content.size();
            result.problem = result.facts.problem();
        } else {
            result.problem = NetworkErrorText::invalidDataAddress();
        }
        // Reported from the event loop like every other result.
        QTimer::singleShot(0, this, [this, index, result] { report(index, result); });
        return;
    }
    m_running.insert(index, {});
    ++m_perHost[m_hosts.at(index)];
    fetch(index, HeadBytes, MaxBytes);
}

void ImageProbe::fetch(int index, qint64 rangeBytes, qint64 maxBytes) {
    Running& r = m_running[index];
    r.fetch = new RangedFetch(m_session, m_cookies, m_options, this);
    connect(r.fetch, &RangedFetch::finished, this, [this, index](const RangedFetchResult& f) {
        onFetched(index, f.ok, f.message, f.body, f.totalBytes, f.complete, f.partial, f.bytesMoved);
    });
    RangedFetchRequest request;
    request.url = m_urls.at(index);
    request.referer = m_items.at(index).referer;
    request.rangeBytes = rangeBytes;
    request.maxBytes = maxBytes;
    r.fetch->start(request, [](const QByteArray& body) {
        return ImageFacts::read(body, false).verdict != ImageFacts::Verdict::NeedMore;
    });
}

void ImageProbe::onFetched(int index, bool ok, const QString& message, const QByteArray& body, qint64 total,
                           bool complete, bool partial, qint64 moved) {
    auto it = m_running.find(index);
    if (it == m_running.end())
        return;
    it->fetch->deleteLater();
    it->fetch = nullptr;
    it->moved += moved;
    ImageProbeResult result;
    result.bytesMoved = it->moved;
    if (!ok) {
        result.problem = message;
    } else {
        result.bytes = total;
        result.facts = ImageFacts::read(body, complete);
        // The header runs on past the first range: the rest is asked for once, within MaxBytes in all.
        if (result.facts.verdict == ImageFacts::Verdict::NeedMore && partial && !it->second &&
            it->moved < MaxBytes) {
            it->second = true;
            fetch(index, MaxBytes - it->moved, MaxBytes - it->moved);
            return;
        }
        if (result.facts.verdict == ImageFacts::Verdict::NeedMore)
            result.facts = ImageFacts::read(body, true);
        result.problem = result.facts.problem();
    }
    --m_perHost[m_hosts.at(index)];
    m_running.erase(it);
    report(index, result);
    QTimer::singleShot(0, this, &ImageProbe::pump);
}

void ImageProbe::report(int index, const ImageProbeResult& result) {
    ++m_reported;
    Q_EMIT probed(index, result);
}

void ImageProbeResult::recordIn(tURLData& record) const {
    record.Width = facts.hasSize() ? facts.width : -1;
    record.Height = facts.hasSize() ? facts.height : -1;
    record.Bytes = bytes;
    record.Type = facts.isImage() ? facts.mimeType : QString();
    record.ProbeError = problem;
}
