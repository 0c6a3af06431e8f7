#include "DownloadTransfer.h"

#include "AddressInput.h"
#include "DataUrl.h"
#include "LocalFileName.h"
#include "NetworkErrorText.h"
#include "ReservedFile.h"
#include "UniqueFileReservation.h"

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
    if (scheme == u"data") {
        saveDataAddress();
        return;
    }
    if (!isHttp(m_current)) {
        fail(NetworkErrorText::unsupportedScheme(scheme));
        return;
    }
    if (m_current.host().isEmpty()) {
        fail(NetworkErrorText::invalidAddress(m_item.url));
        return;
    }
    if (!reserveFile())
        return;
    m_visited.insert(m_current.adjusted(QUrl::RemoveFragment));
    sendRequest(m_current);
}

bool DownloadTransfer::reserveFile() {
    const QString name = m_item.fileName.isEmpty() ? LocalFileName(m_item.url) : m_item.fileName;
    QString error;
    m_file = m_folder->reserve(name, m_options.numberTakenNames, &error);
    if (!m_file) {
        fail(error);
        return false;
    }
    return true;
}

void DownloadTransfer::saveDataAddress() {
    QByteArray content;
    const QString text =
        m_item.address.isValid() ? m_item.address.toString(QUrl::FullyEncoded) : m_item.url.trimmed();
    if (!DataUrl::decode(text, &content)) {
        fail(NetworkErrorText::invalidDataAddress());
        return;
    }
    if (!reserveFile())
        return;
    QString error;
    if (!m_file->write(content.constData(), content.size(), &error)) {
        fail(error);
        return;
    }
    Q_EMIT received(content.size());
    succeed();
}

void DownloadTransfer::sendRequest(const QUrl& url) {
    if (!m_network) {
        fail(NetworkErrorText::cancelled(), DownloadResult::Status::Cancelled);
        return;
    }
    m_current = url;
    m_statusChecked = false;
    m_skipBody = false;
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    // Bodies go straight to disk, so a highly compressed body is no danger to memory.
    request.setDecompressedSafetyCheckThreshold(-1);
    if (m_options.inactivityTimeoutMs > 0)
        request.setTransferTimeout(m_options.inactivityTimeoutMs);
    if (!m_options.userAgent.isEmpty())
        request.setHeader(QNetworkRequest::UserAgentHeader, QString::fromUtf8(m_options.userAgent));
    const QUrl referer(m_item.referer);
    // As browsers do: only a web page is a referer, and an https page is not told to plain http.
    if (isHttp(referer) && !(referer.scheme().toLower() == u"https" && url.scheme().toLower() == u"http"))
        request.setRawHeader("Referer",
                             referer.adjusted(QUrl::RemoveFragment | QUrl::RemoveUserInfo).toEncoded());
    m_reply = m_network->get(request);
    m_reply->setReadBufferSize(ReadBufferBytes);
    connect(m_reply, &QNetworkReply::readyRead, this, &DownloadTransfer::onReadyRead);
    connect(m_reply, &QNetworkReply::finished, this, &DownloadTransfer::onReplyFinished);
}

void DownloadTransfer::onReadyRead() {
    if (!m_reply || m_finished)
        return;
    if (!m_statusChecked) {
        m_statusChecked = true;
        const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        // Neither the body of a redirect nor an error page is the file; the reply's end decides.
        m_skipBody = isRedirectStatus(status) || status >= 400;
    }
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
        QString error;
        if (!m_file->write(buffer, n, &error)) {
            fail(error);
            return false;
        }
        Q_EMIT received(n);
    }
    return true;
}

void DownloadTransfer::onReplyFinished() {
    if (!m_reply || m_finished)
        return;
    QNetworkReply* reply = m_reply;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() == QNetworkReply::NoError && isRedirectStatus(status)) {
        const QUrl location = reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
        dropReply();
        if (!location.isValid() || location.isEmpty()) {
            fail(NetworkErrorText::redirectWithoutTarget(status));
            return;
        }
        const QUrl target = m_current.resolved(location);
        if (!isHttp(target) || target.host().isEmpty()) {
            fail(NetworkErrorText::redirectToUnsupportedScheme(target));
            return;
        }
        const QUrl key = target.adjusted(QUrl::RemoveFragment);
        if (m_visited.contains(key)) {
            fail(NetworkErrorText::redirectLoop(target));
            return;
        }
        if (++m_redirects > MaxRedirects) {
            fail(NetworkErrorText::tooManyRedirects(MaxRedirects));
            return;
        }
        m_visited.insert(key);
        sendRequest(target);
        return;
    }
    if (reply->error() != QNetworkReply::NoError || status >= 400) {
        fail(NetworkErrorText::forReply(reply));
        return;
    }
    if (!writeAvailable())
        return;
    // Qt takes a connection closed before the declared length for the end of the body and reports
    // no error, so the length is checked here. A compressed body's declared length is that of the
    // compressed bytes, which never reach us.
    const QVariant declared = reply->header(QNetworkRequest::ContentLengthHeader);
    const QByteArray encoding = reply->rawHeader("Content-Encoding").trimmed().toLower();
    if (declared.isValid() && (encoding.isEmpty() || encoding == "identity") &&
        m_file->bytesWritten() != declared.toLongLong()) {
        fail(NetworkErrorText::bodyCutShort(m_file->bytesWritten(), declared.toLongLong()));
        return;
    }
    dropReply();
    succeed();
}

void DownloadTransfer::succeed() {
    QString error;
    const qint64 bytes = m_file->bytesWritten();
    const QString path = m_file->path();
    if (!m_file->commit(&error)) {
        fail(error);
        return;
    }
    m_file.reset();
    m_finished = true;
    DownloadResult result;
    result.url = m_item.url;
    result.status = DownloadResult::Status::Succeeded;
    result.path = path;
    result.bytes = bytes;
    Q_EMIT finished(result);
}

void DownloadTransfer::fail(const QString& message, DownloadResult::Status status) {
    if (m_finished)
        return;
    m_finished = true;
    dropReply();
    qint64 bytes = 0;
    if (m_file) {
        bytes = m_file->bytesWritten();
        m_file->discard();
        m_file.reset();
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
