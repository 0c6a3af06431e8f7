#include "RangedFetch.h"

#include "ContentDecoder.h"
#include "DownloadTransfer.h"
#include "NetworkErrorText.h"
#include "RefererPolicy.h"
#include "TransferRules.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <algorithm>
#include <limits>

namespace {

// What Qt may hold of a body before it is read: little more than what is wanted, so that a server
// sending a whole large file is not drained into memory before the connection is let go.
constexpr qint64 ReadBufferBytes = 64 * 1024;

} // namespace

RangedFetch::RangedFetch(QNetworkAccessManager* network, const DownloadOptions& options, QObject* parent)
    : QObject(parent)
    , m_network(network)
    , m_options(options) {}

RangedFetch::~RangedFetch() {
    dropReply();
}

void RangedFetch::start(const RangedFetchRequest& request, Enough enough) {
    m_request = request;
    m_enough = std::move(enough);
    m_current = request.url;
    QTimer::singleShot(0, this, [this] {
        if (m_finished)
            return;
        if (!TransferRules::isHttp(m_current) || m_current.host().isEmpty()) {
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
    if (!m_network) {
        cancel();
        return;
    }
    m_statusChecked = false;
    m_skipBody = false;
    m_responseBytes = 0;
    m_decoder.reset();
    const qint64 moved = m_result.bytesMoved;
    m_result = {};
    m_result.bytesMoved = moved;
    QNetworkRequest request(m_current);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setRawHeader("Accept-Encoding", "identity");
    if (m_options.inactivityTimeoutMs > 0)
        request.setTransferTimeout(m_options.inactivityTimeoutMs);
    if (!m_options.userAgent.isEmpty())
        request.setHeader(QNetworkRequest::UserAgentHeader, QString::fromUtf8(m_options.userAgent));
    const QByteArray referer = RefererPolicy::refererFor(QUrl(m_request.referer), m_current);
    if (!referer.isEmpty())
        request.setRawHeader("Referer", referer);
    if (m_request.rangeBytes > 0)
        request.setRawHeader("Range", "bytes=0-" + QByteArray::number(m_request.rangeBytes - 1));
    m_reply = m_network->get(request);
    m_reply->setReadBufferSize(ReadBufferBytes);
    connect(m_reply, &QNetworkReply::readyRead, this, &RangedFetch::onReadyRead);
    connect(m_reply, &QNetworkReply::finished, this, &RangedFetch::onReplyFinished);
}

// Decides once per response whether its body is the file's start. False when the fetch has ended.
bool RangedFetch::checkResponse() {
    if (m_statusChecked)
        return true;
    m_statusChecked = true;
    QNetworkReply* reply = m_reply;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    m_result.httpStatus = status;
    if (TransferRules::isRedirectStatus(status) || status >= 400 ||
        reply->error() != QNetworkReply::NoError) {
        m_skipBody = true;
        return true;
    }
    const QByteArray encoding = reply->rawHeader("Content-Encoding").trimmed().toLower();
    if (!encoding.isEmpty() && encoding != "identity") {
        m_decoder = ContentDecoder::create(encoding);
        if (!m_decoder) {
            m_result.message = NetworkErrorText::unsupportedEncoding(encoding);
            finish();
            return false;
        }
    }
    if (status == 206) {
        qint64 first = -1;
        qint64 total = -1;
        const QByteArray range = reply->rawHeader("Content-Range");
        if (m_request.rangeBytes <= 0) {
            m_result.message = NetworkErrorText::unaskedPartialContent();
            finish();
            return false;
        }
        if (!TransferRules::parseContentRange(range, &first, &total) || first != 0) {
            m_result.message = NetworkErrorText::badContentRange(range);
            finish();
            return false;
        }
        m_result.partial = true;
        // The size of the file as stored: with a content encoding the range counts encoded bytes.
        m_result.totalBytes = m_decoder ? -1 : total;
    } else if (status == 200 || status == 203) {
        const QVariant declared = reply->header(QNetworkRequest::ContentLengthHeader);
        m_result.totalBytes = declared.isValid() && !m_decoder ? declared.toLongLong() : -1;
    } else {
        m_result.message = status >= 300 && status < 400 ? NetworkErrorText::redirectWithoutTarget(status)
                                                         : NetworkErrorText::noFileInResponse(status);
        finish();
        return false;
    }
    return true;
}

void RangedFetch::onReadyRead() {
    if (!m_reply || m_finished || !checkResponse())
        return;
    if (m_skipBody) {
        m_reply->skip(m_reply->bytesAvailable());
        return;
    }
    char buffer[16 * 1024];
    while (m_reply && !m_finished && m_reply->bytesAvailable() > 0) {
        const qint64 room = std::max<qint64>(1, m_request.maxBytes - m_responseBytes);
        const qint64 n = m_reply->read(buffer, std::min<qint64>(sizeof buffer, room));
        if (n <= 0)
            break;
        if (!take(buffer, n))
            return;
        if (m_enough && m_enough(m_result.body)) {
            succeed(m_result.totalBytes >= 0 && m_result.body.size() >= m_result.totalBytes);
            return;
        }
        if (m_responseBytes >= m_request.maxBytes) {
            succeed(false);
            return;
        }
    }
}

// Adds bytes as sent to the body; false when the fetch has ended.
bool RangedFetch::take(const char* data, qint64 size) {
    m_responseBytes += size;
    m_result.bytesMoved += size;
    if (!m_decoder) {
        m_result.body.append(data, size);
        return true;
    }
    QString error;
    const bool decoded = m_decoder->decode(
        data, size,
        [this](const char* out, qint64 n) {
            m_result.body.append(out, n);
            return true;
        },
        &error);
    if (!decoded) {
        m_result.message = error;
        finish();
    }
    return decoded;
}

void RangedFetch::onReplyFinished() {
    if (!m_reply || m_finished || !checkResponse())
        return;
    QNetworkReply* reply = m_reply;
    const int status = m_result.httpStatus;
    if (reply->error() == QNetworkReply::NoError && TransferRules::isRedirectStatus(status)) {
        const QUrl location = reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
        dropReply();
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
    if (status == 416 && m_request.rangeBytes > 0) {
        dropReply();
        m_request.rangeBytes = 0;
        send();
        return;
    }
    if (reply->error() != QNetworkReply::NoError || status >= 400) {
        retryOrFail(NetworkErrorText::forReply(reply), TransferRules::isTransient(reply->error(), status),
                    TransferRules::retryAfterSeconds(reply));
        return;
    }
    onReadyRead();
    if (m_finished)
        return;
    // Qt takes a connection closed before the declared length for the end of the body.
    const QVariant declared = reply->header(QNetworkRequest::ContentLengthHeader);
    if (declared.isValid() && m_responseBytes != declared.toLongLong()) {
        retryOrFail(NetworkErrorText::bodyCutShort(m_responseBytes, declared.toLongLong()), true);
        return;
    }
    if (m_decoder && !m_decoder->isComplete()) {
        retryOrFail(NetworkErrorText::compressedBodyCutShort(), true);
        return;
    }
    // The whole body of a 200, or a range that reached the file's end.
    succeed(!m_result.partial || (m_result.totalBytes >= 0 && m_result.body.size() >= m_result.totalBytes));
}

void RangedFetch::retryOrFail(const QString& message, bool transient, qint64 retryAfter) {
    dropReply();
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
    const qint64 waitMs =
        retryAfter >= 0 ? retryAfter * 1000 : qint64(m_options.retryDelayMs) << std::min(m_retriesDone, 16);
    ++m_retriesDone;
    if (!m_retryTimer) {
        m_retryTimer = new QTimer(this);
        m_retryTimer->setSingleShot(true);
        connect(m_retryTimer, &QTimer::timeout, this, [this] {
            if (!m_finished)
                send();
        });
    }
    m_retryTimer->start(int(std::min<qint64>(waitMs, std::numeric_limits<int>::max())));
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
    dropReply();
    if (m_retryTimer)
        m_retryTimer->stop();
    Q_EMIT finished(m_result);
}

void RangedFetch::dropReply() {
    if (!m_reply)
        return;
    QNetworkReply* reply = m_reply;
    m_reply = nullptr;
    reply->disconnect(this);
    if (reply->isRunning() && reply->error() == QNetworkReply::NoError)
        reply->abort();
    reply->deleteLater();
}
