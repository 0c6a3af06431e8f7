#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QPair>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

class QThread;
class TestHttpServerWorker;

// What the test server answers to one request.
struct TestHttpResponse {
    int status = 200;
    // Extra header lines; Content-Type defaults to "text/html; charset=utf-8" when not given here.
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    // Wait this long before the status line is sent.
    int delayMs = 0;
    // 0 sends the body at once; otherwise it trickles out at about this rate.
    qint64 bytesPerSecond = 0;
    // The Content-Length to announce; -1 announces body.size(). A larger value with a shorter body
    // makes the server close the connection early: a body cut short.
    qint64 declaredLength = -1;
    // False sends no Content-Length: the body then ends when the connection closes.
    bool sendLength = true;
    // Sends the body in chunks (Transfer-Encoding: chunked, no Content-Length); with
    // declaredLength > body.size() the last chunk is never sent: a chunked body cut short.
    bool chunked = false;
    // With a chunked body cut short: the cut comes inside the last chunk sent (its size line
    // announces more than follows) instead of between two chunks.
    bool cutInsideChunk = false;
    // Accept the request and never answer it (the connection stays open until the server stops).
    bool hang = false;

    static TestHttpResponse html(const QByteArray& body);
    static TestHttpResponse withType(const QByteArray& contentType, const QByteArray& body);
    static TestHttpResponse redirect(int status, const QByteArray& location);
    static TestHttpResponse error(int status, const QByteArray& body = QByteArray("error"));
};

struct TestHttpRequest {
    QByteArray method;
    // The request target as sent: path and query.
    QByteArray target;
    // Header names in lower case.
    QHash<QByteArray, QByteArray> headers;
    QByteArray header(const QByteArray& name) const;
};

// A small HTTP/1.1 server on 127.0.0.1 for tests and benchmarks. It runs on a thread of its own, so
// that a test may block (QProcess::waitForFinished, a synchronous call under test) while it serves.
// Routes match the request's path and query first, then the path alone; anything else is 404, or a
// file of the served directory.
class TestHttpServer {
public:
    using Handler = std::function<TestHttpResponse(const TestHttpRequest&)>;

    TestHttpServer();
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    // Listens on 127.0.0.1, or on another loopback address (127.0.0.2 is a second origin); port 0
    // takes a free one.
    bool start(quint16 port = 0, const QString& host = QStringLiteral("127.0.0.1"));
    // The same over TLS (https) on 127.0.0.1, with the certificate and key in these PEM files.
    bool startTls(const QString& certificatePath, const QString& keyPath, quint16 port = 0);
    quint16 port() const;
    // http://HOST:PORT + path (path begins with "/"); https:// for a TLS server.
    QUrl url(const QString& path) const;
    QString urlText(const QString& path) const;

    void route(const QString& target, const TestHttpResponse& response);
    // The handler runs on the server's thread.
    void route(const QString& target, Handler handler);
    void serveDirectory(const QString& directory);

    QList<TestHttpRequest> requests() const;
    // Requests whose target (path and query) is exactly this.
    QList<TestHttpRequest> requestsFor(const QString& target) const;
    // The most requests that were being answered at the same moment.
    int maxConcurrent() const;
    void clearLog();

private:
    friend class TestHttpServerWorker;
    struct Shared {
        mutable QMutex mutex;
        QHash<QString, Handler> routes;
        QString directory;
        QList<TestHttpRequest> log;
        int active = 0;
        int maxActive = 0;
    };
    std::shared_ptr<Shared> m_shared;
    QThread* m_thread = nullptr;
    TestHttpServerWorker* m_worker = nullptr;
    quint16 m_port = 0;
    bool startOn(const QString& host, const QString& certificatePath, const QString& keyPath, quint16 port);

    QString m_host;
    bool m_tls = false;
};
