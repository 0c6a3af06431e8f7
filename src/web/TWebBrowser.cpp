#include "TWebBrowser.h"

#include "AddressCollector.h"
#include "EngineCookieJar.h"
#include "EngineErrorText.h"
#include "HarvestProfile.h"
#include "HiddenWebPage.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QWebEngineDownloadRequest>
#include <QWebEngineLoadingInfo>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>

namespace {

const QString generationScriptName = QStringLiteral("nepirika-generation");
// How long a healthy renderer may take to answer before a navigation.
constexpr int rendererAnswerMs = 2000;

// A callback that the engine makes (a signal of the page, a script's answer) must not let an
// exception unwind through the engine's own frames: what escapes is thrown again from the event
// loop, where the application's one central handler reports it.
template <typename F> void shieldEngine(QObject* context, F&& f) {
    try {
        f();
    } catch (...) {
        QTimer::singleShot(0, context, [e = std::current_exception()]() { std::rethrow_exception(e); });
    }
}

} // namespace

struct TWebBrowser::Private {
    QWebEngineProfile* profile = nullptr;
    QPointer<HiddenWebPage> page;
    QNetworkCookieJar* jar = nullptr;
    State state = State::Blank;
    // What the engine last reported: a load under way (its last loadingChanged was a start). Not
    // a state of ours: a load that the page began by itself counts too, and while one runs the
    // engine reports no new start.
    bool engineLoading = false;
    // The number of the documents that the last load brought in, and of the last Navigate (a
    // probe or a deferred completion of an earlier one no longer counts).
    qint64 generation = 0;
    quint64 navigations = 0;
    // While probing: the address to load.
    QUrl probeUrl;
    // Ends the collection under way with a failure (the renderer is gone and will never answer).
    std::function<void(const QString&)> failCollection;
    bool hasScreen = false;
    bool wantsScreen = false;
};

namespace {

bool isProbing(TWebBrowser::State state) {
    return state == TWebBrowser::State::Probing || state == TWebBrowser::State::ProbingFailed;
}

} // namespace

TWebBrowser::State TWebBrowser::next(State state, Event event) {
    using S = State;
    if (state == S::Destroying)
        return state; // nothing leaves it
    switch (event) {
    case Event::Navigate:
        // From a shown document the renderer is asked first; from any other state the load
        // starts at once.
        if (state == S::Shown || state == S::Probing)
            return S::Probing;
        if (state == S::ShownFailed || state == S::ProbingFailed)
            return S::ProbingFailed;
        return state;
    case Event::NavigateInDocument:
        return state == S::Shown ? S::Requested : state;
    case Event::SameDocumentShown:
        return state == S::Requested ? S::Shown : state;
    case Event::ProbeAnswered:
        return isProbing(state) ? S::Requested : state;
    case Event::ProbeUnanswered:
        return isProbing(state) ? S::Wedged : state;
    case Event::LoadAsked:
        return S::Requested;
    case Event::LoadAskedWhileLoading:
        return S::Loading;
    case Event::LoadStarted:
        return state == S::Requested ? S::Loading : state;
    case Event::LoadSucceeded:
    case Event::LoadFailed:
        switch (state) {
        case S::Loading:
        case S::Stopping:
            // This navigation's end.
        case S::Blank:
        case S::Shown:
        case S::ShownFailed:
        case S::RendererGone:
            // A load that the page started by itself: the document changed.
            return event == Event::LoadSucceeded ? S::Shown : S::ShownFailed;
        default:
            // The end of a load that the navigation abandoned (the page's own move elsewhere),
            // or of one on a renderer that no longer counts.
            return state;
        }
    case Event::RefusedMoveEnded:
        // The engine may report no other end for the load under way: it ends as it stands.
        return state == S::Loading ? S::Shown : state == S::Stopping ? S::ShownFailed : state;
    case Event::Stop:
        switch (state) {
        case S::Probing:
            // The load has not begun: the document shown before stays.
            return S::Shown;
        case S::ProbingFailed:
            return S::ShownFailed;
        case S::Requested:
        case S::Loading:
            // The next end of a load is this navigation's, even when its start has not come.
            return S::Stopping;
        default:
            return state;
        }
    case Event::CollectionUnanswered:
        return S::Wedged;
    case Event::RendererEnded:
        return S::RendererGone;
    case Event::PageReplaced:
        return S::Blank;
    case Event::Destroyed:
        return S::Destroying;
    }
    return state;
}

TWebBrowser::TWebBrowser(QWebEngineProfile* profile, QObject* parent)
    : QObject(parent)
    , d(std::make_unique<Private>()) {
    // With no profile, an identity of its own (destroyed after the pages, as a child made first).
    HarvestProfile* identity = profile ? HarvestProfile::of(profile) : new HarvestProfile(this);
    d->profile = identity ? identity->profile() : profile;
    // The jar that downloads use: it follows the engine's cookie store.
    d->jar = identity ? identity->cookieJar() : new EngineCookieJar(d->profile, this);

    connect(d->profile, &QWebEngineProfile::downloadRequested, this,
            [this](QWebEngineDownloadRequest* request) {
                if (request->page() == d->page)
                    request->cancel();
            });

    createPage();
}

TWebBrowser::~TWebBrowser() {
    // From here on no callback acts: the engine calls the pending script callbacks while its page
    // is destroyed, and this object is then only half there.
    apply(Event::Destroyed);
    d->failCollection = nullptr;
    // The pages must go before the profile they run on, a replaced one still waiting for its
    // deferred deletion included.
    const QList<HiddenWebPage*> pages = findChildren<HiddenWebPage*>(Qt::FindDirectChildrenOnly);
    for (HiddenWebPage* page : pages) {
        page->disconnect(this);
        delete page;
    }
}

TWebBrowser::State TWebBrowser::state() const {
    return d->state;
}

bool TWebBrowser::alive(const QPointer<TWebBrowser>& browser) {
    return browser && browser->d && browser->d->state != State::Destroying;
}

TWebBrowser::State TWebBrowser::apply(Event event) {
    const State was = d->state;
    d->state = next(was, event);
    return was;
}

void TWebBrowser::createPage() {
    if (d->page) {
        d->page->disconnect(this);
        d->page->deleteLater();
    }
    d->page = new HiddenWebPage(d->profile, this);
    connect(d->page, &QWebEnginePage::loadingChanged, this, &TWebBrowser::onLoadingChanged);
    connect(d->page, &QWebEnginePage::renderProcessTerminated, this,
            [this](QWebEnginePage::RenderProcessTerminationStatus status) {
                if (status != QWebEnginePage::NormalTerminationStatus)
                    rendererEnded();
            });
    d->engineLoading = false;
    apply(Event::PageReplaced);
}

void TWebBrowser::Navigate(const QUrl& url) {
    if (d->state == State::Destroying)
        return;
    const quint64 navigation = ++d->navigations;
    d->page->forgetMove();
    // Only the fragment differs from a page that has loaded: the engine scrolls within the document
    // and reports no load, so the completion is reported here, from the event loop.
    if (d->state == State::Shown && !d->engineLoading && url.hasFragment() &&
        url.adjusted(QUrl::RemoveFragment) == LocationURL().adjusted(QUrl::RemoveFragment)) {
        apply(Event::NavigateInDocument);
        QTimer::singleShot(0, this, [this, navigation]() {
            if (navigation != d->navigations || apply(Event::SameDocumentShown) != State::Requested)
                return;
            Q_EMIT DocumentComplete(true, QString());
        });
        return;
    }
    if (!isProbing(next(d->state, Event::Navigate))) {
        // Nothing to ask: a new page, one that is loading anyway (the new load takes the place of
        // the old one), or one whose renderer will not answer (the load brings a fresh renderer,
        // or the page is replaced).
        startNavigation(url);
        return;
    }
    // A renderer still running a script of the page before (one that never ends, say) would never
    // take the navigation: it is asked for a sign of life first, and replaced when none comes. A
    // probe under way is left to answer for this navigation.
    apply(Event::Navigate);
    d->probeUrl = url;
    askRendererForSignOfLife(navigation);
}

void TWebBrowser::askRendererForSignOfLife(quint64 navigation) {
    QPointer<TWebBrowser> self(this);
    d->page->runJavaScript(QStringLiteral("0"), QWebEngineScript::ApplicationWorld,
                           [self, navigation](const QVariant&) {
                               if (!alive(self))
                                   return;
                               shieldEngine(self, [&]() { self->probeAnswered(navigation, true); });
                           });
    QTimer::singleShot(rendererAnswerMs, this, [this, navigation]() { probeAnswered(navigation, false); });
}

void TWebBrowser::probeAnswered(quint64 navigation, bool answered) {
    // Only the probe of the navigation still waiting for it counts; a later Navigate or a Stop has
    // taken its place otherwise.
    if (navigation != d->navigations || !isProbing(d->state))
        return;
    apply(answered ? Event::ProbeAnswered : Event::ProbeUnanswered);
    startNavigation(d->probeUrl);
}

void TWebBrowser::startNavigation(const QUrl& url) {
    if (d->state == State::Wedged) {
        createPage();
        Q_EMIT pageReplaced(d->page);
        if (d->state != State::Blank)
            return; // destroyed, or navigated elsewhere, by a receiver
    }
    // While a load is under way the engine reports no new start: its next end is this one's. A
    // move the page was refused before counts no more: its end, should it come now, is this one's.
    d->page->forgetRefusedMoves();
    apply(d->engineLoading ? Event::LoadAskedWhileLoading : Event::LoadAsked);
    loadInEngine(url, ++d->generation);
}

void TWebBrowser::loadInEngine(const QUrl& url, qint64 generation) {
    // Every document that this navigation brings in carries its number, so that a collection can
    // tell it from the document that showed before.
    QWebEngineScriptCollection& scripts = d->page->scripts();
    const QList<QWebEngineScript> old = scripts.find(generationScriptName);
    for (const QWebEngineScript& s : old)
        scripts.remove(s);
    QWebEngineScript script;
    script.setName(generationScriptName);
    script.setWorldId(QWebEngineScript::ApplicationWorld);
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setRunsOnSubFrames(false);
    script.setSourceCode(QStringLiteral("window.__nepirikaGeneration = %1;").arg(generation));
    scripts.insert(script);
    d->page->load(url);
}

void TWebBrowser::Stop() {
    if (d->state == State::Destroying)
        return;
    apply(Event::Stop);
    stopInEngine();
}

void TWebBrowser::stopInEngine() {
    d->page->triggerAction(QWebEnginePage::Stop);
}

QUrl TWebBrowser::LocationURL() const {
    return d->page->url();
}

QUrl TWebBrowser::MovedTo() const {
    return d->page->lastMove();
}

bool TWebBrowser::NavigationBegun() const {
    return !isProbing(d->state) && d->state != State::Requested;
}

void TWebBrowser::CollectAddresses(int timeoutMs, CollectCallback done) {
    struct Pending {
        CollectCallback done;
        bool finished = false;
        // Since the last piece of the answer came: the bound is for an engine that does not answer.
        QElapsedTimer quiet;
    };
    auto pending = std::make_shared<Pending>();
    pending->done = std::move(done);
    QPointer<TWebBrowser> self(this);
    const qint64 generation = d->generation;

    // Results are always delivered from the event loop, never from inside this call nor from
    // inside the engine, and never once the browser is being destroyed.
    auto deliver = [self, pending](bool ok, PageAddresses addresses, QString reason) {
        if (!alive(self) || pending->finished)
            return;
        pending->finished = true;
        QTimer::singleShot(
            0, self, [self, pending, ok, addresses = std::move(addresses), reason = std::move(reason)]() {
                if (alive(self))
                    pending->done(ok, addresses, reason);
            });
    };

    d->failCollection = [deliver](const QString& reason) {
        deliver(false, {}, reason);
    };
    if (d->state == State::RendererGone) {
        deliver(false, {}, rendererGoneText());
        return;
    }

    pending->quiet.start();
    // Checks the bound, and again when it would run out, until the collection ends. Only the timer
    // that waits keeps the check alive.
    auto expire = std::make_shared<std::function<void()>>();
    *expire = [this, pending, deliver, timeoutMs = std::max(0, timeoutMs),
               again = std::weak_ptr<std::function<void()>>(expire)]() {
        if (pending->finished)
            return;
        if (const qint64 left = timeoutMs - pending->quiet.elapsed(); left > 0) {
            QTimer::singleShot(int(left), this, [check = again.lock()]() { (*check)(); });
            return;
        }
        // The renderer is stuck in a script: the next Navigate replaces the page, and a load
        // still awaited will not be reported.
        apply(Event::CollectionUnanswered);
        deliver(false, {}, tr("時間切れ: ページのスクリプトが終わらず、アドレスを集められませんでした"));
    };
    (*expire)();

    // Cross-origin frames get at most half of the bound to answer.
    const int frameBudgetMs = std::min(AddressCollector::FrameBudgetMs, std::max(0, timeoutMs) / 2);
    AddressCollector::collect(
        d->page, generation, frameBudgetMs,
        [self, deliver](bool ok, const PageAddresses& addresses, const QString& reason) {
            if (alive(self))
                deliver(ok, addresses, ok ? QString() : reason);
        },
        AddressCollector::Limit, CollectedAddress::PageChars, [pending]() { pending->quiet.start(); });
}

QWebEnginePage* TWebBrowser::page() const {
    return d->page;
}

bool TWebBrowser::HasScreen() const {
    return d->hasScreen;
}

void TWebBrowser::setHasScreen(bool has) {
    d->hasScreen = has;
}

void TWebBrowser::WantScreen(bool want) {
    if (want == d->wantsScreen)
        return;
    d->wantsScreen = want;
    Q_EMIT screenWanted(want);
}

bool TWebBrowser::WantsScreen() const {
    return d->wantsScreen;
}

void TWebBrowser::ScreenShown() {
    if (d->wantsScreen)
        Q_EMIT screenShown();
}

QWebEngineProfile* TWebBrowser::profile() const {
    return d->profile;
}

QByteArray TWebBrowser::userAgent() const {
    return d->profile->httpUserAgent().toUtf8();
}

QNetworkCookieJar* TWebBrowser::cookieJar() const {
    return d->jar;
}

QString TWebBrowser::noDocumentText() {
    return tr("ページが表示されませんでした（表示できる文書が返りませんでした）");
}

QString TWebBrowser::loadFailureText(const QWebEngineLoadingInfo& info) {
    switch (info.status()) {
    case QWebEngineLoadingInfo::LoadStartedStatus:
    case QWebEngineLoadingInfo::LoadSucceededStatus:
        return {};
    case QWebEngineLoadingInfo::LoadStoppedStatus:
        // Stopped by the engine itself: the response replaced nothing (a download, "204 No
        // Content"), or another navigation took its place.
        return noDocumentText();
    case QWebEngineLoadingInfo::LoadFailedStatus:
        break;
    }
    // The engine's text for an HTTP status is the body of its own error page, not a reason.
    if (info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain) {
        if (info.errorCode() == 401 || info.errorCode() == 407)
            return EngineErrorText::NeedsLogIn + QStringLiteral("（HTTP %1）").arg(info.errorCode());
        return QStringLiteral("HTTP %1").arg(info.errorCode());
    }
    return EngineErrorText::reason(info.errorCode(), info.errorString());
}

void TWebBrowser::onLoadingChanged(const QWebEngineLoadingInfo& info) {
    switch (info.status()) {
    case QWebEngineLoadingInfo::LoadStartedStatus:
        engineLoadStarted();
        return;
    case QWebEngineLoadingInfo::LoadSucceededStatus:
        engineLoadEnded(info.url(), LoadEnd::Succeeded, {});
        return;
    case QWebEngineLoadingInfo::LoadStoppedStatus:
        engineLoadEnded(info.url(), LoadEnd::Stopped, loadFailureText(info));
        return;
    case QWebEngineLoadingInfo::LoadFailedStatus:
        engineLoadEnded(info.url(), LoadEnd::Failed, loadFailureText(info));
        return;
    }
}

void TWebBrowser::engineLoadStarted() {
    if (d->state == State::Destroying)
        return;
    d->engineLoading = true;
    apply(Event::LoadStarted);
}

void TWebBrowser::engineLoadEnded(const QUrl& url, LoadEnd end, const QString& failureText) {
    if (d->state == State::Destroying)
        return;
    const State was = d->state;
    // The end of a move that the page itself began and that was refused is reported like the end
    // of a load, and the engine may report no other end for a load under way: it ends that load
    // as it stands, with the document that shows (a collection tells whether it is this
    // navigation's). Otherwise it changes nothing.
    const bool refusedMove = end != LoadEnd::Succeeded && d->page->takeRefusedMoveEnd(url);
    if (refusedMove && next(was, Event::RefusedMoveEnded) == was)
        return;
    d->engineLoading = false;
    const QString stopped = tr("読み込みを止めました");
    QString failure;
    if (refusedMove) {
        failure = was == State::Stopping ? stopped : QString();
        apply(Event::RefusedMoveEnded);
    } else {
        failure = was == State::Stopping && end == LoadEnd::Stopped ? stopped : failureText;
        apply(failure.isEmpty() ? Event::LoadSucceeded : Event::LoadFailed);
    }
    // This navigation's end: one completion for each Navigate.
    if (was == State::Loading || was == State::Stopping)
        shieldEngine(this, [&]() { Q_EMIT DocumentComplete(failure.isEmpty(), failure); });
}

QString TWebBrowser::rendererGoneText() {
    return tr("ページの処理が異常終了しました");
}

void TWebBrowser::rendererEnded() {
    if (d->state == State::Destroying)
        return;
    const State was = apply(Event::RendererEnded);
    d->engineLoading = false;
    if (isProbing(was)) {
        // The sign of life will never come; the load brings a new renderer.
        QTimer::singleShot(0, this, [this, navigation = d->navigations]() {
            if (d->state == State::RendererGone && navigation == d->navigations)
                startNavigation(d->probeUrl);
        });
    }
    shieldEngine(this, [&]() {
        if (auto fail = std::exchange(d->failCollection, nullptr))
            fail(rendererGoneText());
        // The engine reports no end of the load that the renderer took with it.
        if (was == State::Requested || was == State::Loading || was == State::Stopping)
            Q_EMIT DocumentComplete(false, rendererGoneText());
    });
}
