#include "RangedFetch.h"

#include "AddressSchemes.h"
#include "ContentDecoder.h"
#include "CurlSession.h"
#include "DownloadTransfer.h"
#include "HostPauses.h"
#include "HttpFetch.h"
#include "HttpHeaderValues.h"
#include "NetworkErrorText.h"
#include "TransferRules.h"

#include <QDateTime>
#include <QNetworkCookieJar>
#include <QTimer>

#include <algorithm>
#include <limits>

RangedFetch::RangedFetch(CurlSession* session, QNetworkCookieJar* cookies, const DownloadOptions& options,
                         QObject* parent)
    : QObject(parent)
    , m_session(session)
    , m_cookies(cookies)
    , m_options(options) {}

RangedFetch::~RangedFetch() {
    dropFetch();
}

void RangedFetch::start(const RangedFetchRequest& request, Enough enough) {
    m_request = request;
    m_enough = std::move(enough);
    m_current = request.url;
    QTimer::singleShot(0, this, [this] {
        if (m_finished)
            return;
        if (!AddressSchemes::isWeb(m_current) || m_current.host().isEmpty()) {
            m_result.message = m_current.isValid() && !m_current.scheme().isEmpty()
                                   ? NetworkErrorText::unsupportedScheme(m_current.scheme().toLower())
                                   : NetworkErrorText::invalidAddress(m_current.toString());
            finish();
            return;
        }
        send();
    });
}

void RangedFetch::cancel() {
    if (m_finished)
        return;
    m_result = {};
    m_result.message = NetworkErrorText::cancelled();
    finish();
}

void RangedFetch::send() {
    if (!m_session) {
        cancel();
        return;
    }
    // A host that asked to wait gets nothing until its pause ends (see HostPauses).
    if (const qint64 pausedMs = HostPauses::instance()->remainingMs(HostPauses::hostOf(m_current));
        pausedMs > 0) {
        sendLater(pausedMs);
        return;
    }
    m_statusChecked = false;
    m_skipBody = false;
    m_responseBytes = 0;
    m_decoder.reset();
    const qint64 moved = m_result.bytesMoved;
    m_result = {};
    m_result.bytesMoved = moved;
    HttpRequest request;
    request.url = m_current;
    request.page = QUrl(m_request.referer);
    request.userAgent = m_options.userAgent;
    request.cookies = m_cookies;
    request.inactivityTimeoutMs = m_options.inactivityTimeoutMs;
    request.pieceBytes = PieceBytes;
    if (m_request.rangeBytes > 0)
        request.headers.append(
            qMakePair(QByteArray("Range"), "bytes=0-" + QByteArray::number(m_request.rangeBytes - 1)));
    m_fetch = new HttpFetch(m_session, request, this);
    connect(m_fetch, &HttpFetch::headersReceived, this, &RangedFetch::onHeaders);
    connect(m_fetch, &HttpFetch::bodyData, this, &RangedFetch::onBody);
    connect(m_fetch, &HttpFetch::finished, this, &RangedFetch::onFetchFinished);
    m_fetch->start();
}

// Decides once per response whether its body is the file's start. False when the fetch has ended.
bool RangedFetch::checkResponse() {
    if (m_statusChecked)
        return true;
    m_statusChecked = true;
    const HttpFetch* reply = m_fetch;
    const int status = reply->status();
    m_result.httpStatus = status;
    if (TransferRules::isRedirectStatus(status) || status >= 400 ||
        reply->error() != QNetworkReply::NoError) {
        m_skipBody = true;
        return true;
    }
    const QByteArray encoding = reply->header("Content-Encoding").trimmed().toLower();
    if (!encoding.isEmpty() && encoding != "identity") {
        m_decoder = ContentDecoder::create(encoding);
        if (!m_decoder) {
            m_result.message = NetworkErrorText::unsupportedEncoding(encoding);
            finish();
            return false;
        }
    }
    if (status == 206) {
        const QByteArray range = reply->header("Content-Range");
        if (m_request.rangeBytes <= 0) {
            m_result.message = NetworkErrorText::unaskedPartialContent();
            finish();
            return false;
        }
        HttpHeaderValues::ContentRange read;
        if (!HttpHeaderValues::parseContentRange(range, &read) || read.first != 0) {
            m_result.message = NetworkErrorText::badContentRange(range);
            finish();
            return false;
        }
        m_result.partial = true;
        // The size of the file as stored: with a content encoding the range counts encoded bytes.
        m_result.totalBytes = m_decoder ? -1 : read.total;
    } else if (status == 200 || status == 203) {
        m_result.totalBytes = m_decoder ? -1 : reply->declaredLength();
    } else {
        m_result.message = status >= 300 && status < 400 ? NetworkErrorText::redirectWithoutTarget(status)
                                                         : NetworkErrorText::noFileInResponse(status);
        finish();
        return false;
    }
    return true;
}

void RangedFetch::onHeaders() {
    if (m_fetch && !m_finished)
        checkResponse();
}

void RangedFetch::onBody(const char* data, qint64 size) {
    if (!m_fetch || m_finished || !checkResponse() || m_skipBody)
        return;
    // What the server sends past maxBytes is not kept.
    const qint64 room = std::max<qint64>(0, m_request.maxBytes - m_responseBytes);
    m_result.bytesMoved += size;
    if (!take(data, std::min(size, room)))
        return;
    if (m_enough && m_enough(m_result.body)) {
        succeed(m_result.totalBytes >= 0 && m_result.body.size() >= m_result.totalBytes);
        return;
    }
    if (m_responseBytes >= m_request.maxBytes)
        succeed(false);
}

// Adds bytes as sent to the body; false when the fetch has ended.
bool RangedFetch::take(const char* data, qint64 size) {
    m_responseBytes += size;
    if (!m_decoder) {
        m_result.body.append(data, size);
        return true;
    }
    // The body held here is bounded after decoding as well, by the same limit: a small compressed
    // body never grows with the server's ratio. What fits is kept, for a caller whose question it
    // answers.
    QString error;
    bool tooLarge = false;
    const bool decoded = m_decoder->decode(
        data, size,
        [this, &tooLarge](const char* out, qint64 n) {
            const qint64 room = std::max<qint64>(m_request.maxBytes, 0) - m_result.body.size();
            if (n > room) {
                m_result.body.append(out, std::max<qint64>(room, 0));
                tooLarge = true;
                return false;
            }
            m_result.body.append(out, n);
            return true;
        },
        &error);
    if (decoded)
        return true;
    if (tooLarge && m_enough && m_enough(m_result.body)) {
        succeed(false);
        return false;
    }
    m_result.message = tooLarge ? NetworkErrorText::decodedBodyTooLarge(m_request.maxBytes) : error;
    finish();
    return false;
}

void RangedFetch::onFetchFinished() {
    if (!m_fetch || m_finished)
        return;
    const HttpFetch* reply = m_fetch;
    const int status = reply->status();
    const bool broken = reply->error() != QNetworkReply::NoError;
    if (!broken && TransferRules::isRedirectStatus(status)) {
        const QUrl location(QString::fromUtf8(reply->header("Location")));
        dropFetch();
        if (!location.isValid() || location.isEmpty()) {
            m_result.message = NetworkErrorText::redirectWithoutTarget(status);
            finish();
            return;
        }
        const QUrl target = m_current.resolved(location);
        m_result.message = TransferRules::refusedRedirect(m_current, target);
        if (m_result.message.isEmpty() && ++m_redirects > DownloadTransfer::MaxRedirects)
            m_result.message = NetworkErrorText::tooManyRedirects(DownloadTransfer::MaxRedirects);
        if (!m_result.message.isEmpty()) {
            finish();
            return;
        }
        m_current = target;
        send();
        return;
    }
    // An empty file has no range to give: it is asked for whole.
    if (!broken && status == 416 && m_request.rangeBytes > 0) {
        dropFetch();
        m_request.rangeBytes = 0;
        send();
        return;
    }
    if (!broken && !checkResponse())
        return;
    if (broken || status >= 400) {
        const QString message = status >= 400
                                    ? NetworkErrorText::forHttpStatus(status, reply->reasonPhrase())
                                    : NetworkErrorText::forNetworkError(reply->error(), reply->errorString());
        const qint64 retryAfter = HttpHeaderValues::retryAfterSeconds(reply->header("Retry-After"),
                                                                      QDateTime::currentDateTimeUtc());
        TransferRules::pauseHostIfAsked(m_current, status, retryAfter);
        retryOrFail(message, TransferRules::isTransient(reply->error(), status), retryAfter);
        return;
    }
    // libcurl reports a body cut short itself; a decoder knows whether its stream ended.
    if (m_decoder && !m_decoder->isComplete()) {
        retryOrFail(NetworkErrorText::compressedBodyCutShort(), true);
        return;
    }
    // The whole body of a 200, or a range that reached the file's end.
    succeed(!m_result.partial || (m_result.totalBytes >= 0 && m_result.body.size() >= m_result.totalBytes));
}

void RangedFetch::retryOrFail(const QString& message, bool transient, qint64 retryAfter) {
    dropFetch();
    if (!transient || m_retriesDone >= m_options.retries) {
        m_result.message = message;
        finish();
        return;
    }
    if (retryAfter > m_options.maxRetryAfterSeconds) {
        m_result.message = message + QStringLiteral("。") + NetworkErrorText::retryAfterTooLong(retryAfter);
        finish();
        return;
    }
    const qint64 waitMs = TransferRules::retryWaitMs(retryAfter, m_options.retryDelayMs, m_retriesDone);
    ++m_retriesDone;
    sendLater(waitMs);
}

void RangedFetch::sendLater(qint64 waitMs) {
    if (!m_retryTimer) {
        m_retryTimer = new QTimer(this);
        m_retryTimer->setSingleShot(true);
        connect(m_retryTimer, &QTimer::timeout, this, [this] {
            if (!m_finished)
                send();
        });
    }
    m_retryTimer->start(int(std::clamp<qint64>(waitMs, 0, std::numeric_limits<int>::max())));
}

void RangedFetch::succeed(bool complete) {
    m_result.ok = true;
    m_result.message.clear();
    m_result.complete = complete;
    if (complete && m_result.totalBytes < 0 && !m_decoder)
        m_result.totalBytes = m_result.body.size();
    finish();
}

void RangedFetch::finish() {
    if (m_finished)
        return;
    m_finished = true;
    dropFetch();
    if (m_retryTimer)
        m_retryTimer->stop();
    // Told from the event loop: the end may come from inside libcurl (a body read far enough),
    // where no request may be started, and the caller may want to ask for more at once.
    QTimer::singleShot(0, this, [this] { Q_EMIT finished(m_result); });
}

void RangedFetch::dropFetch() {
    if (!m_fetch)
        return;
    HttpFetch* fetch = m_fetch;
    m_fetch = nullptr;
    fetch->disconnect(this);
    fetch->abort();
    // It may be in the middle of one of its signals.
    fetch->deleteLater();
}
