#include "EngineCookieJar.h"

#include <QNetworkCookie>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>

EngineCookieJar::EngineCookieJar(QWebEngineProfile* profile, QObject* parent)
    : BrowserCookieJar(parent)
    , m_profile(profile) {
    QWebEngineCookieStore* store = profile->cookieStore();
    connect(store, &QWebEngineCookieStore::cookieAdded, this,
            [this](const QNetworkCookie& c) { insertCookie(c); });
    connect(store, &QWebEngineCookieStore::cookieRemoved, this,
            [this](const QNetworkCookie& c) { deleteCookie(c); });
    store->loadAllCookies();
}

bool EngineCookieJar::setCookiesFromUrl(const QList<QNetworkCookie>& cookies, const QUrl& url) {
    const bool any = BrowserCookieJar::setCookiesFromUrl(cookies, url);
    if (m_profile)
        for (const QNetworkCookie& c : cookies)
            m_profile->cookieStore()->setCookie(c, url);
    return any;
}
