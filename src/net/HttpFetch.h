#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QNetworkReply>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QUrl>

typedef void CURL;

class CurlSession;
class QNetworkCookieJar;
class QTimer;

// What one HTTP request sends, besides what every request of ours sends: the body as it is
// (Accept-Encoding: identity) and Qt's Accept-Language.
struct HttpRequest {
    QUrl url;
    // The page that names the address: the Referer follows from it as browsers send it
    // (strict-origin-when-cross-origin). May be empty.
    QUrl page;
    // Empty sends "Mozilla/5.0", as Qt does.
    QByteArray userAgent;
    // Cookies sent with the request, and where those that the response sets go (may be null).
    QPointer<QNetworkCookieJar> cookies;
    // More header lines (Range, If-Range...).
    QList<QPair<QByteArray, QByteArray>> headers;
    // Nothing received for this long ends the request with a time-out (0: never).
    int inactivityTimeoutMs = 0;
    // The most that one bodyData() hands over (libcurl's receive buffer, at least 1 KiB); 0 takes
    // large pieces for speed. A caller that reads only a file's start asks for small ones, so that
    // little more than it needs is taken off the connection.
    int pieceBytes = 0;
};

// One HTTP(S) request through a CurlSession, from the event loop: it follows no redirect and
// decodes no body, so the caller sees each response as the server sent it. libcurl reports a body
// that ends before its length or before its last chunk, and honours the usual proxy variables.
// headersReceived() comes once the final response's header is complete, bodyData() with each piece
// of its body, finished() once at the end unless the request was aborted. Nothing about it may be
// deleted from within its signals; abort() and deleteLater() may be called from anywhere.
class HttpFetch : public QObject {
    Q_OBJECT
public:
    HttpFetch(CurlSession* session, const HttpRequest& request, QObject* parent = nullptr);
    ~HttpFetch() override;

    void start();
    // Stops the request; finished() does not come.
    void abort();

    // The address as fetched (an http address that HSTS made https is https here).
    QUrl url() const;
    int status() const;
    QByteArray reasonPhrase() const;
    // A header of the final response; repeated ones joined with ", " (as Qt joins them).
    QByteArray header(const QByteArray& name) const;
    // Content-Length; -1 when the body is chunked or has no length.
    qint64 declaredLength() const;
    // Bytes of the body received, as sent.
    qint64 bodyBytes() const;
    // NoError when the whole response arrived; otherwise what went wrong, as Qt names it.
    QNetworkReply::NetworkError error() const;
    QString errorString() const;

Q_SIGNALS:
    void headersReceived();
    void bodyData(const char* data, qint64 size);
    void finished();

private:
    friend class CurlSession;
    static size_t onHeader(char* data, size_t size, size_t count, void* fetch);
    static size_t onBody(char* data, size_t size, size_t count, void* fetch);
    void headerLine(const QByteArray& line);
    void headerComplete();
    void transferEnded(int curlCode);
    void checkActivity();
    void end(QNetworkReply::NetworkError error, const QString& text);
    void releaseHandle();

    QPointer<CurlSession> m_session;
    HttpRequest m_request;
    CURL* m_handle = nullptr;
    QTimer* m_watchdog = nullptr;
    QElapsedTimer m_lastActivity;
    QUrl m_url;
    int m_status = 0;
    QByteArray m_reason;
    QList<QPair<QByteArray, QByteArray>> m_headers;
    bool m_headerDone = false;
    qint64 m_bodyBytes = 0;
    QNetworkReply::NetworkError m_error = QNetworkReply::NoError;
    QString m_errorString;
    bool m_running = false;
    char m_errorBuffer[256] = {};
};
