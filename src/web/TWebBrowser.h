#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>

class QNetworkCookieJar;
class QWebEngineLoadingInfo;
class QWebEnginePage;
class QWebEngineProfile;

// Every address of one loaded document and its frames, each resolved by the engine against the
// base of the document it stands in. Each group in document order, the frames' after the top
// document's; a shadow root's content stands where its host stands.
struct PageAddresses {
    QUrl location;      // the document's address
    QStringList links;  // a and area with href, and the addresses of iframe and frame elements
    QStringList images; // img src and srcset, picture sources, lazy loaders' attributes, posters,
                        // input type=image, SVG image, style url(...), og:image and twitter:image
    QStringList embeds; // embed src, video and audio src, their source and track src, object data
    // How each address was found, parallel to links, images and embeds (same length and order): the
    // element and attribute, after "frame>" or "shadow>" for each frame or open shadow root it lies
    // in ("a@href", "img@srcset", "frame>shadow>video@poster").
    QStringList linkVias;
    QStringList imageVias;
    QStringList embedVias;
    // The encoding of the document each address stands in (its frame's own for a frame's), as
    // document.characterSet names it, parallel to links, images and embeds; empty where not known.
    QStringList linkCharsets;
    QStringList imageCharsets;
    QStringList embedCharsets;
    // The page held more addresses than AddressCollector::Limit; those beyond were not collected.
    bool truncated = false;
    // True when the document is one that the last Navigate brought in (a redirect's target
    // included); false when an earlier document still shows, because the server never answered
    // or the response replaced nothing (a download, "204 No Content").
    bool fromLastNavigate = false;
};

// The browser control: the one place where the program touches the browser engine (Qt WebEngine).
// The harvester and the banner reach the engine only through this class, so another engine (a test
// double, a static HTML reader) can stand in by overriding the virtual members.
//
// The page has no view. It loads the document and runs its scripts, but loads no images, plugins
// or sound, shows no dialogs, opens no windows, downloads nothing and refuses navigations that the
// page itself starts towards local addresses (file:, qrc: …). An address given to Navigate is the
// user's choice and is loaded whatever its scheme.
class TWebBrowser : public QObject {
    Q_OBJECT
public:
    // Where the browser stands; every callback of the engine checks this one value. The
    // transitions: Navigate goes from Blank, Wedged or RendererGone straight to Requested, and
    // from Shown or ShownFailed through Probing (the renderer asked for a sign of life; Wedged
    // when none comes); the engine's start of the load makes it Loading, Stop makes Requested or
    // Loading Stopping; the load's end makes it Shown or ShownFailed and reports DocumentComplete.
    // A collection that goes unanswered makes it Wedged, the renderer's end RendererGone, and the
    // destructor Destroying, after which nothing acts.
    enum class State {
        Blank,        // a new page: no document yet
        Shown,        // a document is shown, its load succeeded; no navigation awaited
        ShownFailed,  // the page shows what a failed load left; no navigation awaited
        Probing,      // a navigation waits for the renderer's sign of life
        Requested,    // the load is asked for; the engine has not reported its start yet
        Loading,      // the navigation's load is under way
        Stopping,     // Stop came during the load; its end completes the navigation as stopped
        Wedged,       // the renderer is stuck in a script; the next Navigate replaces the page
        RendererGone, // the renderer ended abnormally; the next load starts a new one
        Destroying,   // the destructor has begun
    };
    using CollectCallback = std::function<void(bool ok, const PageAddresses&, const QString& reason)>;

    // A page on the given profile; with no profile, a private off-the-record profile of its own.
    explicit TWebBrowser(QWebEngineProfile* profile = nullptr, QObject* parent = nullptr);
    ~TWebBrowser() override;

    // Returns at once; the load ends with DocumentComplete. The load itself begins once the
    // renderer has shown a sign of life (within milliseconds; a renderer stuck in the page's script
    // is replaced after two seconds), so LocationURL may name the earlier page for that long.
    virtual void Navigate(const QUrl& url);
    // Stops the load; DocumentComplete(false, "読み込みを止めました") follows when one was under way.
    virtual void Stop();
    // The current document's address.
    virtual QUrl LocationURL() const;
    // False while the engine has not begun to load the address of the last Navigate. It declines
    // some addresses without a word (one with "%00" in its path, say): their load never begins.
    virtual bool NavigationBegun() const;
    // All of the current document's link, image and embed addresses, its frames' and shadow roots'
    // included (in a script world of its own, which the page's scripts cannot reach). done runs exactly once,
    // never before CollectAddresses has returned: with ok false and a reason when the engine did
    // not answer within timeoutMs (a script that never ends, say). Nothing in the page is changed.
    virtual void CollectAddresses(int timeoutMs, CollectCallback done);

    // The engine page, for a view that shows it (the banner). When the renderer is stuck in a
    // script that never ends (a collection went unanswered, or no sign of life before a
    // navigation), Navigate replaces the page with a fresh one, since the old renderer cannot take
    // a navigation any more; pageReplaced says so.
    QWebEnginePage* page() const;
    QWebEngineProfile* profile() const;
    State state() const;
    // The engine's user agent, and a jar that mirrors the engine's cookies (for downloads).
    QByteArray userAgent() const;
    QNetworkCookieJar* cookieJar() const;

    // The user-facing reason for a failed load of the top document: "HTTP 404",
    // "読み込めませんでした: net::ERR_CONNECTION_REFUSED" …; empty when the load succeeded.
    static QString loadFailureText(const QWebEngineLoadingInfo& info);

Q_SIGNALS:
    // Once after each Navigate, failed loads included, never before Navigate has returned; not for
    // loads that the page starts by itself once it has completed. ok is false when the top
    // document failed: a network error, an HTTP error status, a response with no document, the
    // renderer's end (errorText says which).
    void DocumentComplete(bool ok, const QString& errorText);
    void pageReplaced(QWebEnginePage* page);

private:
    // True while the browser exists and its destruction has not begun.
    static bool alive(const QPointer<TWebBrowser>& browser);
    // The one place where the state changes.
    void enter(State next);
    void createPage();
    void onProbeAnswered(quint64 navigation, const QUrl& url, bool answered);
    void startNavigation(const QUrl& url);
    void onLoadingChanged(const QWebEngineLoadingInfo& info);
    void onRendererTerminated(int status);
    static QString rendererGoneText();

    struct Private;
    std::unique_ptr<Private> d;
};
