#include "HttpFetch.h"

#include "CurlSession.h"
#include "RefererPolicy.h"

#include <QLocale>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QTimer>

#include <curl/curl.h>

namespace {

// Larger pieces than libcurl's 16 KiB: fewer calls per byte on a fast connection.
constexpr long ReceiveBufferBytes = 256 * 1024;

QNetworkReply::NetworkError errorFor(CURLcode code) {
    switch (code) {
    case CURLE_OK:
        return QNetworkReply::NoError;
    case CURLE_COULDNT_CONNECT:
        return QNetworkReply::ConnectionRefusedError;
    case CURLE_COULDNT_RESOLVE_HOST:
        return QNetworkReply::HostNotFoundError;
    case CURLE_COULDNT_RESOLVE_PROXY:
        return QNetworkReply::ProxyNotFoundError;
    case CURLE_PROXY:
        return QNetworkReply::ProxyConnectionRefusedError;
    case CURLE_OPERATION_TIMEDOUT:
        return QNetworkReply::TimeoutError;
    // The connection ended before the response did: before its declared length, before its last
    // chunk, or before anything came at all.
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
        return QNetworkReply::RemoteHostClosedError;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_INVALIDCERTSTATUS:
        return QNetworkReply::SslHandshakeFailedError;
    case CURLE_UNSUPPORTED_PROTOCOL:
        return QNetworkReply::ProtocolUnknownError;
    case CURLE_URL_MALFORMAT:
        return QNetworkReply::ProtocolInvalidOperationError;
    default:
        return QNetworkReply::UnknownNetworkError;
    }
}

// The Accept-Language that Qt sends: the system's language, then English, then anything.
QByteArray acceptLanguage() {
    QString locale = QLocale::system().name();
    if (locale == u"C")
        return "en,*";
    locale.replace(u'_', u'-');
    if (locale.startsWith(u"en-"))
        return locale.toLatin1() + ",*";
    return locale.toLatin1() + ",en,*";
}

curl_slist* appendHeader(curl_slist* list, const QByteArray& name, const QByteArray& value) {
    const QByteArray line = name + ": " + value;
    curl_slist* longer = curl_slist_append(list, line.constData());
    return longer ? longer : list;
}

} // namespace

HttpFetch::HttpFetch(CurlSession* session, const HttpRequest& request, QObject* parent)
    : QObject(parent)
    , m_session(session)
    , m_request(request)
    , m_url(request.url) {}

HttpFetch::~HttpFetch() {
    releaseHandle();
}

void HttpFetch::start() {
    if (m_running || m_handle)
        return;
    m_handle = m_session ? m_session->createHandle(m_url.scheme().compare(u"https", Qt::CaseInsensitive) == 0)
                         : nullptr;
    if (!m_handle) {
        QTimer::singleShot(0, this,
                           [this] { end(QNetworkReply::UnknownNetworkError, QStringLiteral("libcurl")); });
        return;
    }
    const QByteArray address = m_url.toEncoded();
    curl_easy_setopt(m_handle, CURLOPT_URL, address.constData());
#if LIBCURL_VERSION_NUM >= 0x075500
    curl_easy_setopt(m_handle, CURLOPT_PROTOCOLS_STR, "http,https");
#else
    // libcurl before 7.85 (Ubuntu 22.04 has 7.81) names the protocols by bit.
    curl_easy_setopt(m_handle, CURLOPT_PROTOCOLS, long(CURLPROTO_HTTP | CURLPROTO_HTTPS));
#endif
    curl_easy_setopt(m_handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(m_handle, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(m_handle, CURLOPT_BUFFERSIZE,
                     m_request.pieceBytes > 0 ? std::max(1024L, long(m_request.pieceBytes))
                                              : ReceiveBufferBytes);
    curl_easy_setopt(m_handle, CURLOPT_ERRORBUFFER, m_errorBuffer);
    curl_easy_setopt(m_handle, CURLOPT_PRIVATE, this);
    curl_easy_setopt(m_handle, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(m_handle, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(m_handle, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(m_handle, CURLOPT_WRITEDATA, this);
    const QByteArray agent = m_request.userAgent.isEmpty() ? QByteArray("Mozilla/5.0") : m_request.userAgent;
    curl_easy_setopt(m_handle, CURLOPT_USERAGENT, agent.constData());

    curl_slist* headers = nullptr;
    // The file as it is, as wget and curl ask for it: its length can then always be checked.
    headers = appendHeader(headers, "Accept-Encoding", "identity");
    headers = appendHeader(headers, "Accept-Language", acceptLanguage());
    const QByteArray referer = RefererPolicy::refererFor(m_request.page, m_url);
    if (!referer.isEmpty())
        headers = appendHeader(headers, "Referer", referer);
    if (m_request.cookies) {
        QByteArray cookie;
        const QList<QNetworkCookie> cookies = m_request.cookies->cookiesForUrl(m_url);
        for (const QNetworkCookie& one : cookies)
            cookie += (cookie.isEmpty() ? "" : "; ") + one.toRawForm(QNetworkCookie::NameAndValueOnly);
        if (!cookie.isEmpty())
            headers = appendHeader(headers, "Cookie", cookie);
    }
    for (const auto& [name, value] : std::as_const(m_request.headers))
        headers = appendHeader(headers, name, value);
    curl_easy_setopt(m_handle, CURLOPT_HTTPHEADER, headers);

    if (!m_session->add(m_handle, headers)) {
        QTimer::singleShot(0, this,
                           [this] { end(QNetworkReply::UnknownNetworkError, QStringLiteral("libcurl")); });
        return;
    }
    m_running = true;
    m_lastActivity.start();
    if (m_request.inactivityTimeoutMs > 0) {
        m_watchdog = new QTimer(this);
        connect(m_watchdog, &QTimer::timeout, this, &HttpFetch::checkActivity);
        m_watchdog->start(std::clamp(m_request.inactivityTimeoutMs / 4, 10, 1000));
    }
}

void HttpFetch::abort() {
    m_running = false;
    if (m_watchdog)
        m_watchdog->stop();
    releaseHandle();
}

void HttpFetch::releaseHandle() {
    if (m_handle && m_session)
        m_session->release(m_handle);
    m_handle = nullptr;
}

QUrl HttpFetch::url() const {
    return m_url;
}

int HttpFetch::status() const {
    return m_status;
}

QByteArray HttpFetch::reasonPhrase() const {
    return m_reason;
}

QByteArray HttpFetch::header(const QByteArray& name) const {
    QByteArray joined;
    bool found = false;
    for (const auto& [key, value] : m_headers) {
        if (key.compare(name, Qt::CaseInsensitive) != 0)
            continue;
        if (found)
            joined += ", ";
        joined += value;
        found = true;
    }
    return joined;
}

qint64 HttpFetch::declaredLength() const {
    if (header("Transfer-Encoding").toLower().contains("chunked"))
        return -1;
    bool ok = false;
    const qint64 length = header("Content-Length").trimmed().toLongLong(&ok);
    return ok && length >= 0 ? length : -1;
}

qint64 HttpFetch::bodyBytes() const {
    return m_bodyBytes;
}

QNetworkReply::NetworkError HttpFetch::error() const {
    return m_error;
}

QString HttpFetch::errorString() const {
    return m_errorString;
}

size_t HttpFetch::onHeader(char* data, size_t size, size_t count, void* fetch) {
    auto* self = static_cast<HttpFetch*>(fetch);
    const size_t total = size * count;
    if (!self || !self->m_running)
        return 0;
    self->m_lastActivity.start();
    self->headerLine(QByteArray(data, static_cast<qsizetype>(total)));
    return self->m_running ? total : 0;
}

size_t HttpFetch::onBody(char* data, size_t size, size_t count, void* fetch) {
    auto* self = static_cast<HttpFetch*>(fetch);
    const size_t total = size * count;
    if (!self || !self->m_running)
        return CURL_WRITEFUNC_ERROR;
    self->m_lastActivity.start();
    if (!self->m_headerDone) {
        self->headerComplete();
        if (!self->m_running)
            return CURL_WRITEFUNC_ERROR;
    }
    self->m_bodyBytes += static_cast<qint64>(total);
    Q_EMIT self->bodyData(data, static_cast<qint64>(total));
    return self->m_running ? total : CURL_WRITEFUNC_ERROR;
}

void HttpFetch::headerLine(const QByteArray& line) {
    const QByteArray text = line.trimmed();
    if (line.startsWith("HTTP/")) {
        // A new response: an interim one (100, 103) is followed by the real one.
        m_headers.clear();
        m_headerDone = false;
        const QList<QByteArray> parts = text.split(' ');
        m_status = parts.size() > 1 ? parts[1].toInt() : 0;
        const qsizetype reasonAt = text.indexOf(' ', text.indexOf(' ') + 1);
        m_reason = reasonAt > 0 ? text.mid(reasonAt + 1) : QByteArray();
        return;
    }
    if (text.isEmpty()) {
        if (m_status >= 200 && !m_headerDone)
            headerComplete();
        return;
    }
    if ((line.startsWith(' ') || line.startsWith('\t')) && !m_headers.isEmpty()) {
        m_headers.last().second += ' ' + text; // a folded line continues the last header
        return;
    }
    const qsizetype colon = text.indexOf(':');
    if (colon > 0)
        m_headers.append(qMakePair(text.left(colon).trimmed(), text.mid(colon + 1).trimmed()));
}

void HttpFetch::headerComplete() {
    m_headerDone = true;
    char* effective = nullptr;
    if (curl_easy_getinfo(m_handle, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective)
        m_url = QUrl::fromEncoded(effective);
    if (m_request.cookies) {
        for (const auto& [name, value] : std::as_const(m_headers)) {
            if (name.compare("Set-Cookie", Qt::CaseInsensitive) == 0)
                m_request.cookies->setCookiesFromUrl(QNetworkCookie::parseCookies(value), m_url);
        }
    }
    Q_EMIT headersReceived();
}

void HttpFetch::checkActivity() {
    if (m_running && m_lastActivity.elapsed() >= m_request.inactivityTimeoutMs)
        end(QNetworkReply::TimeoutError,
            QStringLiteral("no data for %1 ms").arg(m_request.inactivityTimeoutMs));
}

void HttpFetch::transferEnded(int curlCode) {
    const auto code = static_cast<CURLcode>(curlCode);
    QString text;
    if (code != CURLE_OK)
        text = QString::fromUtf8(m_errorBuffer[0] ? m_errorBuffer : curl_easy_strerror(code));
    end(errorFor(code), text);
}

void HttpFetch::end(QNetworkReply::NetworkError error, const QString& text) {
    m_running = false;
    if (m_watchdog)
        m_watchdog->stop();
    releaseHandle();
    m_error = error;
    m_errorString = text;
    Q_EMIT finished();
}
