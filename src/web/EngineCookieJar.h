#pragma once

#include "BrowserCookieJar.h"

#include <QPointer>

class QWebEngineProfile;

// A jar that follows the cookies of an engine profile: it starts with the profile's and mirrors
// every change; cookies that responses fetched through it set are given to the profile too. It sends
// them as the engine does (BrowserCookieJar).
class EngineCookieJar : public BrowserCookieJar {
    Q_OBJECT
public:
    explicit EngineCookieJar(QWebEngineProfile* profile, QObject* parent = nullptr);

    bool setCookiesFromUrl(const QList<QNetworkCookie>& cookies, const QUrl& url) override;

private:
    QPointer<QWebEngineProfile> m_profile;
};
