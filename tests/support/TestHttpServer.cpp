#include "TestHttpServer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QMutexLocker>
#include <QPointer>
#include <QSemaphore>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

TestHttpResponse TestHttpResponse::html(const QByteArray& body) {
    return withType("text/html; charset=utf-8", body);
}

TestHttpResponse TestHttpResponse::withType(const QByteArray& contentType, const QByteArray& body) {
    TestHttpResponse r;
    r.headers.append(qMakePair(QByteArray("Content-Type"), QByteArray(contentType)));
    r.body = body;
    return r;
}

TestHttpResponse TestHttpResponse::redirect(int status, const QByteArray& location) {
    TestHttpResponse r;
    r.status = status;
    r.headers.append(qMakePair(QByteArray("Location"), QByteArray(location)));
    r.headers.append(qMakePair(QByteArray("Content-Type"), QByteArray("text/plain")));
    r.body = "moved";
    return r;
}

TestHttpResponse TestHttpResponse::error(int status, const QByteArray& body) {
    TestHttpResponse r = withType("text/html; charset=utf-8", body);
    r.status = status;
    return r;
}

QByteArray TestHttpRequest::header(const QByteArray& name) const {
    return headers.value(name.toLower());
}

namespace {

QByteArray reasonPhrase(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 205:
        return "Reset Content";
    case 206:
        return "Partial Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 307:
        return "Temporary Redirect";
    case 308:
        return "Permanent Redirect";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

// Hands out connections that speak TLS with the given certificate (Qt 6.4 has no QSslServer).
class TlsTcpServer : public QTcpServer {
public:
    TlsTcpServer(QSslCertificate certificate, QSslKey key, QObject* parent)
        : QTcpServer(parent)
        , m_certificate(std::move(certificate))
        , m_key(std::move(key)) {}

protected:
    void incomingConnection(qintptr descriptor) override {
        auto* socket = new QSslSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        socket->setLocalCertificate(m_certificate);
        socket->setPrivateKey(m_key);
        socket->startServerEncryption();
        addPendingConnection(socket);
    }

private:
    QSslCertificate m_certificate;
    QSslKey m_key;
};

} // namespace

// Lives on the server's thread and owns the listening socket and the connections.
class TestHttpServerWorker : public QObject {
    Q_OBJECT
public:
    explicit TestHttpServerWorker(std::shared_ptr<TestHttpServer::Shared> shared)
        : m_shared(std::move(shared)) {}

    quint16 listen(const QString& host, quint16 port, const QString& certificatePath = {},
                   const QString& keyPath = {}) {
        if (certificatePath.isEmpty()) {
            m_server = new QTcpServer(this);
        } else {
            QFile certificateFile(certificatePath);
            QFile keyFile(keyPath);
            if (!certificateFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly))
                return 0;
            m_server = new TlsTcpServer(QSslCertificate(&certificateFile, QSsl::Pem),
                                        QSslKey(&keyFile, QSsl::Rsa, QSsl::Pem), this);
        }
        if (!m_server->listen(QHostAddress(host), port))
            return 0;
        connect(m_server, &QTcpServer::newConnection, this, &TestHttpServerWorker::accept);
        return m_server->serverPort();
    }

    void shutdown() {
        if (m_server)
            m_server->close();
        const auto sockets = findChildren<QTcpSocket*>();
        for (QTcpSocket* s : sockets)
            s->abort();
    }

private:
    void accept() {
        while (QTcpSocket* socket = m_server->nextPendingConnection()) {
            socket->setParent(this);
            auto buffer = std::make_shared<QByteArray>();
            auto answered = std::make_shared<bool>(false);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket, buffer, answered] {
                buffer->append(socket->readAll());
                if (*answered)
                    return;
                const qsizetype end = buffer->indexOf("\r\n\r\n");
                if (end < 0)
                    return;
                *answered = true;
                handle(socket, buffer->left(end));
            });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    }

    TestHttpServer::Handler findHandler(const QByteArray& target, QString* filePath) {
        QMutexLocker lock(&m_shared->mutex);
        const QString full = QString::fromUtf8(target);
        if (auto it = m_shared->routes.constFind(full); it != m_shared->routes.cend())
            return *it;
        const QString path = full.section(QLatin1Char('?'), 0, 0);
        if (auto it = m_shared->routes.constFind(path); it != m_shared->routes.cend())
            return *it;
        if (!m_shared->directory.isEmpty()) {
            QString rel = QUrl::fromPercentEncoding(path.toUtf8());
            if (rel.endsWith(QLatin1Char('/')))
                rel += QStringLiteral("index.html");
            const QString candidate = QDir::cleanPath(m_shared->directory + rel);
            if (candidate.startsWith(m_shared->directory) && QFileInfo(candidate).isFile())
                *filePath = candidate;
        }
        return {};
    }

    void handle(QTcpSocket* socket, const QByteArray& head) {
        TestHttpRequest request;
        const QList<QByteArray> lines = head.split('\n');
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        request.method = first.value(0);
        request.target = first.value(1);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines[i].trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon > 0)
                request.headers.insert(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
        }
        {
            QMutexLocker lock(&m_shared->mutex);
            m_shared->log.append(request);
            ++m_shared->active;
            m_shared->maxActive = std::max(m_shared->maxActive, m_shared->active);
        }
        auto finished = std::make_shared<bool>(false);
        auto done = [this, finished] {
            if (*finished)
                return;
            *finished = true;
            QMutexLocker lock(&m_shared->mutex);
            --m_shared->active;
        };
        connect(socket, &QTcpSocket::disconnected, this, done);

        QString filePath;
        const TestHttpServer::Handler handler = findHandler(request.target, &filePath);
        TestHttpResponse response;
        if (handler) {
            response = handler(request);
        } else if (!filePath.isEmpty()) {
            QFile file(filePath);
            file.open(QIODevice::ReadOnly);
            QByteArray type = QMimeDatabase().mimeTypeForFile(filePath).name().toUtf8();
            if (type.startsWith("text/"))
                type += "; charset=utf-8";
            response = TestHttpResponse::withType(type, file.readAll());
        } else {
            response = TestHttpResponse::error(404, "<html><body>not found</body></html>");
        }
        if (response.hang)
            return;
        QPointer<QTcpSocket> guarded(socket);
        auto send = [this, guarded, response, done, head = request.method == "HEAD"] {
            if (!guarded)
                return;
            respond(guarded, response, head, done);
        };
        if (response.delayMs > 0)
            QTimer::singleShot(response.delayMs, this, send);
        else
            send();
    }

    void respond(QTcpSocket* socket, const TestHttpResponse& response, bool headOnly,
                 const std::function<void()>& done) {
        QByteArray out =
            "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + reasonPhrase(response.status) + "\r\n";
        bool hasType = false;
        for (const auto& [name, value] : response.headers) {
            hasType = hasType || name.toLower() == "content-type";
            out += name + ": " + value + "\r\n";
        }
        if (!hasType)
            out += "Content-Type: text/html; charset=utf-8\r\n";
        const qint64 declared = response.declaredLength >= 0 ? response.declaredLength : response.body.size();
        if (response.chunked)
            out += "Transfer-Encoding: chunked\r\n";
        else if (response.sendLength)
            out += "Content-Length: " + QByteArray::number(declared) + "\r\n";
        out += "Connection: close\r\n\r\n";
        socket->write(out);
        if (headOnly || response.body.isEmpty()) {
            finish(socket, done);
            return;
        }
        if (response.chunked) {
            const bool cut = declared > response.body.size();
            for (qsizetype at = 0; at < response.body.size(); at += 16384) {
                const QByteArray piece = response.body.mid(at, 16384);
                if (cut && response.cutInsideChunk && at + 16384 >= response.body.size()) {
                    socket->write(QByteArray::number(piece.size() + 1000, 16) + "\r\n" + piece);
                    break;
                }
                socket->write(QByteArray::number(piece.size(), 16) + "\r\n" + piece + "\r\n");
            }
            if (!cut)
                socket->write("0\r\n\r\n");
            finish(socket, done);
            return;
        }
        if (response.bytesPerSecond <= 0) {
            socket->write(response.body);
            finish(socket, done);
            return;
        }
        // Trickle the body out in slices every 50 ms.
        const qint64 slice = std::max<qint64>(1, response.bytesPerSecond / 20);
        auto offset = std::make_shared<qint64>(0);
        auto timer = new QTimer(socket);
        QPointer<QTcpSocket> guarded(socket);
        connect(timer, &QTimer::timeout, socket,
                [this, guarded, timer, offset, slice, body = response.body, done] {
                    if (!guarded)
                        return;
                    guarded->write(body.mid(*offset, slice));
                    *offset += slice;
                    if (*offset >= body.size()) {
                        timer->stop();
                        finish(guarded, done);
                    }
                });
        timer->start(50);
    }

    void finish(QTcpSocket* socket, const std::function<void()>& done) {
        done();
        socket->disconnectFromHost();
    }

    std::shared_ptr<TestHttpServer::Shared> m_shared;
    QTcpServer* m_server = nullptr;
};

TestHttpServer::TestHttpServer()
    : m_shared(std::make_shared<Shared>()) {}

TestHttpServer::~TestHttpServer() {
    if (m_thread) {
        // Close and delete on the server's own thread, before its loop stops, so that nothing that
        // the connections hold outlives the server.
        QMetaObject::invokeMethod(
            m_worker,
            [w = m_worker] {
                w->shutdown();
                delete w;
            },
            Qt::BlockingQueuedConnection);
        m_thread->quit();
        m_thread->wait();
        delete m_thread;
    }
}

bool TestHttpServer::start(quint16 port, const QString& host) {
    return startOn(host, {}, {}, port);
}

bool TestHttpServer::startTls(const QString& certificatePath, const QString& keyPath, quint16 port) {
    return startOn(QStringLiteral("127.0.0.1"), certificatePath, keyPath, port);
}

bool TestHttpServer::startOn(const QString& host, const QString& certificatePath, const QString& keyPath,
                             quint16 port) {
    if (m_thread)
        return m_port != 0;
    m_host = host;
    m_tls = !certificatePath.isEmpty();
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("TestHttpServer"));
    m_worker = new TestHttpServerWorker(m_shared);
    m_worker->moveToThread(m_thread);
    m_thread->start();
    quint16 listening = 0;
    QMetaObject::invokeMethod(
        m_worker, [&] { listening = m_worker->listen(host, port, certificatePath, keyPath); },
        Qt::BlockingQueuedConnection);
    m_port = listening;
    return m_port != 0;
}

quint16 TestHttpServer::port() const {
    return m_port;
}

QUrl TestHttpServer::url(const QString& path) const {
    return QUrl(urlText(path));
}

QString TestHttpServer::urlText(const QString& path) const {
    return QStringLiteral("%1://%2:%3%4").arg(m_tls ? u"https" : u"http").arg(m_host).arg(m_port).arg(path);
}

void TestHttpServer::route(const QString& target, const TestHttpResponse& response) {
    route(target, Handler([response](const TestHttpRequest&) { return response; }));
}

void TestHttpServer::route(const QString& target, Handler handler) {
    QMutexLocker lock(&m_shared->mutex);
    m_shared->routes.insert(target, std::move(handler));
}

void TestHttpServer::serveDirectory(const QString& directory) {
    QMutexLocker lock(&m_shared->mutex);
    m_shared->directory = QDir::cleanPath(QDir(directory).absolutePath());
}

QList<TestHttpRequest> TestHttpServer::requests() const {
    QMutexLocker lock(&m_shared->mutex);
    return m_shared->log;
}

QList<TestHttpRequest> TestHttpServer::requestsFor(const QString& target) const {
    QList<TestHttpRequest> result;
    const QByteArray t = target.toUtf8();
    const auto all = requests();
    for (const TestHttpRequest& r : all)
        if (r.target == t)
            result.append(r);
    return result;
}

int TestHttpServer::maxConcurrent() const {
    QMutexLocker lock(&m_shared->mutex);
    return m_shared->maxActive;
}

void TestHttpServer::clearLog() {
    QMutexLocker lock(&m_shared->mutex);
    m_shared->log.clear();
    m_shared->maxActive = m_shared->active;
}

#include "TestHttpServer.moc"
