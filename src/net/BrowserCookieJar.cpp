#include "BrowserCookieJar.h"

#include <QNetworkCookie>

namespace {

QString bare(QString host) {
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    return host.toLower();
}

bool isLocalhost(const QString& host) {
    if (host == u"localhost" || host.endsWith(QLatin1String(".localhost")) || host == u"::1")
        return true;
    return CookieFile::isIpAddress(host) && host.startsWith(QLatin1String("127."));
}

// RFC 6265 5.1.4, as Chromium matches paths.
bool pathMatches(const QString& cookiePath, const QString& requestPath) {
    if (requestPath == cookiePath)
        return true;
    return requestPath.startsWith(cookiePath) &&
           (cookiePath.endsWith(u'/') || requestPath.at(cookiePath.size()) == u'/');
}

} // namespace

BrowserCookieJar::BrowserCookieJar(QObject* parent)
    : QNetworkCookieJar(parent) {}

bool BrowserCookieJar::sendsTo(const QNetworkCookie& cookie, const QUrl& url, const QDateTime& now) {
    const QString scheme = url.scheme();
    const bool cryptographic = scheme == u"https" || scheme == u"wss";
    if (!cryptographic && scheme != u"http" && scheme != u"ws")
        return false;
    const QString host = bare(url.host(QUrl::FullyEncoded));
    if (host.isEmpty())
        return false;
    const QString domain = bare(cookie.domain());
    if (domain.startsWith(u'.')) {
        const QStringView parent = QStringView(domain).mid(1);
        if (host != parent && !host.endsWith(domain))
            return false;
    } else if (host != domain) {
        return false;
    }
    if (cookie.isSecure() && !cryptographic && !isLocalhost(host))
        return false;
    if (!cookie.isSessionCookie() && cookie.expirationDate() <= now)
        return false;
    QString path = url.path(QUrl::FullyEncoded);
    if (path.isEmpty())
        path = QStringLiteral("/");
    const QString cookiePath = cookie.path().isEmpty() ? QStringLiteral("/") : cookie.path();
    return pathMatches(cookiePath, path);
}

QList<QNetworkCookie> BrowserCookieJar::cookiesForUrl(const QUrl& url) const {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QList<QNetworkCookie> sent;
    const QList<QNetworkCookie> all = allCookies(); // the oldest first
    for (const QNetworkCookie& cookie : all)
        if (sendsTo(cookie, url, now))
            sent.append(cookie);
    std::stable_sort(sent.begin(), sent.end(), [](const QNetworkCookie& a, const QNetworkCookie& b) {
        return a.path().size() > b.path().size();
    });
    return sent;
}

QNetworkCookie BrowserCookieJar::fromFile(const FileCookie& cookie) {
    QNetworkCookie made(cookie.name, cookie.value);
    const QString host = cookie.domain.contains(u':') ? u'[' + cookie.domain + u']' : cookie.domain;
    made.setDomain(cookie.hostOnly ? host : u'.' + host);
    made.setPath(cookie.path);
    made.setSecure(cookie.secure);
    made.setHttpOnly(cookie.httpOnly);
    if (cookie.expires != 0)
        made.setExpirationDate(QDateTime::fromSecsSinceEpoch(cookie.expires, Qt::UTC));
    return made;
}

QUrl BrowserCookieJar::originOf(const FileCookie& cookie) {
    QUrl url;
    url.setScheme(cookie.secure ? QStringLiteral("https") : QStringLiteral("http"));
    url.setHost(cookie.domain);
    url.setPath(cookie.path);
    return url;
}

bool BrowserCookieJar::takes(const FileCookie& cookie) const {
    if (cookie.hostOnly)
        return true;
    // Qt's check against the public suffixes, for a host under the domain.
    QUrl below = originOf(cookie);
    below.setHost(QStringLiteral("x.") + cookie.domain);
    return validateCookie(fromFile(cookie), below);
}

QList<CookieFile::Problem> BrowserCookieJar::addFileCookies(const QList<FileCookie>& cookies) {
    QList<CookieFile::Problem> refused;
    QList<QNetworkCookie> all = allCookies();
    for (const FileCookie& cookie : cookies) {
        if (!takes(cookie)) {
            refused.append({cookie.line, CookieFile::Fault::PublicSuffix});
            continue;
        }
        const QNetworkCookie made = fromFile(cookie);
        all.removeIf([&](const QNetworkCookie& old) { return old.hasSameIdentifier(made); });
        all.append(made);
    }
    setAllCookies(all);
    return refused;
}

void BrowserCookieJar::clear() {
    setAllCookies({});
}
