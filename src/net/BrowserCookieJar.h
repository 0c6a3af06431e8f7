#pragma once

#include "CookieFile.h"

#include <QNetworkCookieJar>

// A cookie jar that sends each cookie where a browser (Chromium) sends it: a host-only cookie (its
// domain without a leading dot) to its host alone, a domain cookie (".example.com") to the domain and
// the hosts under it; to a path at or under its own; a secure cookie over https, or to this machine
// (localhost, 127.0.0.0/8, ::1), which Chromium counts as secure; no expired cookie; the longer paths
// first, then the older cookies. Requests fetched with it take the cookies they set as Qt does.
class BrowserCookieJar : public QNetworkCookieJar {
    Q_OBJECT
public:
    explicit BrowserCookieJar(QObject* parent = nullptr);

    QList<QNetworkCookie> cookiesForUrl(const QUrl& url) const override;
    // True when a browser sends cookie with a request for url at now.
    static bool sendsTo(const QNetworkCookie& cookie, const QUrl& url, const QDateTime& now);

    // A cookie of a cookie file as Qt keeps it (see above for its domain).
    static QNetworkCookie fromFile(const FileCookie& cookie);
    // The address a browser would have set it from: its scheme secure when the cookie is.
    static QUrl originOf(const FileCookie& cookie);
    // False for a domain cookie of a whole public suffix ("com", "co.jp"), which no browser takes.
    bool takes(const FileCookie& cookie) const;
    // Adds the cookies that a browser takes and returns the lines of those it does not.
    QList<CookieFile::Problem> addFileCookies(const QList<FileCookie>& cookies);
    // Forgets every cookie.
    void clear();
};
