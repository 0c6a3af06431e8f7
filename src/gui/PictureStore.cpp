#include "PictureStore.h"

#include "BatchCookieJar.h"
#include "CurlSession.h"
#include "DataUrl.h"
#include "HostPauses.h"
#include "ImageFacts.h"
#include "ImageProbe.h"
#include "ImageStructure.h"
#include "RangedFetch.h"

#include <QBuffer>
#include <QImageReader>
#include <QPointer>
#include <QTimer>

#include <algorithm>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

// Probes handed to the prober at once: enough to keep every connection busy, few enough that what
// comes on screen later is not stuck behind a long queue.
constexpr int ProbesAtOnce = 12;
// Worker jobs (disk reads, decoding) waiting or running at once.
constexpr int WorkAtOnce = 4;
constexpr int ChangeDelayMs = 100;
// Thumbnails written between two trims of the disk cache.
constexpr int SavesPerTrim = 200;
// Decodes between two returns of freed memory to the system.
constexpr int DecodesPerRelease = 64;

// A thumbnail as kept in memory: three bytes a pixel when it is opaque, premultiplied alpha only
// when it has some. Both draw without loss.
QImage compact(const QImage& image) {
    if (image.isNull())
        return image;
    return image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                         : QImage::Format_RGB888);
}

// Decoding a full-size picture leaves megabytes free but held by the allocator's arenas, one per
// worker thread; they go back to the system here.
void releaseFreedMemory() {
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

} // namespace

struct PictureStore::Decoded {
    QImage thumbnail;
    PictureFacts facts;
    // Why there is no thumbnail.
    QString problem;
    bool tooLarge = false;
};

PictureStore::PictureStore(const DownloadOptions& options, QObject* parent)
    : QObject(parent)
    , m_options(options) {
    m_thumbnails.setMaxCost(MemoryBudget);
    m_probe = new ImageProbe(m_options, this);
    connect(m_probe, &ImageProbe::probed, this, &PictureStore::onProbed);
    m_cookies = new BatchCookieJar(m_options.cookieJar, this);
    m_session = new CurlSession;
    // Decoding takes memory: two at a time, whatever the number of cores.
    m_workers.setMaxThreadCount(2);
    m_announce = new QTimer(this);
    m_announce->setSingleShot(true);
    m_announce->setInterval(ChangeDelayMs);
    connect(m_announce, &QTimer::timeout, this, &PictureStore::changed);
    // What was held back for a host that asked to wait is asked for again once it is resumed.
    connect(HostPauses::instance(), &HostPauses::resumed, this, [this] {
        for (const QString& url : std::exchange(m_heldForPause, {})) {
            Entry& entry = m_entries[url];
            if (needsWork(entry))
                enqueue(url, entry, entry.priority > 1);
        }
    });
}

PictureStore::~PictureStore() {
    // Fetches go with this object (their parent); the session once libcurl has let them go.
    qDeleteAll(findChildren<RangedFetch*>(Qt::FindDirectChildrenOnly));
    m_session->dispose();
    m_workers.clear();
    m_workers.waitForDone();
}

void PictureStore::setDiskCache(const ThumbnailDiskCache& cache) {
    m_disk = cache;
    ++m_workRunning;
    QPointer<PictureStore> self(this);
    m_workers.start([cache, self] {
        cache.trim();
        QMetaObject::invokeMethod(self, [self] {
            if (self) {
                --self->m_workRunning;
                self->pump();
            }
        });
    });
}

QString PictureStore::tooLargeText() {
    return QStringLiteral("%1 を超えるため縮小表示しません").arg(PictureFacts::byteText(MaxThumbnailSource));
}

void PictureStore::forgetCookies() {
    // Fetches under way keep the old jar until they end.
    m_cookies->deleteLater();
    m_cookies = new BatchCookieJar(m_options.cookieJar, this);
}

PictureFacts PictureStore::facts(const QString& url) const {
    const auto found = m_entries.constFind(url);
    return found == m_entries.cend() ? PictureFacts() : found->facts;
}

QImage PictureStore::thumbnail(const QString& url) const {
    const QImage* image = m_thumbnails.object(url);
    return image ? *image : QImage();
}

int PictureStore::pending() const {
    int count = 0;
    for (const Entry& entry : m_entries)
        count += needsWork(entry) || entry.probing || entry.diskLoading || entry.thumb == Thumb::Loading;
    return count;
}

void PictureStore::showing(const QString& url, const QString& referer, bool withThumbnail) {
    Entry& entry = m_entries[url];
    if (entry.referer.isEmpty())
        entry.referer = referer;
    if (withThumbnail) {
        entry.wantThumb = true;
        // Dropped from memory to make room: it comes back from disk.
        if (entry.thumb == Thumb::InMemory && !m_thumbnails.contains(url))
            entry.thumb = Thumb::OnDisk;
    }
    enqueue(url, entry, true);
}

void PictureStore::wantFacts(const QString& url, const QString& referer) {
    Entry& entry = m_entries[url];
    if (entry.referer.isEmpty())
        entry.referer = referer;
    enqueue(url, entry, false);
}

void PictureStore::enqueue(const QString& url, Entry& entry, bool onScreen) {
    if (!needsWork(entry))
        return;
    if (onScreen) {
        entry.priority = ++m_requests;
        m_onScreen.emplace_back(entry.priority, url);
        // A view repaints the same cells often: stale requests are dropped once they pile up.
        if (m_onScreen.size() > 4096) {
            std::erase_if(m_onScreen, [this](const auto& request) {
                const auto found = m_entries.constFind(request.second);
                return found == m_entries.cend() || found->priority != request.first;
            });
        }
    } else if (!entry.inBackground) {
        // Wanted for narrowing: queued again after each step (a disk look-up, then a probe) until
        // it is known, never dropped.
        entry.priority = std::max<quint64>(entry.priority, 1);
        entry.inBackground = true;
        m_background.push_back(url);
    }
    if (!m_pumpScheduled) {
        m_pumpScheduled = true;
        QTimer::singleShot(0, this, [this] {
            m_pumpScheduled = false;
            pump();
        });
    }
}

bool PictureStore::needsWork(const Entry& entry) const {
    if (entry.probing || entry.diskLoading || entry.thumb == Thumb::Loading)
        return false;
    if (entry.facts.state == PictureFacts::State::Unknown)
        return true;
    if (!entry.wantThumb || entry.facts.state == PictureFacts::State::Failed)
        return false;
    return entry.thumb == Thumb::None || entry.thumb == Thumb::OnDisk;
}

void PictureStore::pump() {
    const int fetchLimit = std::max(1, m_options.maxPerHost);
    while (true) {
        const bool roomForProbe = m_probesRunning < ProbesAtOnce;
        const bool roomForFetch = m_fetchesRunning < fetchLimit;
        const bool roomForWork = m_workRunning < WorkAtOnce;
        if (!roomForWork && !roomForProbe)
            return;
        QString url;
        bool background = false;
        if (!m_onScreen.empty()) {
            const auto [priority, next] = m_onScreen.back();
            m_onScreen.pop_back();
            const auto found = m_entries.constFind(next);
            if (found == m_entries.cend() || found->priority != priority)
                continue;
            url = next;
        } else if (!m_background.empty()) {
            url = m_background.front();
            m_background.pop_front();
            background = true;
        } else {
            return;
        }
        Entry& entry = m_entries[url];
        if (background)
            entry.inBackground = false;
        if (!needsWork(entry))
            continue;
        // What the next step needs has no room now: it waits at the head of its queue.
        const bool toDisk = !entry.diskChecked || entry.thumb == Thumb::OnDisk;
        const bool toProbe = !toDisk && entry.facts.state == PictureFacts::State::Unknown;
        // A host that asked to wait holds up neither the connections nor the other hosts.
        if (!toDisk && HostPauses::instance()->isPaused(HostPauses::hostOf(QUrl(url)))) {
            m_heldForPause.insert(url);
            continue;
        }
        if ((toDisk && !roomForWork) || (toProbe && !roomForProbe) ||
            (!toDisk && !toProbe && !roomForFetch)) {
            if (background) {
                entry.inBackground = true;
                m_background.push_front(url);
            } else {
                m_onScreen.emplace_back(entry.priority, url);
            }
            return;
        }
        start(url, entry);
    }
}

void PictureStore::start(const QString& url, Entry& entry) {
    if (!entry.diskChecked || entry.thumb == Thumb::OnDisk) {
        loadFromDisk(url, entry);
        return;
    }
    if (entry.facts.state == PictureFacts::State::Unknown) {
        probe(url, entry);
        return;
    }
    fetchWhole(url, entry);
}

void PictureStore::loadFromDisk(const QString& url, Entry& entry) {
    entry.diskChecked = true;
    entry.diskLoading = true;
    ++m_workRunning;
    QPointer<PictureStore> self(this);
    const ThumbnailDiskCache disk = m_disk;
    m_workers.start([self, disk, url] {
        std::optional<ThumbnailDiskCache::Entry> kept = disk.load(url);
        if (kept)
            kept->thumbnail = compact(kept->thumbnail);
        QMetaObject::invokeMethod(self, [self, url, kept] {
            if (!self)
                return;
            --self->m_workRunning;
            Entry& entry = self->m_entries[url];
            entry.diskLoading = false;
            if (kept) {
                entry.facts = kept->facts;
                self->keepThumbnail(url, entry, kept->thumbnail);
            } else if (entry.thumb == Thumb::OnDisk) {
                // Trimmed away meanwhile: fetched again.
                entry.thumb = Thumb::None;
            }
            if (self->needsWork(entry))
                self->enqueue(url, entry, entry.priority > 1);
            self->announce();
            self->pump();
        });
    });
}

void PictureStore::probe(const QString& url, Entry& entry) {
    entry.probing = true;
    ++m_probesRunning;
    m_probeIndex.insert(m_probe->add({url, entry.referer}), url);
}

void PictureStore::onProbed(int index, const ImageProbeResult& result) {
    const QString url = m_probeIndex.take(index);
    --m_probesRunning;
    Entry& entry = m_entries[url];
    entry.probing = false;
    PictureFacts& facts = entry.facts;
    facts.typeName = result.facts.typeName;
    facts.width = result.facts.hasSize() ? result.facts.width : -1;
    facts.height = result.facts.hasSize() ? result.facts.height : -1;
    facts.bytes = result.bytes;
    facts.problem = result.problem;
    facts.state = result.facts.isImage() ? PictureFacts::State::Known : PictureFacts::State::Failed;
    if (facts.state == PictureFacts::State::Known && facts.bytes > MaxThumbnailSource) {
        entry.thumb = Thumb::TooLarge;
        facts.problem = tooLargeText();
    }
    if (needsWork(entry))
        enqueue(url, entry, entry.priority > 1);
    announce();
    pump();
}

void PictureStore::fetchWhole(const QString& url, Entry& entry) {
    entry.thumb = Thumb::Loading;
    if (url.startsWith(QLatin1String("data:"), Qt::CaseInsensitive)) {
        QByteArray content;
        DataUrl::decode(url, &content);
        decode(url, content, content.size());
        return;
    }
    ++m_fetchesRunning;
    auto* fetch = new RangedFetch(m_session, m_cookies, m_options, this);
    connect(fetch, &RangedFetch::finished, this, [this, fetch, url](const RangedFetchResult& result) {
        fetch->deleteLater();
        --m_fetchesRunning;
        onFetched(url, result);
    });
    RangedFetchRequest request;
    request.url = QUrl(url);
    request.referer = entry.referer;
    // One byte over the limit tells a file that is too large from one that just fits.
    request.maxBytes = MaxThumbnailSource + 1;
    fetch->start(request, [](const QByteArray&) { return false; });
}

void PictureStore::onFetched(const QString& url, const RangedFetchResult& result) {
    Entry& entry = m_entries[url];
    if (!result.ok) {
        entry.thumb = Thumb::Failed;
        entry.facts.problem = result.message;
        if (entry.facts.typeName.isEmpty())
            entry.facts.state = PictureFacts::State::Failed;
        announce();
        pump();
        return;
    }
    if (!result.complete || result.body.size() > MaxThumbnailSource) {
        entry.thumb = Thumb::TooLarge;
        entry.facts.problem = tooLargeText();
        announce();
        pump();
        return;
    }
    decode(url, result.body, result.totalBytes >= 0 ? result.totalBytes : result.body.size());
    pump();
}

void PictureStore::decode(const QString& url, QByteArray body, qint64 totalBytes) {
    ++m_workRunning;
    QPointer<PictureStore> self(this);
    const ThumbnailDiskCache disk = m_disk;
    m_workers.start([self, disk, url, body, totalBytes] {
        Decoded decoded;
        const ImageFacts read = ImageFacts::read(body, true);
        decoded.facts.typeName = read.typeName;
        decoded.facts.bytes = totalBytes;
        if (!read.isImage()) {
            decoded.facts.state = PictureFacts::State::Failed;
            decoded.problem = read.problem();
        } else if (const QString damaged = ImageStructure::problem(body, read.typeName); !damaged.isEmpty()) {
            // The whole file is the better witness: a damaged file is no picture, and is never
            // handed to the image library, which would trust the lengths it claims.
            decoded.facts.state = PictureFacts::State::Failed;
            decoded.problem = damaged;
        } else {
            decoded.facts.state = PictureFacts::State::Known;
            QByteArray data = body;
            QBuffer buffer(&data);
            buffer.open(QIODevice::ReadOnly);
            // Read as the type its content shows, by that type's reader only.
            QImageReader reader(&buffer, read.typeName.toLower().toLatin1());
            reader.setAutoDetectImageFormat(false);
            reader.setAutoTransform(true);
            reader.setAllocationLimit(DecodeLimitMB);
            QSize size = reader.size();
            if (read.hasSize())
                decoded.facts.width = read.width, decoded.facts.height = read.height;
            else if (size.isValid() && ImageFacts::plausible(size.width(), size.height()))
                decoded.facts.width = size.width(), decoded.facts.height = size.height();
            if (size.isValid() && ImageStructure::decodeBytes(body, read.typeName, size.width(),
                                                              size.height()) > qint64(DecodeLimitMB) << 20) {
                // Reported, not decoded: a claimed 60000×60000 would take gigabytes.
                decoded.tooLarge = true;
                decoded.problem = QStringLiteral("画像が大きすぎて縮小表示できません");
            } else {
                if (size.isValid() && (size.width() > ThumbnailSize || size.height() > ThumbnailSize))
                    reader.setScaledSize(size.scaled(ThumbnailSize, ThumbnailSize, Qt::KeepAspectRatio)
                                             .expandedTo(QSize(1, 1)));
                QImage image = reader.read();
                if (image.isNull()) {
                    decoded.problem = QStringLiteral("画像を表示できません: %1").arg(reader.errorString());
                } else {
                    if (image.width() > ThumbnailSize || image.height() > ThumbnailSize)
                        image = image.scaled(ThumbnailSize, ThumbnailSize, Qt::KeepAspectRatio,
                                             Qt::SmoothTransformation);
                    decoded.thumbnail = compact(image);
                    disk.save(url, {decoded.thumbnail, decoded.facts});
                }
            }
        }
        QMetaObject::invokeMethod(self, [self, url, decoded] {
            if (self)
                self->onDecoded(url, decoded);
        });
    });
}

void PictureStore::onDecoded(const QString& url, const Decoded& decoded) {
    --m_workRunning;
    Entry& entry = m_entries[url];
    // The whole file is the better witness: an error page served as an image is no image.
    if (decoded.facts.state == PictureFacts::State::Failed) {
        entry.facts.state = PictureFacts::State::Failed;
        entry.facts.problem = decoded.problem;
        entry.thumb = Thumb::Failed;
    } else {
        entry.facts.state = PictureFacts::State::Known;
        entry.facts.typeName = decoded.facts.typeName;
        if (decoded.facts.hasSize()) {
            entry.facts.width = decoded.facts.width;
            entry.facts.height = decoded.facts.height;
        }
        if (entry.facts.bytes < 0)
            entry.facts.bytes = decoded.facts.bytes;
        if (decoded.thumbnail.isNull()) {
            entry.thumb = decoded.tooLarge ? Thumb::TooLarge : Thumb::Failed;
            entry.facts.problem = decoded.problem;
        } else {
            keepThumbnail(url, entry, decoded.thumbnail);
            if (++m_savedSinceTrim >= SavesPerTrim) {
                m_savedSinceTrim = 0;
                const ThumbnailDiskCache disk = m_disk;
                m_workers.start([disk] { disk.trim(); });
            }
        }
        if (++m_decodedSinceRelease >= DecodesPerRelease) {
            m_decodedSinceRelease = 0;
            m_workers.start(releaseFreedMemory);
        }
    }
    announce();
    pump();
}

void PictureStore::loadPicture(const QString& url, const QString& referer, const QSize& bound) {
    if (url.startsWith(QLatin1String("data:"), Qt::CaseInsensitive)) {
        QByteArray content;
        DataUrl::decode(url, &content);
        decodePicture(url, content, bound);
        return;
    }
    auto* fetch = new RangedFetch(m_session, m_cookies, m_options, this);
    connect(fetch, &RangedFetch::finished, this, [this, fetch, url, bound](const RangedFetchResult& result) {
        fetch->deleteLater();
        if (!result.ok)
            Q_EMIT pictureLoaded(url, {}, result.message);
        else if (!result.complete || result.body.size() > MaxPreviewSource)
            Q_EMIT pictureLoaded(
                url, {},
                QStringLiteral("%1 を超えるため表示しません").arg(PictureFacts::byteText(MaxPreviewSource)));
        else
            decodePicture(url, result.body, bound);
    });
    RangedFetchRequest request;
    request.url = QUrl(url);
    request.referer = referer;
    request.maxBytes = MaxPreviewSource + 1;
    fetch->start(request, [](const QByteArray&) { return false; });
}

void PictureStore::decodePicture(const QString& url, const QByteArray& body, const QSize& bound) {
    QPointer<PictureStore> self(this);
    // Ahead of the thumbnails waiting: a person is looking at it.
    m_workers.start(
        [self, url, body, bound] {
            QByteArray data = body;
            QBuffer buffer(&data);
            buffer.open(QIODevice::ReadOnly);
            QImageReader reader(&buffer);
            reader.setAutoTransform(true);
            reader.setAllocationLimit(DecodeLimitMB);
            const QSize size = reader.size();
            QString problem;
            QImage image;
            if (size.isValid() && qint64(size.width()) * size.height() * 4 > qint64(DecodeLimitMB) << 20) {
                problem = QStringLiteral("画像が大きすぎて表示できません");
            } else {
                if (size.isValid() && (size.width() > bound.width() || size.height() > bound.height()))
                    reader.setScaledSize(size.scaled(bound, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
                image = reader.read();
                if (image.isNull())
                    problem = QStringLiteral("画像を表示できません: %1").arg(reader.errorString());
            }
            QMetaObject::invokeMethod(self, [self, url, image, problem] {
                if (self)
                    Q_EMIT self->pictureLoaded(url, image, problem);
            });
        },
        1);
}

void PictureStore::keepThumbnail(const QString& url, Entry& entry, const QImage& image) {
    entry.thumb = Thumb::InMemory;
    m_thumbnails.insert(url, new QImage(image), std::max<qsizetype>(1, image.sizeInBytes()));
}

void PictureStore::announce() {
    if (!m_announce->isActive())
        m_announce->start();
}
