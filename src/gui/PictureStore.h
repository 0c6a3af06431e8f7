#pragma once

#include "DownloadTypes.h"
#include "PictureFacts.h"
#include "ThumbnailDiskCache.h"

#include <QCache>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QThreadPool>

#include <deque>
#include <vector>

class CurlSession;
class ImageProbe;
class QNetworkCookieJar;
class QTimer;
struct ImageProbeResult;
struct RangedFetchResult;

// The facts and thumbnails of the data files the window shows, fetched as the views ask for them:
// what is on screen now goes first, what is wanted only for narrowing after it. Facts come from the
// image's first bytes (ImageProbe); a thumbnail needs the whole file (at most MaxThumbnailSource
// bytes), fetched through the downloads' HTTP client with the page as Referer and decoded on a
// worker thread at thumbnail size, within an allocation limit. Thumbnails are kept in memory within
// a budget and on disk (ThumbnailDiskCache). Nothing is asked of a host that asked the process to
// wait (HostPauses) until it is resumed. Changes are announced together, a few times a second.
class PictureStore : public QObject {
    Q_OBJECT
public:
    static constexpr int ThumbnailSize = 128;
    static constexpr qint64 MaxThumbnailSource = 30LL * 1024 * 1024;
    // Thumbnails kept in memory, in bytes: some twenty screens of cells of a large window; the rest
    // come back from disk when scrolled to again.
    static constexpr qint64 MemoryBudget = 32LL * 1024 * 1024;
    // An image that would need more to decode is reported, not decoded.
    static constexpr int DecodeLimitMB = 192;

    explicit PictureStore(const DownloadOptions& options, QObject* parent = nullptr);
    ~PictureStore() override;

    // Thumbnails are kept in cache (none: in memory only).
    void setDiskCache(const ThumbnailDiskCache& cache);

    // Why a file over MaxThumbnailSource has no thumbnail ("30 MB を超えるため縮小表示しません").
    static QString tooLargeText();

    PictureFacts facts(const QString& url) const;
    // The thumbnail in memory; null when there is none yet.
    QImage thumbnail(const QString& url) const;
    // The cell of an image is on screen: its facts, and with a thumbnail, its thumbnail, before
    // anything asked earlier.
    void showing(const QString& url, const QString& referer, bool withThumbnail);
    // The facts of an image are wanted (for narrowing), after what is on screen.
    void wantFacts(const QString& url, const QString& referer);
    // Facts and thumbnails asked for and not arrived yet.
    int pending() const;
    // Forgets the cookies that responses set (the log-ins were cleared); the browser's are read anew
    // at each request.
    void forgetCookies();

    // The largest file a preview fetches.
    static constexpr qint64 MaxPreviewSource = 100LL * 1024 * 1024;
    // The whole picture of an image, decoded no larger than it is nor than bound (kept in its
    // proportions), for a large preview; announced with pictureLoaded.
    void loadPicture(const QString& url, const QString& referer, const QSize& bound);

Q_SIGNALS:
    // A picture asked for with loadPicture: null, with problem saying why, when there is none.
    void pictureLoaded(const QString& url, const QImage& picture, const QString& problem);
    // Facts or thumbnails arrived (announced at most every ChangeDelayMs).
    void changed();

private:
    enum class Thumb { None, Loading, InMemory, OnDisk, Failed, TooLarge };
    struct Entry {
        PictureFacts facts;
        QString referer;
        Thumb thumb = Thumb::None;
        bool wantThumb = false;
        bool diskChecked = false;
        bool probing = false;
        bool diskLoading = false;
        // Waiting in the queue of what narrowing needs.
        bool inBackground = false;
        // The latest request's number: the highest goes first.
        quint64 priority = 0;
    };
    struct Decoded;

    void enqueue(const QString& url, Entry& entry, bool onScreen);
    void pump();
    bool needsWork(const Entry& entry) const;
    void start(const QString& url, Entry& entry);
    void probe(const QString& url, Entry& entry);
    void onProbed(int index, const ImageProbeResult& result);
    void fetchWhole(const QString& url, Entry& entry);
    void onFetched(const QString& url, const RangedFetchResult& result);
    void decode(const QString& url, QByteArray body, qint64 totalBytes);
    void decodePicture(const QString& url, const QByteArray& body, const QSize& bound);
    void onDecoded(const QString& url, const Decoded& decoded);
    void loadFromDisk(const QString& url, Entry& entry);
    void keepThumbnail(const QString& url, Entry& entry, const QImage& image);
    void announce();

    DownloadOptions m_options;
    ThumbnailDiskCache m_disk;
    QHash<QString, Entry> m_entries;
    QCache<QString, QImage> m_thumbnails;
    ImageProbe* m_probe = nullptr;
    QHash<int, QString> m_probeIndex;
    CurlSession* m_session = nullptr;
    QNetworkCookieJar* m_cookies = nullptr;
    QThreadPool m_workers;
    // Requests for what is on screen, the latest last; and those for narrowing, the first first.
    std::vector<std::pair<quint64, QString>> m_onScreen;
    std::deque<QString> m_background;
    // Waiting for their host's pause to end (see HostPauses).
    QSet<QString> m_heldForPause;
    // Request numbers on screen start above 1, the mark of a request for narrowing only.
    quint64 m_requests = 1;
    int m_probesRunning = 0;
    int m_fetchesRunning = 0;
    int m_workRunning = 0;
    int m_savedSinceTrim = 0;
    int m_decodedSinceRelease = 0;
    QTimer* m_announce = nullptr;
    bool m_pumpScheduled = false;
};
