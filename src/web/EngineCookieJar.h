#pragma once

#include <QNetworkCookieJar>
#include <QPointer>

class QWebEngineProfile;

// A jar that follows the cookies of an engine profile: it starts with the profile's and mirrors
// every change; cookies that responses fetched through it set are given to the profile too.
class EngineCookieJar : public QNetworkCookieJar {
    Q_OBJECT
public:
    explicit EngineCookieJar(QWebEngineProfile* profile, QObject* parent = nullptr);

    bool setCookiesFromUrl(const QList<QNetworkCookie>& cookies, const QUrl& url) override;

private:
    QPointer<QWebEngineProfile> m_profile;
};
