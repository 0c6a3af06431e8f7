#include "TransferRules.h"

#include "NetworkErrorText.h"

#include <QDateTime>

namespace TransferRules {

bool isHttp(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return scheme == u"http" || scheme == u"https";
}

bool isRedirectStatus(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

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

QString refusedRedirect(const QUrl& current, const QUrl& target) {
    if (!isHttp(target) || target.host().isEmpty())
        return NetworkErrorText::redirectToUnsupportedScheme(target);
    if (current.scheme().toLower() == u"https" && target.scheme().toLower() == u"http")
        return NetworkErrorText::insecureRedirect(target);
    return {};
}

} // namespace TransferRules
