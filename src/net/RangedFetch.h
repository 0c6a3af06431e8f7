#pragma once

#include "DownloadTypes.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <functional>
#include <memory>

class ContentDecoder;
class CurlSession;
class HttpFetch;
class QNetworkCookieJar;
class QTimer;

// The start of one file, asked for as a byte range.
struct RangedFetchRequest {
    QUrl url;
    // The page the address was found on; sent as Referer by the browser's rules.
    QString referer;
    // Asked as "Range: bytes=0-(rangeBytes - 1)"; 0 asks for the whole file.
    qint64 rangeBytes = 0;
    // The most read when the server sends more than the range (a 200 with the whole file): the
    // stream is cut there.
    qint64 maxBytes = 0;
};

struct RangedFetchResult {
    bool ok = false;
    // Why it failed, in words for the user.
    QString message;
    int httpStatus = 0;
    // The first bytes of the file, content encoding undone.
    QByteArray body;
    // The whole file's size (Content-Range total, or the Content-Length of a whole file); -1 unknown.
    qint64 totalBytes = -1;
    // body is all of the file.
    bool complete = false;
    // The server answered with the range (206): more can be asked for the same way.
    bool partial = false;
    // Bytes of body received as sent, over every try.
    qint64 bytesMoved = 0;
};

// One ranged GET through the downloads' HTTP client (HttpFetch on the caller's CurlSession) and
// with their rules (TransferRules): the cookies and user agent of the downloads, Referer as browsers
// send it, redirects followed by hand (never from https to http), transient failures retried with
// growing waits; a 429 or 503 with Retry-After pauses the host for the whole process (HostPauses),
// and no request goes to a paused host. Reads until enough() says so, or maxBytes, or the end of the file,
// then lets the connection go. Ends with exactly one finished(), from the event loop.
class RangedFetch : public QObject {
    Q_OBJECT
public:
    // Whether the bytes so far answer the caller's question; reading stops once they do.
    using Enough = std::function<bool(const QByteArray& body)>;
    // The pieces in which the body is taken off the connection: the most read past what is needed.
    static constexpr int PieceBytes = 16 * 1024;

    // Requests go through session with the cookies of cookies (may be null).
    RangedFetch(CurlSession* session, QNetworkCookieJar* cookies, const DownloadOptions& options,
                QObject* parent = nullptr);
    ~RangedFetch() override;

    // Starts the fetch; everything is reported later, from the event loop.
    void start(const RangedFetchRequest& request, Enough enough);
    void cancel();

Q_SIGNALS:
    void finished(const RangedFetchResult& result);

private:
    void send();
    void onHeaders();
    void onBody(const char* data, qint64 size);
    void onFetchFinished();
    bool checkResponse();
    bool take(const char* data, qint64 size);
    void retryOrFail(const QString& message, bool transient, qint64 retryAfter = -1);
    // Sends the request for m_current after waitMs.
    void sendLater(qint64 waitMs);
    void succeed(bool complete);
    void finish();
    void dropFetch();

    QPointer<CurlSession> m_session;
    QPointer<QNetworkCookieJar> m_cookies;
    DownloadOptions m_options;
    RangedFetchRequest m_request;
    Enough m_enough;
    QUrl m_current;
    QPointer<HttpFetch> m_fetch;
    std::unique_ptr<ContentDecoder> m_decoder;
    QTimer* m_retryTimer = nullptr;
    RangedFetchResult m_result;
    qint64 m_responseBytes = 0;
    int m_redirects = 0;
    int m_retriesDone = 0;
    bool m_statusChecked = false;
    bool m_skipBody = false;
    bool m_finished = false;
};
