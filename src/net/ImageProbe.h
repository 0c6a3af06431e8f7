#pragma once

#include "DownloadTypes.h"
#include "ImageFacts.h"
#include "tURLData.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <deque>

class BatchCookieJar;
class CurlSession;
class RangedFetch;

// One image to look at: its address and the page it was found on (sent as Referer).
struct ImageProbeItem {
    QString url;
    QString referer;
};

struct ImageProbeResult {
    // What the first bytes say (type, pixel size); NeedMore when nothing could be fetched.
    ImageFacts facts;
    // The whole file's size in bytes; -1 when the server did not say.
    qint64 bytes = -1;
    // Why the type and size are not both known (a network failure, "画像ではありません"); empty when
    // they are.
    QString problem;
    // Body bytes received for this image.
    qint64 bytesMoved = 0;

    // Writes these facts into the image's record (its Width, Height, Bytes, Type and ProbeError).
    void recordIn(tURLData& record) const;
};

// Reads the facts of images from their first bytes, several at once, without blocking the thread's
// event loop: each is asked for its first HeadBytes as a byte range, and for more, up to MaxBytes
// in all, only when its header runs on (a JPEG with a long Exif segment); a server that sends the
// whole file is read only as far as the header. Requests go through the downloads' HTTP client and
// rules (see RangedFetch), on one CurlSession that shares connections between the probes, and within
// the downloads' limits: at most maxPerHost at a time to one host, parallel in all, and none to a
// host that asked the process to wait (HostPauses).
// data: addresses are read without a fetch. Items may be added while others run.
class ImageProbe : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 HeadBytes = 64 * 1024;
    static constexpr qint64 MaxBytes = 1024 * 1024;

    explicit ImageProbe(const DownloadOptions& options, QObject* parent = nullptr);
    ~ImageProbe() override;

    // Queues an image; its result comes with probed(index), index counting from 0 in the order added.
    int add(const ImageProbeItem& item);
    // Drops the images still waiting and stops those running; each is reported, as cancelled.
    void cancel();
    // Images added and not reported yet.
    int outstanding() const;

Q_SIGNALS:
    void probed(int index, const ImageProbeResult& result);

private:
    struct Running {
        RangedFetch* fetch = nullptr;
        qint64 moved = 0;
        bool second = false;
    };

    void pump();
    void launch(int index);
    void fetch(int index, qint64 rangeBytes, qint64 maxBytes);
    void onFetched(int index, bool ok, const QString& message, const QByteArray& body, qint64 total,
                   bool complete, bool partial, qint64 moved);
    void report(int index, const ImageProbeResult& result);

    DownloadOptions m_options;
    CurlSession* m_session = nullptr;
    BatchCookieJar* m_cookies = nullptr;
    QList<ImageProbeItem> m_items;
    // Each item's address, and its host as a number (an index into m_perHost).
    QList<QUrl> m_urls;
    QList<int> m_hosts;
    QHash<QString, int> m_hostNumbers;
    // Running probes, and the host's name, by host number.
    QList<int> m_perHost;
    QStringList m_hostNames;
    std::deque<int> m_pending;
    QHash<int, Running> m_running;
    int m_reported = 0;
    bool m_pumpScheduled = false;
};
