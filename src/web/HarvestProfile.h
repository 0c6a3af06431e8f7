#pragma once

#include "CookieFile.h"

#include <QObject>
#include <QPointer>

class EngineCookieJar;
class QNetworkCookieJar;
class QWebEnginePage;
class QWebEngineProfile;

// The browser identity of one harvest and of the downloads that follow it, the same for the window
// and `nepirika harvest`: an engine profile, its user agent (BrowserIdentity), a cookie jar that
// mirrors the engine's cookies for downloads, and the hand-over of documents to the engine's parser
// (installed on the profile). The no-script mode's request interceptor, once turned on
// (DocumentOnlyInterceptor::apply), is the profile's too. Every hidden page of a harvest runs on it;
// it must outlive them.
//
// Without a folder the profile is off the record (cookies in memory only, a small memory cache).
// With one (the window's, windowFolder()) it is the window's log-in: its cookies (session cookies
// too, as a browser that restores its pages keeps them), storage and cache live in that folder, which
// only its owner may enter, and survive a restart.
class HarvestProfile : public QObject {
    Q_OBJECT
public:
    explicit HarvestProfile(QObject* parent = nullptr);
    HarvestProfile(const QString& folder, QObject* parent);
    ~HarvestProfile() override;

    // The HarvestProfile that made profile; null for another profile.
    static HarvestProfile* of(const QWebEngineProfile* profile);
    // The window's profile folder, in the user's data folder.
    static QString windowFolder();

    QWebEngineProfile* profile() const;
    // Empty when off the record.
    QString folder() const;
    // What downloads send to present this identity: its user agent, and its cookies.
    QByteArray userAgent() const;
    QNetworkCookieJar* cookieJar() const;

    // Gives the engine the cookies of a cookie file (or of the window's profile), as a browser would
    // have taken them from their sites, and the downloads' jar at once (the engine takes them when it
    // first opens its store, before any request of a page); returns the lines of those no browser
    // takes.
    QList<CookieFile::Problem> addCookies(const QList<FileCookie>& cookies);
    // Forgets every log-in: the cookies and the cache now, the sites' storage of a profile with a
    // folder when it is next opened (the engine cannot drop it while it runs).
    void clearLogIns();

    // The engine's memory cache: the style sheets and scripts that pages of one site share, not
    // every response of a long list (the engine's default would take up to 50 MB).
    static constexpr int CacheBytes = 8 << 20;

private:
    void setUp();

    QString m_folder;
    QWebEngineProfile* m_profile = nullptr;
    EngineCookieJar* m_jar = nullptr;
    // An empty page that makes the engine open its cookie store (see addCookies).
    QPointer<QWebEnginePage> m_opener;
};
