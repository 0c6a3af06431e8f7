#include "BatchCookieJar.h"

#include <QNetworkCookie>

BatchCookieJar::BatchCookieJar(QNetworkCookieJar* source, QObject* parent)
    : QNetworkCookieJar(parent)
    , m_source(source) {}

QList<QNetworkCookie> BatchCookieJar::cookiesForUrl(const QUrl& url) const {
    QList<QNetworkCookie> cookies = QNetworkCookieJar::cookiesForUrl(url);
    if (!m_source)
        return cookies;
    const QList<QNetworkCookie> fromBrowser = m_source->cookiesForUrl(url);
    for (const QNetworkCookie& cookie : fromBrowser) {
        // A cookie that a response of this batch set is newer than the browser's of the same name.
        const bool shadowed = std::any_of(cookies.cbegin(), cookies.cend(), [&](const QNetworkCookie& own) {
            return own.name() == cookie.name();
        });
        if (!shadowed)
            cookies.append(cookie);
    }
    return cookies;
}
