#include "TWebBrowser.h"

#include "AddressCollector.h"
#include "EngineCookieJar.h"
#include "EngineErrorText.h"
#include "HarvestProfile.h"
#include "HiddenWebPage.h"

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
    // The engine reports a load under way (the last loadingChanged was a start). A load that the
    // page began by itself counts too: while one runs, the engine reports no new start.
    bool engineLoading = false;
    qint64 generation = 0;
    quint64 navigations = 0;
    // Addresses the page itself tried to go to and was refused, whose end of load is still to
    // come: that end is not the end of the navigation under way.
    QList<QUrl> refused;
    // While Probing: the address to load, and the state to return to when Stop drops it.
    QUrl probeUrl;
    State beforeProbe = State::Blank;
    // Ends the collection under way with a failure (the renderer is gone and will never answer).
    std::function<void(const QString&)> failCollection;

    // A navigation has been asked for and its completion not yet reported.
    bool awaitingCompletion() const {
        return state == State::Probing || state == State::Requested || state == State::Loading ||
               state == State::Stopping;
    }
};

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
    d->state = State::Destroying;
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

void TWebBrowser::enter(State next) {
    // Every change of state passes here; none leaves Destroying.
    if (d->state == State::Destroying)
        return;
    d->state = next;
}

void TWebBrowser::createPage() {
    if (d->page) {
        d->page->disconnect(this);
        d->page->deleteLater();
    }
    d->page = new HiddenWebPage(d->profile, this);
    connect(d->page, &QWebEnginePage::loadingChanged, this, &TWebBrowser::onLoadingChanged);
    connect(d->page, &QWebEnginePage::renderProcessTerminated, this, &TWebBrowser::onRendererTerminated);
    connect(d->page, &HiddenWebPage::mainFrameNavigationRefused, this, [this](const QUrl& url) {
        if (d->refused.size() >= 16)
            d->refused.removeFirst();
        d->refused.append(url);
    });
    d->refused.clear();
    d->engineLoading = false;
    enter(State::Blank);
}

void TWebBrowser::Navigate(const QUrl& url) {
    if (d->state == State::Destroying)
        return;
    const quint64 navigation = ++d->navigations;
    // Only the fragment differs from a page that has loaded: the engine scrolls within the document
    // and reports no load, so the completion is reported here, from the event loop.
    if (d->state == State::Shown && !d->engineLoading && url.hasFragment() &&
        url.adjusted(QUrl::RemoveFragment) == d->page->url().adjusted(QUrl::RemoveFragment)) {
        enter(State::Requested);
        QTimer::singleShot(0, this, [this, navigation]() {
            if (navigation != d->navigations || d->state != State::Requested)
                return;
            enter(State::Shown);
            Q_EMIT DocumentComplete(true, QString());
        });
        return;
    }
    switch (d->state) {
    case State::Blank:
    case State::Requested:
    case State::Loading:
    case State::Stopping:
    case State::Wedged:
    case State::RendererGone:
        // Nothing to ask: a new page, one that is loading anyway (the new load takes the place of
        // the old one), or one whose renderer will not answer (the load brings a fresh renderer,
        // or the page is replaced).
        startNavigation(url);
        return;
    case State::Shown:
    case State::ShownFailed:
    case State::Probing:
    case State::Destroying:
        break;
    }
    // A renderer still running a script of the page before (one that never ends, say) would never
    // take the navigation: it is asked for a sign of life first, and replaced when none comes.
    d->beforeProbe = d->state;
    d->probeUrl = url;
    enter(State::Probing);
    QPointer<TWebBrowser> self(this);
    d->page->runJavaScript(QStringLiteral("0"), QWebEngineScript::ApplicationWorld,
                           [self, navigation, url](const QVariant&) {
                               if (!alive(self))
                                   return;
                               shieldEngine(self, [&]() { self->onProbeAnswered(navigation, url, true); });
                           });
    QTimer::singleShot(rendererAnswerMs, this,
                       [this, navigation, url]() { onProbeAnswered(navigation, url, false); });
}

void TWebBrowser::onProbeAnswered(quint64 navigation, const QUrl& url, bool answered) {
    // Only the probe of the navigation still waiting for it counts; a later Navigate or a Stop has
    // taken its place otherwise.
    if (d->state != State::Probing || navigation != d->navigations)
        return;
    if (!answered)
        enter(State::Wedged);
    startNavigation(url);
}

void TWebBrowser::startNavigation(const QUrl& url) {
    if (d->state == State::Wedged) {
        createPage();
        Q_EMIT pageReplaced(d->page);
        if (d->state != State::Blank)
            return; // destroyed, or navigated elsewhere, by a receiver
    }
    // Every document that this navigation brings in carries its number, so that a collection can
    // tell it from the document that showed before.
    ++d->generation;
    QWebEngineScriptCollection& scripts = d->page->scripts();
    const QList<QWebEngineScript> old = scripts.find(generationScriptName);
    for (const QWebEngineScript& s : old)
        scripts.remove(s);
    QWebEngineScript script;
    script.setName(generationScriptName);
    script.setWorldId(QWebEngineScript::ApplicationWorld);
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setRunsOnSubFrames(false);
    script.setSourceCode(QStringLiteral("window.__nepirikaGeneration = %1;").arg(d->generation));
    scripts.insert(script);
    // While a load is under way the engine reports no new start: its next end is this one's. A
    // move the page was refused before counts no more: its end, should it come now, is this one's.
    d->refused.clear();
    enter(d->engineLoading ? State::Loading : State::Requested);
    d->page->load(url);
}

void TWebBrowser::Stop() {
    switch (d->state) {
    case State::Probing:
        // The load has not begun: there is nothing to end and no completion to report.
        enter(d->beforeProbe);
        break;
    case State::Requested:
    case State::Loading:
        // The next end of a load is this navigation's, even when its start has not been reported.
        enter(State::Stopping);
        break;
    case State::Destroying:
        return;
    default:
        break;
    }
    d->page->triggerAction(QWebEnginePage::Stop);
}

QUrl TWebBrowser::LocationURL() const {
    return d->page->url();
}

bool TWebBrowser::NavigationBegun() const {
    return d->state != State::Probing && d->state != State::Requested;
}

void TWebBrowser::CollectAddresses(int timeoutMs, CollectCallback done) {
    struct Pending {
        CollectCallback done;
        bool finished = false;
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

    QTimer::singleShot(std::max(0, timeoutMs), this, [this, pending, deliver]() {
        if (pending->finished)
            return;
        // The renderer is stuck in a script: the next Navigate replaces the page, and a load
        // still awaited will not be reported.
        enter(State::Wedged);
        deliver(false, {}, tr("時間切れ: ページのスクリプトが終わらず、アドレスを集められませんでした"));
    });

    // Cross-origin frames get at most half of the bound to answer.
    const int frameBudgetMs = std::min(AddressCollector::FrameBudgetMs, std::max(0, timeoutMs) / 2);
    AddressCollector::collect(
        d->page, generation, frameBudgetMs,
        [self, deliver](bool ok, const PageAddresses& addresses, const QString& reason) {
            if (alive(self))
                deliver(ok, addresses, ok ? QString() : reason);
        });
}

QWebEnginePage* TWebBrowser::page() const {
    return d->page;
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

QString TWebBrowser::loadFailureText(const QWebEngineLoadingInfo& info) {
    switch (info.status()) {
    case QWebEngineLoadingInfo::LoadStartedStatus:
    case QWebEngineLoadingInfo::LoadSucceededStatus:
        return {};
    case QWebEngineLoadingInfo::LoadStoppedStatus:
        // Stopped by the engine itself: the response replaced nothing (a download, "204 No
        // Content"), or another navigation took its place.
        return tr("ページが表示されませんでした（表示できる文書が返りませんでした）");
    case QWebEngineLoadingInfo::LoadFailedStatus:
        break;
    }
    // The engine's text for an HTTP status is the body of its own error page, not a reason.
    if (info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain)
        return QStringLiteral("HTTP %1").arg(info.errorCode());
    return EngineErrorText::reason(info.errorCode(), info.errorString());
}

void TWebBrowser::onLoadingChanged(const QWebEngineLoadingInfo& info) {
    if (d->state == State::Destroying)
        return;
    if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus) {
        d->engineLoading = true;
        if (d->state == State::Requested)
            enter(State::Loading);
        return;
    }
    // The end of a move that the page itself began and that was refused is reported like the end
    // of a load, and the engine may report no other end for a load under way: it ends that load
    // as it stands, with the document that shows (a collection tells whether it is this
    // navigation's). Otherwise it changes nothing.
    const bool refusedMove =
        info.status() != QWebEngineLoadingInfo::LoadSucceededStatus && d->refused.removeOne(info.url());
    if (refusedMove && d->state != State::Loading && d->state != State::Stopping)
        return;
    d->engineLoading = false;
    const State was = d->state;
    const QString failure =
        was == State::Stopping && (refusedMove || info.status() == QWebEngineLoadingInfo::LoadStoppedStatus)
            ? tr("読み込みを止めました")
        : refusedMove ? QString()
                      : loadFailureText(info);
    switch (was) {
    case State::Loading:
    case State::Stopping:
        // This navigation's end: one completion for each Navigate.
        enter(failure.isEmpty() ? State::Shown : State::ShownFailed);
        shieldEngine(this, [&]() { Q_EMIT DocumentComplete(failure.isEmpty(), failure); });
        return;
    case State::Blank:
    case State::Shown:
    case State::ShownFailed:
    case State::RendererGone:
        // A load that the page started by itself once it had completed: the document changed.
        enter(failure.isEmpty() ? State::Shown : State::ShownFailed);
        return;
    case State::Probing:
    case State::Requested:
    case State::Wedged:
    case State::Destroying:
        // The end of a load that the navigation abandoned (the page's own move elsewhere), or
        // of one on a renderer that no longer counts.
        return;
    }
}

QString TWebBrowser::rendererGoneText() {
    return tr("ページの処理が異常終了しました");
}

void TWebBrowser::onRendererTerminated(int status) {
    if (status == QWebEnginePage::NormalTerminationStatus || d->state == State::Destroying)
        return;
    const State was = d->state;
    d->engineLoading = false;
    enter(State::RendererGone);
    if (was == State::Probing) {
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
