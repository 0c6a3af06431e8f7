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
    // The title of the document each address stands in (its frame's own for a frame's), parallel
    // to links, images and embeds; empty where it has none.
    QStringList linkTitles;
    QStringList imageTitles;
    QStringList embedTitles;
    // Each image's alternative text (see tURLData::Alt), parallel to images; empty where none.
    QStringList imageAlts;
    // What the page says of some of the images without fetching them (see tURLData), in images'
    // order: index is the image's position in images; sets are numbered from 1 within the page.
    struct ImageFact {
        qsizetype index = 0;
        qint32 set = 0;
        QString descriptor;
        qint32 width = -1;
        qint32 height = -1;
    };
    QList<ImageFact> imageFacts;
    // The links that wrap an image (a thumbnail), with that image's set: index is the link's
    // position in links; sets are numbered as in imageFacts.
    struct LinkSet {
        qsizetype index = 0;
        qint32 set = 0;
    };
    QList<LinkSet> linkSets;
    // The MIME type of the document as the browser took it ("text/html", "image/jpeg"); empty
    // when not known.
    QString type;
    // The page held more addresses than AddressCollector::Limit, or more address text than
    // CollectedAddress::PageChars (cutByChars); those beyond were not collected.
    bool truncated = false;
    bool cutByChars = false;
    // Addresses left out because no record may hold them (see CollectedAddress), a data: address
    // longer than CollectedAddress::MaxDataChars among them.
    qsizetype dropped = 0;
    // The frames that did not answer in time, by their addresses; what they hold is missing.
    QStringList silentFrames;
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
    // Where the browser stands; every callback of the engine checks this one value, and every
    // change goes through next(). Navigate goes from Blank, Wedged or RendererGone straight to
    // Requested, and from Shown or ShownFailed through Probing or ProbingFailed (the renderer asked
    // for a sign of life; Wedged when none comes); the engine's start of the load makes it Loading,
    // Stop makes Requested or Loading Stopping and a probe the shown state it came from; the
    // load's end makes it Shown or ShownFailed and reports DocumentComplete. A collection that
    // goes unanswered makes it Wedged, the renderer's end RendererGone, and the destructor
    // Destroying, after which nothing acts.
    enum class State {
        Blank,         // a new page: no document yet
        Shown,         // a document is shown, its load succeeded; no navigation awaited
        ShownFailed,   // the page shows what a failed load left; no navigation awaited
        Probing,       // a navigation waits for the renderer's sign of life (from Shown)
        ProbingFailed, // the same, from ShownFailed
        Requested,     // the load is asked for; the engine has not reported its start yet
        Loading,       // the navigation's load is under way
        Stopping,      // Stop came during the load; its end completes the navigation as stopped
        Wedged,        // the renderer is stuck in a script; the next Navigate replaces the page
        RendererGone,  // the renderer ended abnormally; the next load starts a new one
        Destroying,    // the destructor has begun
    };
    // What moves the browser from one state to the next.
    enum class Event {
        Navigate,              // Navigate to another document
        NavigateInDocument,    // Navigate to another fragment of the loaded document
        SameDocumentShown,     // that fragment is shown (no load)
        ProbeAnswered,         // the renderer showed its sign of life
        ProbeUnanswered,       // it did not, in time
        LoadAsked,             // the engine is asked to load; no load of it was running
        LoadAskedWhileLoading, // the same while a load runs (its end is the new load's)
        LoadStarted,           // the engine reports a load's start
        LoadSucceeded,         // and its end: the document shows
        LoadFailed,            // or failed, or was stopped
        RefusedMoveEnded,      // the end of a move the page began by itself and was refused
        Stop,
        CollectionUnanswered, // a collection went unanswered: the renderer is stuck in a script
        RendererEnded,        // the renderer ended abnormally
        PageReplaced,         // a fresh engine page took the place of the old one
        Destroyed,
    };
    // The one transition function: the state that event leads to from state. An event that means
    // nothing in a state leaves it as it is.
    static State next(State state, Event event);

    using CollectCallback = std::function<void(bool ok, const PageAddresses&, const QString& reason)>;

    // A page on the given profile; with no profile, a HarvestProfile of its own.
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
    // Where the page took itself since the last Navigate, by a script, a refresh or a redirect,
    // when that is another address than the one asked for; empty otherwise.
    virtual QUrl MovedTo() const;
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
    // The screen of a browser window, which a WindowViewport gives the page: with one, the page is
    // laid out at the window's size from its first script on, but off screen, where it draws no
    // frame and its animation frames and intersection observers wait. Put on screen, it draws.
    bool HasScreen() const;
    void setHasScreen(bool has);
    // Asks for the page on screen (or off it again); screenShown follows once it is there, at once
    // on a screen of its own, after the pages before it on a shared one.
    void WantScreen(bool want);
    bool WantsScreen() const;
    // Said by the screen: the page is on it now.
    void ScreenShown();
    // The engine's user agent, and a jar that mirrors the engine's cookies (for downloads): the
    // HarvestProfile's when the profile is one.
    QByteArray userAgent() const;
    QNetworkCookieJar* cookieJar() const;

    // The user-facing reason for a failed load of the top document: "HTTP 404",
    // "読み込めませんでした: net::ERR_CONNECTION_REFUSED" …; empty when the load succeeded.
    static QString loadFailureText(const QWebEngineLoadingInfo& info);
    // The reason given when the response replaced nothing (a download, "204 No Content").
    static QString noDocumentText();

Q_SIGNALS:
    // Once after each Navigate, failed loads included, never before Navigate has returned; not for
    // loads that the page starts by itself once it has completed. ok is false when the top
    // document failed: a network error, an HTTP error status, a response with no document, the
    // renderer's end (errorText says which).
    void DocumentComplete(bool ok, const QString& errorText);
    void pageReplaced(QWebEnginePage* page);
    // What WantScreen asked for, for the screen.
    void screenWanted(bool want);
    // The page is on screen, as asked.
    void screenShown();

protected:
    // What the browser asks of the engine. A test's engine overrides them, and reports back
    // through the members below.
    // Asks the renderer for a sign of life before navigation: probeAnswered follows, true when the
    // renderer answered, false when it did not within two seconds.
    virtual void askRendererForSignOfLife(quint64 navigation);
    // Loads url; each document it brings in carries generation (see CollectAddresses).
    virtual void loadInEngine(const QUrl& url, qint64 generation);
    virtual void stopInEngine();

    // What the engine reports.
    enum class LoadEnd { Succeeded, Stopped, Failed };
    void probeAnswered(quint64 navigation, bool answered);
    void engineLoadStarted();
    // failureText: loadFailureText of the load (empty when it succeeded).
    void engineLoadEnded(const QUrl& url, LoadEnd end, const QString& failureText);
    void rendererEnded();

private:
    // True while the browser exists and its destruction has not begun.
    static bool alive(const QPointer<TWebBrowser>& browser);
    // The one place where the state changes; returns the state before.
    State apply(Event event);
    void createPage();
    void startNavigation(const QUrl& url);
    void onLoadingChanged(const QWebEngineLoadingInfo& info);
    static QString rendererGoneText();

    struct Private;
    std::unique_ptr<Private> d;
};
