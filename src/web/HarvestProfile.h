#pragma once

#include <QObject>

class DocumentHandoff;
class QNetworkCookieJar;
class QWebEngineProfile;
struct DownloadOptions;

// The browser identity of one harvest and of the downloads that follow it, the same for the window
// and `nepirika harvest`: a private off-the-record engine profile (cookies in memory only, a small
// memory cache), its user agent (BrowserIdentity), a cookie jar that mirrors the engine's cookies for
// downloads, the no-script request interceptor and the hand-over of documents to the engine's parser.
// Every hidden page of a harvest runs on it; it must outlive them.
class HarvestProfile : public QObject {
    Q_OBJECT
public:
    explicit HarvestProfile(QObject* parent = nullptr);
    ~HarvestProfile() override;

    // The HarvestProfile that made profile; null for another profile.
    static HarvestProfile* of(const QWebEngineProfile* profile);

    QWebEngineProfile* profile() const;
    QByteArray userAgent() const;
    QNetworkCookieJar* cookieJar() const;
    // Null when the hand-over's scheme was not registered before the application object.
    DocumentHandoff* handoff() const;

    // The no-script mode of every page on the profile (see DocumentOnlyInterceptor).
    void setNoScripts(bool on);
    bool noScripts() const;

    // Downloads that present this identity: its user agent and its cookies.
    void applyTo(DownloadOptions& options) const;

    // The engine's memory cache: the style sheets and scripts that pages of one site share, not
    // every response of a long list (the engine's default would take up to 50 MB).
    static constexpr int CacheBytes = 8 << 20;

private:
    QWebEngineProfile* m_profile = nullptr;
    QNetworkCookieJar* m_jar = nullptr;
};
