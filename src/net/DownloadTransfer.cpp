#include "DownloadTransfer.h"

#include "AddressInput.h"
#include "AddressSchemes.h"
#include "ContentDecoder.h"
#include "CurlSession.h"
#include "DataUrl.h"
#include "HostPauses.h"
#include "HttpFetch.h"
#include "HttpHeaderValues.h"
#include "LocalFileName.h"
#include "NetworkErrorText.h"
#include "RefererPolicy.h"
#include "ReservedFile.h"
#include "TransferRules.h"
#include "UniqueFileReservation.h"

#include <QDateTime>
#include <QNetworkCookieJar>
#include <QTimer>

#include <algorithm>
#include <limits>

namespace {

// A gzip file that the server labels Content-Encoding: gzip, a common misconfiguration: browsers save
// such a file as it was sent, and so do we.
bool isGzipFile(const QString& name, const QString& contentType) {
    const QString file = name.toLower();
    const QString type = contentType.section(u';', 0, 0).trimmed().toLower();
    return file.endsWith(u".gz") || file.endsWith(u".tgz") || file.endsWith(u".svgz") ||
           type == u"application/gzip" || type == u"application/x-gzip";
}

} // namespace

DownloadTransfer::DownloadTransfer(const DownloadItem& item, const DownloadOptions& options,
                                   CurlSession* session, QNetworkCookieJar* cookies,
                                   UniqueFileReservation* folder, QObject* parent)
    : QObject(parent)
    , m_item(item)
    , m_options(options)
    , m_session(session)
    , m_cookies(cookies)
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
    if (!AddressSchemes::isDownloadable(m_current)) {
        fail(NetworkErrorText::unsupportedScheme(scheme));
        return;
    }
    if (AddressSchemes::isWeb(m_current) && m_current.host().isEmpty()) {
        fail(NetworkErrorText::invalidAddress(m_item.url));
        return;
    }
    // Nothing is fetched that could not be kept.
    QString error;
    m_file = m_item.partialName.isEmpty() ? m_folder->createFile(&error)
                                          : m_folder->openPartial(m_item.partialName, &error);
    if (!m_file) {
        fail(error);
        return;
    }
    // What a killed run left: continued from its bytes where the version is known, else replaced.
    if (m_file->bytesWritten() > 0) {
        if (!m_item.validator.isEmpty() &&
            (m_item.expectedSize < 0 || m_file->bytesWritten() < m_item.expectedSize)) {
            m_resumeFrom = m_file->bytesWritten();
            m_validator = m_item.validator;
            m_expectedTotal = m_item.expectedSize;
        } else if (!m_file->truncate(&error)) {
            fail(error);
            return;
        }
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
        m_wantedName = masked(LocalFileName(m_item.url, m_item.charset), {});
        Q_EMIT nameWanted(m_wantedName);
    }
    completeBody();
}

void DownloadTransfer::sendRequest(const QUrl& url) {
    if (!m_session) {
        fail(NetworkErrorText::cancelled(), DownloadResult::Status::Cancelled);
        return;
    }
    m_current = url;
    // A host that asked to wait gets nothing until its pause ends (see HostPauses).
    if (const qint64 pausedMs = HostPauses::instance()->remainingMs(HostPauses::hostOf(url)); pausedMs > 0) {
        sendLater(pausedMs);
        return;
    }
    m_statusChecked = false;
    m_skipBody = false;
    m_responseBytes = 0;
    m_decoder.reset();
    HttpRequest request;
    request.url = url;
    request.page = QUrl(m_item.referer);
    request.userAgent = m_options.userAgent;
    request.cookies = m_cookies;
    request.inactivityTimeoutMs = m_options.inactivityTimeoutMs;
    if (m_resumeFrom > 0) {
        request.headers.append(
            qMakePair(QByteArray("Range"), "bytes=" + QByteArray::number(m_resumeFrom) + '-'));
        request.headers.append(qMakePair(QByteArray("If-Range"), m_validator));
    }
    m_fetch = new HttpFetch(m_session, request, this);
    connect(m_fetch, &HttpFetch::headersReceived, this, &DownloadTransfer::onHeaders);
    connect(m_fetch, &HttpFetch::bodyData, this, &DownloadTransfer::onBody);
    connect(m_fetch, &HttpFetch::finished, this, &DownloadTransfer::onFetchFinished);
    m_fetch->start();
}

// Decides once per response whether its body is the file. False when the transfer has ended.
bool DownloadTransfer::checkResponse() {
    if (m_statusChecked)
        return true;
    m_statusChecked = true;
    const HttpFetch* reply = m_fetch;
    const int status = reply->status();
    // Neither the body of a redirect nor an error page is the file; the response's end decides.
    if (TransferRules::isRedirectStatus(status) || status >= 400 ||
        reply->error() != QNetworkReply::NoError) {
        m_skipBody = true;
        return true;
    }
    if (status == 206) {
        HttpHeaderValues::ContentRange read;
        const QByteArray range = reply->header("Content-Range");
        if (m_resumeFrom <= 0) {
            fail(NetworkErrorText::unaskedPartialContent());
            return false;
        }
        if (!HttpHeaderValues::parseContentRange(range, &read) || read.first != m_resumeFrom ||
            (m_expectedTotal >= 0 && read.total >= 0 && read.total != m_expectedTotal)) {
            fail(NetworkErrorText::badContentRange(range));
            return false;
        }
        // If-Range promises the same version; a server that says otherwise gets asked for all of it.
        const QByteArray etag = reply->header("ETag").trimmed();
        if (m_validator.startsWith('"') && !etag.isEmpty() && etag != m_validator) {
            startOver();
            return false;
        }
        if (read.total >= 0)
            m_expectedTotal = read.total;
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
    const QString type = QString::fromLatin1(reply->header("Content-Type"));
    const QString name = m_wantedName.isEmpty() ? nameFromResponse(reply) : m_wantedName;
    const QByteArray encoding = reply->header("Content-Encoding").trimmed().toLower();
    const bool keptAsSent = (encoding == "gzip" || encoding == "x-gzip") && isGzipFile(name, type);
    if (!encoding.isEmpty() && encoding != "identity" && !keptAsSent) {
        m_decoder = ContentDecoder::create(encoding);
        if (!m_decoder) {
            fail(NetworkErrorText::unsupportedEncoding(encoding));
            return false;
        }
    }
    // What a retry needs to ask for the rest instead of the whole: ranges in bytes, and a strong
    // validator that tells the server which version we have.
    m_acceptsRanges =
        (status == 206 || reply->header("Accept-Ranges").toLower().contains("bytes")) && !m_decoder;
    const QByteArray etag = reply->header("ETag").trimmed();
    m_validator = !etag.isEmpty() && !etag.startsWith("W/") ? etag : reply->header("Last-Modified").trimmed();
    if (status != 206 && !m_decoder)
        m_expectedTotal = reply->declaredLength();
    // Told before the name, so that a record of the batch has both at once.
    Q_EMIT resumable(m_acceptsRanges ? m_validator : QByteArray(), m_decoder ? -1 : m_expectedTotal);
    if (m_finished)
        return false;
    if (m_wantedName.isEmpty()) {
        m_wantedName = name;
        Q_EMIT nameWanted(m_wantedName);
        if (m_finished)
            return false;
    }
    return true;
}

QString DownloadTransfer::nameFromResponse(const HttpFetch* reply) const {
    const QString type = QString::fromLatin1(reply->header("Content-Type"));
    QString name =
        LocalFileNames::fromContentDisposition(reply->header("Content-Disposition"), type, m_item.charset);
    if (name.isEmpty())
        name = LocalFileName(m_item.url, m_item.charset);
    return masked(LocalFileNames::withTypeExtension(name, type), type);
}

QString DownloadTransfer::masked(const QString& name, const QString& type) const {
    if (m_options.nameMask.isEmpty())
        return name;
    NameMask::Values values = m_item.mask;
    values.name = name;
    // The extension rules hold for the final name: the type's extension when it has none.
    return m_options.nameMask.finalPath(values, type);
}

void DownloadTransfer::onHeaders() {
    if (m_fetch && !m_finished)
        checkResponse();
}

void DownloadTransfer::onBody(const char* data, qint64 size) {
    if (!m_fetch || m_finished || !checkResponse() || m_skipBody)
        return;
    m_responseBytes += size;
    Q_EMIT received(size);
    if (!m_decoder) {
        writeBody(data, size);
        return;
    }
    QString error;
    const bool decoded = m_decoder->decode(
        data, size, [this](const char* piece, qint64 length) { return writeBody(piece, length); }, &error);
    if (!decoded && !m_finished)
        fail(error);
}

bool DownloadTransfer::writeBody(const char* data, qint64 size) {
    QString error;
    if (!m_file->write(data, size, &error)) {
        fail(error);
        return false;
    }
    return true;
}

void DownloadTransfer::onFetchFinished() {
    if (!m_fetch || m_finished)
        return;
    const HttpFetch* reply = m_fetch;
    const int status = reply->status();
    const bool broken = reply->error() != QNetworkReply::NoError;
    if (!broken && TransferRules::isRedirectStatus(status)) {
        const QUrl location(QString::fromUtf8(reply->header("Location")));
        dropReply();
        followRedirect(status, location);
        return;
    }
    if (!broken && !checkResponse())
        return;
    const qint64 declared = reply->declaredLength();
    if (broken || status >= 400) {
        // What arrived before the connection broke stays in the file: a retry may resume from it.
        QString message = status >= 400
                              ? NetworkErrorText::forHttpStatus(status, reply->reasonPhrase())
                              : NetworkErrorText::forNetworkError(reply->error(), reply->errorString());
        if (status < 400 && declared >= 0 && reply->bodyBytes() < declared)
            message = NetworkErrorText::bodyCutShort(reply->bodyBytes(), declared);
        const qint64 retryAfter = HttpHeaderValues::retryAfterSeconds(reply->header("Retry-After"),
                                                                      QDateTime::currentDateTimeUtc());
        TransferRules::pauseHostIfAsked(m_current, status, retryAfter);
        retryOrFail(message, TransferRules::isTransient(reply->error(), status), retryAfter);
        return;
    }
    // libcurl sees a body cut short itself; the lengths are checked all the same: the bytes as sent,
    // compressed or not.
    if (declared >= 0 && m_responseBytes != declared) {
        retryOrFail(NetworkErrorText::bodyCutShort(m_responseBytes, declared), true);
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
    const QString refused = TransferRules::refusedRedirect(m_current, target);
    if (!refused.isEmpty()) {
        fail(refused);
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
    const qint64 waitMs = TransferRules::retryWaitMs(retryAfter, m_options.retryDelayMs, m_retriesDone);
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
    sendLater(waitMs);
}

void DownloadTransfer::sendLater(qint64 waitMs) {
    if (!m_retryTimer) {
        m_retryTimer = new QTimer(this);
        m_retryTimer->setSingleShot(true);
        connect(m_retryTimer, &QTimer::timeout, this, [this] {
            if (!m_finished)
                sendRequest(m_current);
        });
    }
    m_retryTimer->start(static_cast<int>(std::clamp<qint64>(waitMs, 0, std::numeric_limits<int>::max())));
}

void DownloadTransfer::startOver() {
    dropReply();
    m_resumeFrom = 0;
    m_expectedTotal = -1;
    QString error;
    if (!m_file->truncate(&error)) {
        fail(error);
        return;
    }
    // From the event loop: this runs inside the answer to the range request.
    QTimer::singleShot(0, this, [this] {
        if (!m_finished)
            sendRequest(m_current);
    });
}

void DownloadTransfer::completeBody() {
    m_bodyComplete = true;
    Q_EMIT bodyComplete();
    if (!m_claimedName.isEmpty())
        requestPublish();
}

void DownloadTransfer::assignName(const QString& claimed) {
    if (m_finished)
        return;
    m_claimedName = claimed;
    if (m_bodyComplete)
        requestPublish();
}

void DownloadTransfer::requestPublish() {
    if (m_publishRequested || m_finished)
        return;
    m_publishRequested = true;
    Q_EMIT readyToPublish();
}

int DownloadTransfer::dataDescriptor() const {
    return m_file ? m_file->descriptor() : -1;
}

void DownloadTransfer::publishFlushed(const QString& flushError) {
    if (m_finished)
        return;
    if (!flushError.isEmpty()) {
        fail(flushError);
        return;
    }
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
    result.wantedName = m_wantedName;
    result.bytes = bytes;
    result.finalUrl = m_current.isValid() ? m_current.toString(QUrl::FullyEncoded) : m_item.url;
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
    if (!m_fetch)
        return;
    HttpFetch* fetch = m_fetch;
    m_fetch = nullptr;
    fetch->disconnect(this);
    fetch->abort();
    // It may be in the middle of one of its signals.
    fetch->deleteLater();
}
