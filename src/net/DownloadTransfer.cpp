#include "DownloadTransfer.h"

#include "AddressInput.h"
#include "ContentDecoder.h"
#include "DataUrl.h"
#include "LocalFileName.h"
#include "NetworkErrorText.h"
#include "RefererPolicy.h"
#include "ReservedFile.h"
#include "UniqueFileReservation.h"

#include <QDateTime>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

namespace {

// How much of a body Qt may hold before we write it out; the rest waits in the socket.
constexpr qint64 ReadBufferBytes = 512 * 1024;

bool isHttp(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return scheme == u"http" || scheme == u"https";
}

bool isRedirectStatus(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Failures that a second try may well not meet: the server or the way to it was busy or broke.
bool isTransient(QNetworkReply::NetworkError error, int status) {
    switch (status) {
    case 408:
    case 429:
    case 500:
    case 502:
    case 503:
    case 504:
        return true;
    default:
        break;
    }
    if (status >= 400)
        return false;
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError: // the transfer time-out; our own cancel never gets here
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::UnknownNetworkError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyTimeoutError:
        return true;
    default:
        return false;
    }
}

// Retry-After in seconds (a number, or a date from now); -1 when absent or unreadable.
qint64 retryAfterSeconds(const QNetworkReply* reply) {
    const QByteArray value = reply->rawHeader("Retry-After").trimmed();
    if (value.isEmpty())
        return -1;
    bool ok = false;
    const qint64 seconds = value.toLongLong(&ok);
    if (ok)
        return std::max<qint64>(0, seconds);
    const QDateTime when = QDateTime::fromString(QString::fromLatin1(value), Qt::RFC2822Date);
    if (!when.isValid())
        return -1;
    return std::max<qint64>(0, QDateTime::currentDateTimeUtc().secsTo(when));
}

// "bytes FIRST-LAST/TOTAL": FIRST, and TOTAL (-1 for "*"). False when it cannot be read.
bool parseContentRange(const QByteArray& value, qint64* first, qint64* total) {
    const QByteArray text = value.trimmed();
    if (!text.startsWith("bytes "))
        return false;
    const QByteArray range = text.mid(6).trimmed();
    const qsizetype dash = range.indexOf('-');
    const qsizetype slash = range.indexOf('/');
    if (dash <= 0 || slash <= dash)
        return false;
    bool ok = false;
    *first = range.left(dash).toLongLong(&ok);
    if (!ok)
        return false;
    const QByteArray whole = range.mid(slash + 1);
    if (whole == "*") {
        *total = -1;
        return true;
    }
    *total = whole.toLongLong(&ok);
    return ok;
}

} // namespace

DownloadTransfer::DownloadTransfer(const DownloadItem& item, const DownloadOptions& options,
                                   QNetworkAccessManager* network, UniqueFileReservation* folder,
                                   QObject* parent)
    : QObject(parent)
    , m_item(item)
    , m_options(options)
    , m_network(network)
    , m_folder(folder) {}

DownloadTransfer::~DownloadTransfer() {
    dropReply();
    if (!m_finished && !m_claimedName.isEmpty())
        m_folder->release(m_claimedName);
}

void DownloadTransfer::start() {
    m_current = m_item.address.isValid() ? m_item.address : AddressInput::asWritten(m_item.url);
    QTimer::singleShot(0, this, &DownloadTransfer::begin);
}

void DownloadTransfer::begin() {
    if (m_finished)
        return;
    if (!m_current.isValid() || m_current.scheme().isEmpty()) {
        fail(NetworkErrorText::invalidAddress(m_item.url));
        return;
    }
    const QString scheme = m_current.scheme().toLower();
    if (scheme != u"data" && !isHttp(m_current)) {
        fail(NetworkErrorText::unsupportedScheme(scheme));
        return;
    }
    if (scheme != u"data" && m_current.host().isEmpty()) {
        fail(NetworkErrorText::invalidAddress(m_item.url));
        return;
    }
    // Nothing is fetched that could not be kept.
    QString error;
    m_file = m_folder->createFile(&error);
    if (!m_file) {
        fail(error);
        return;
    }
    // A name chosen by the caller is claimed before anything is fetched.
    if (!m_item.fileName.isEmpty()) {
        m_wantedName = m_item.fileName;
        Q_EMIT nameWanted(m_wantedName);
        if (m_finished)
            return;
    }
    if (scheme == u"data") {
        saveDataAddress();
        return;
    }
    sendRequest(m_current);
}

void DownloadTransfer::saveDataAddress() {
    QByteArray content;
    const QString text =
        m_item.address.isValid() ? m_item.address.toString(QUrl::FullyEncoded) : m_item.url.trimmed();
    if (!DataUrl::decode(text, &content)) {
        fail(NetworkErrorText::invalidDataAddress());
        return;
    }
    if (!writeBody(content.constData(), content.size()))
        return;
    Q_EMIT received(content.size());
    if (m_wantedName.isEmpty()) {
        m_wantedName = LocalFileName(m_item.url, m_item.charset);
        Q_EMIT nameWanted(m_wantedName);
    }
    completeBody();
}

void DownloadTransfer::sendRequest(const QUrl& url) {
    if (!m_network) {
        fail(NetworkErrorText::cancelled(), DownloadResult::Status::Cancelled);
        return;
    }
    m_current = url;
    m_statusChecked = false;
    m_skipBody = false;
    m_responseBytes = 0;
    m_decoder.reset();
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    // The file as it is, as wget and curl ask for it: its length can then always be checked. (Set by
    // hand, it also keeps Qt from decoding a body behind our back.)
    request.setRawHeader("Accept-Encoding", "identity");
    if (m_options.inactivityTimeoutMs > 0)
        request.setTransferTimeout(m_options.inactivityTimeoutMs);
    if (!m_options.userAgent.isEmpty())
        request.setHeader(QNetworkRequest::UserAgentHeader, QString::fromUtf8(m_options.userAgent));
    const QByteArray referer = RefererPolicy::refererFor(QUrl(m_item.referer), url);
    if (!referer.isEmpty())
        request.setRawHeader("Referer", referer);
    if (m_resumeFrom > 0) {
        request.setRawHeader("Range", "bytes=" + QByteArray::number(m_resumeFrom) + '-');
        request.setRawHeader("If-Range", m_validator);
    }
    m_reply = m_network->get(request);
    m_reply->setReadBufferSize(ReadBufferBytes);
    connect(m_reply, &QNetworkReply::readyRead, this, &DownloadTransfer::onReadyRead);
    connect(m_reply, &QNetworkReply::finished, this, &DownloadTransfer::onReplyFinished);
}

// Decides once per response whether its body is the file. False when the transfer has ended.
bool DownloadTransfer::checkResponse() {
    if (m_statusChecked)
        return true;
    m_statusChecked = true;
    QNetworkReply* reply = m_reply;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    // Neither the body of a redirect nor an error page is the file; the reply's end decides.
    if (isRedirectStatus(status) || status >= 400 || reply->error() != QNetworkReply::NoError) {
        m_skipBody = true;
        return true;
    }
    if (status == 206) {
        qint64 first = -1;
        qint64 total = -1;
        const QByteArray range = reply->rawHeader("Content-Range");
        if (m_resumeFrom <= 0) {
            fail(NetworkErrorText::unaskedPartialContent());
            return false;
        }
        if (!parseContentRange(range, &first, &total) || first != m_resumeFrom ||
            (m_expectedTotal >= 0 && total >= 0 && total != m_expectedTotal)) {
            fail(NetworkErrorText::badContentRange(range));
            return false;
        }
        if (total >= 0)
            m_expectedTotal = total;
    } else if (status == 200 || status == 203) {
        // The whole file again (a server that ignored or refused the range): start over.
        if (m_file->bytesWritten() > 0) {
            QString error;
            if (!m_file->truncate(&error)) {
                fail(error);
                return false;
            }
        }
        m_resumeFrom = 0;
        m_expectedTotal = -1;
    } else {
        // 204, 205, any other 2xx, and a 3xx that sends nowhere carry no file.
        fail(status >= 300 && status < 400 ? NetworkErrorText::redirectWithoutTarget(status)
                                           : NetworkErrorText::noFileInResponse(status));
        return false;
    }
    const QByteArray encoding = reply->rawHeader("Content-Encoding").trimmed().toLower();
    if (!encoding.isEmpty() && encoding != "identity") {
        m_decoder = ContentDecoder::create(encoding);
        if (!m_decoder) {
            fail(NetworkErrorText::unsupportedEncoding(encoding));
            return false;
        }
    }
    // What a retry needs to ask for the rest instead of the whole: ranges in bytes, and a strong
    // validator that tells the server which version we have.
    m_acceptsRanges = reply->rawHeader("Accept-Ranges").toLower().contains("bytes") && !m_decoder;
    const QByteArray etag = reply->rawHeader("ETag").trimmed();
    m_validator =
        !etag.isEmpty() && !etag.startsWith("W/") ? etag : reply->rawHeader("Last-Modified").trimmed();
    if (status != 206 && !m_decoder) {
        const QVariant declared = reply->header(QNetworkRequest::ContentLengthHeader);
        m_expectedTotal = declared.isValid() ? declared.toLongLong() : -1;
    }
    if (m_wantedName.isEmpty()) {
        decideName(reply);
        if (m_finished)
            return false;
    }
    return true;
}

void DownloadTransfer::decideName(const QNetworkReply* reply) {
    const QString type = reply->header(QNetworkRequest::ContentTypeHeader).toString();
    QString name =
        LocalFileNames::fromContentDisposition(reply->rawHeader("Content-Disposition"), type, m_item.charset);
    if (name.isEmpty())
        name = LocalFileName(m_item.url, m_item.charset);
    m_wantedName = LocalFileNames::withTypeExtension(name, type);
    Q_EMIT nameWanted(m_wantedName);
}

void DownloadTransfer::onReadyRead() {
    if (!m_reply || m_finished)
        return;
    if (!checkResponse())
        return;
    if (m_skipBody) {
        m_reply->skip(m_reply->bytesAvailable());
        return;
    }
    writeAvailable();
}

bool DownloadTransfer::writeAvailable() {
    char buffer[64 * 1024];
    while (m_reply && m_reply->bytesAvailable() > 0) {
        const qint64 n = m_reply->read(buffer, sizeof buffer);
        if (n <= 0)
            break;
        m_responseBytes += n;
        Q_EMIT received(n);
        if (m_decoder) {
            QString error;
            const bool decoded = m_decoder->decode(
                buffer, n, [this](const char* data, qint64 size) { return writeBody(data, size); }, &error);
            if (m_finished)
                return false;
            if (!decoded) {
                fail(error);
                return false;
            }
        } else if (!writeBody(buffer, n)) {
            return false;
        }
    }
    return true;
}

bool DownloadTransfer::writeBody(const char* data, qint64 size) {
    QString error;
    if (!m_file->write(data, size, &error)) {
        fail(error);
        return false;
    }
    return true;
}

void DownloadTransfer::onReplyFinished() {
    if (!m_reply || m_finished)
        return;
    if (!checkResponse())
        return;
    QNetworkReply* reply = m_reply;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() == QNetworkReply::NoError && isRedirectStatus(status)) {
        const QUrl location = reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
        dropReply();
        followRedirect(status, location);
        return;
    }
    if (reply->error() != QNetworkReply::NoError || status >= 400) {
        const QString message = NetworkErrorText::forReply(reply);
        const bool transient = isTransient(reply->error(), status);
        const qint64 wait = retryAfterSeconds(reply);
        if (!m_skipBody)
            writeAvailable(); // what arrived before the connection broke may be resumed from
        if (m_finished)
            return;
        retryOrFail(message, transient, wait);
        return;
    }
    if (!writeAvailable())
        return;
    // Qt takes a connection closed before the declared length for the end of the body and reports
    // no error, so the length is checked here: the bytes as sent, compressed or not.
    const QVariant declared = reply->header(QNetworkRequest::ContentLengthHeader);
    if (declared.isValid() && m_responseBytes != declared.toLongLong()) {
        retryOrFail(NetworkErrorText::bodyCutShort(m_responseBytes, declared.toLongLong()), true);
        return;
    }
    if (m_decoder && !m_decoder->isComplete()) {
        retryOrFail(NetworkErrorText::compressedBodyCutShort(), true);
        return;
    }
    if (!m_decoder && m_expectedTotal >= 0 && m_file->bytesWritten() != m_expectedTotal) {
        retryOrFail(NetworkErrorText::bodyCutShort(m_file->bytesWritten(), m_expectedTotal), true);
        return;
    }
    dropReply();
    completeBody();
}

void DownloadTransfer::followRedirect(int status, const QUrl& location) {
    if (!location.isValid() || location.isEmpty()) {
        fail(NetworkErrorText::redirectWithoutTarget(status));
        return;
    }
    const QUrl target = m_current.resolved(location);
    if (!isHttp(target) || target.host().isEmpty()) {
        fail(NetworkErrorText::redirectToUnsupportedScheme(target));
        return;
    }
    if (m_current.scheme().toLower() == u"https" && target.scheme().toLower() == u"http") {
        fail(NetworkErrorText::insecureRedirect(target));
        return;
    }
    // A redirect back to an address already seen is no loop by itself: a site that sets a cookie
    // and sends the client back is common. Only the number of hops is limited, as in browsers.
    if (++m_redirects > MaxRedirects) {
        fail(NetworkErrorText::tooManyRedirects(MaxRedirects));
        return;
    }
    sendRequest(target);
}

void DownloadTransfer::retryOrFail(const QString& message, bool transient, qint64 retryAfter) {
    dropReply();
    if (!transient || m_retriesDone >= m_options.retries) {
        fail(message);
        return;
    }
    if (retryAfter > m_options.maxRetryAfterSeconds) {
        fail(message + QStringLiteral("。") + NetworkErrorText::retryAfterTooLong(retryAfter));
        return;
    }
    const qint64 waitMs =
        retryAfter >= 0 ? retryAfter * 1000 : qint64(m_options.retryDelayMs) << std::min(m_retriesDone, 16);
    ++m_retriesDone;
    // The rest of a file that the server can send in parts, unchanged; otherwise all of it again.
    const qint64 have = m_file->bytesWritten();
    if (have > 0 && m_acceptsRanges && !m_validator.isEmpty() && !m_decoder) {
        m_resumeFrom = have;
    } else {
        m_resumeFrom = 0;
        QString error;
        if (have > 0 && !m_file->truncate(&error)) {
            fail(error);
            return;
        }
    }
    if (!m_retryTimer) {
        m_retryTimer = new QTimer(this);
        m_retryTimer->setSingleShot(true);
        connect(m_retryTimer, &QTimer::timeout, this, [this] {
            if (!m_finished)
                sendRequest(m_current);
        });
    }
    m_retryTimer->start(static_cast<int>(waitMs));
}

void DownloadTransfer::completeBody() {
    m_bodyComplete = true;
    Q_EMIT bodyComplete();
    if (!m_claimedName.isEmpty())
        publish();
}

void DownloadTransfer::assignName(const QString& claimed) {
    if (m_finished)
        return;
    m_claimedName = claimed;
    if (m_bodyComplete)
        publish();
}

void DownloadTransfer::failNaming(const QString& reason) {
    fail(reason);
}

void DownloadTransfer::publish() {
    if (m_publishing || m_finished)
        return;
    m_publishing = true;
    QString error;
    const qint64 bytes = m_file->bytesWritten();
    if (!m_folder->publish(*m_file, m_wantedName, m_claimedName, m_options.numberTakenNames, &error)) {
        m_claimedName.clear(); // given back by publish
        fail(error);
        return;
    }
    m_finished = true;
    DownloadResult result;
    result.url = m_item.url;
    result.status = DownloadResult::Status::Succeeded;
    result.path = m_file->path();
    result.bytes = bytes;
    m_file.reset();
    Q_EMIT finished(result);
}

void DownloadTransfer::fail(const QString& message, DownloadResult::Status status) {
    if (m_finished)
        return;
    m_finished = true;
    dropReply();
    if (m_retryTimer)
        m_retryTimer->stop();
    qint64 bytes = 0;
    if (m_file) {
        bytes = m_file->bytesWritten();
        m_file->discard();
        m_file.reset();
    }
    if (!m_claimedName.isEmpty()) {
        m_folder->release(m_claimedName);
        m_claimedName.clear();
    }
    DownloadResult result;
    result.url = m_item.url;
    result.status = status;
    result.message = message;
    result.bytes = bytes;
    Q_EMIT finished(result);
}

void DownloadTransfer::cancel() {
    fail(NetworkErrorText::cancelled(), DownloadResult::Status::Cancelled);
}

void DownloadTransfer::dropReply() {
    if (!m_reply)
        return;
    QNetworkReply* reply = m_reply;
    m_reply = nullptr;
    reply->disconnect(this);
    // A reply that already carries an error (an HTTP error status) is torn down by its deletion;
    // aborting it would report a second error.
    if (reply->isRunning() && reply->error() == QNetworkReply::NoError)
        reply->abort();
    reply->deleteLater();
}
