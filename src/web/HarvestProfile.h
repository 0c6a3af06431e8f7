#pragma once

#include <QObject>

class QNetworkCookieJar;
class QWebEngineProfile;

// The browser identity of one harvest and of the downloads that follow it, the same for the window
// and `nepirika harvest`: a private off-the-record engine profile (cookies in memory only, a small
// memory cache), its user agent (BrowserIdentity), a cookie jar that mirrors the engine's cookies for
// downloads, and the hand-over of documents to the engine's parser (installed on the profile). The
// no-script mode's request interceptor, once turned on (DocumentOnlyInterceptor::apply), is the
// profile's too. Every hidden page of a harvest runs on it; it must outlive them.
class HarvestProfile : public QObject {
    Q_OBJECT
public:
    explicit HarvestProfile(QObject* parent = nullptr);
    ~HarvestProfile() override;

    // The HarvestProfile that made profile; null for another profile.
    static HarvestProfile* of(const QWebEngineProfile* profile);

    QWebEngineProfile* profile() const;
    // What downloads send to present this identity: its user agent, and its cookies.
    QByteArray userAgent() const;
    QNetworkCookieJar* cookieJar() const;

    // The engine's memory cache: the style sheets and scripts that pages of one site share, not
    // every response of a long list (the engine's default would take up to 50 MB).
    static constexpr int CacheBytes = 8 << 20;

private:
    QWebEngineProfile* m_profile = nullptr;
    QNetworkCookieJar* m_jar = nullptr;
};
