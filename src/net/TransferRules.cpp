#include "TransferRules.h"

#include "AddressSchemes.h"
#include "HostPauses.h"
#include "NetworkErrorText.h"

#include <algorithm>

namespace TransferRules {

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

QString refusedRedirect(const QUrl& current, const QUrl& target) {
    if (!AddressSchemes::isWeb(target) || target.host().isEmpty())
        return NetworkErrorText::redirectToUnsupportedScheme(target);
    if (AddressSchemes::isDowngrade(current, target))
        return NetworkErrorText::insecureRedirect(target);
    return {};
}

qint64 retryWaitMs(qint64 retryAfterSeconds, int firstDelayMs, int triesMade) {
    if (retryAfterSeconds >= 0)
        return retryAfterSeconds * 1000;
    return qint64(std::max(0, firstDelayMs)) << std::clamp(triesMade, 0, 16);
}

bool pauseHostIfAsked(const QUrl& url, int status, qint64 retryAfterSeconds) {
    if ((status != 429 && status != 503) || retryAfterSeconds <= 0)
        return false;
    HostPauses::instance()->pause(HostPauses::hostOf(url), retryAfterSeconds);
    return true;
}

} // namespace TransferRules
