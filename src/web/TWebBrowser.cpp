#include "TWebBrowser.h"

#include "AddressCollector.h"
#include "HiddenWebPage.h"

#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QPointer>
#include <QTimer>
#include <QWebEngineCookieStore>
#include <QWebEngineDownloadRequest>
#include <QWebEngineLoadingInfo>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>

namespace {

const QString generationScriptName = QStringLiteral("nepirika-generation");
// How long a healthy renderer may take to answer before a navigation.
constexpr int rendererAnswerMs = 2000;

// The jar that downloads use: it follows the engine's cookie store.
class MirrorCookieJar : public QNetworkCookieJar {
public:
    using QNetworkCookieJar::QNetworkCookieJar;
    void add(const QNetworkCookie& c) { insertCookie(c); }
    void remove(const QNetworkCookie& c) { deleteCookie(c); }
};

} // namespace

struct TWebBrowser::Private {
    QWebEngineProfile* profile = nullptr;
    bool ownProfile = false;
    QPointer<HiddenWebPage> page;
    MirrorCookieJar* jar = nullptr;
    qint64 generation = 0;
    // A collection went unanswered: the renderer is stuck in a script.
    bool wedged = false;
    // Stop was called since the last Navigate.
    bool stopped = false;
    // The top document is loading; the last load succeeded.
    bool loading = false;
    bool lastLoadOk = false;
    // The page has shown a document (a renderer that can be asked for a sign of life).
    bool hasDocument = false;
    quint64 navigations = 0;
    // A navigation has been started and has not completed yet.
    bool awaitingCompletion = false;
    // The engine has reported the start of that navigation's load (or one was under way when it
    // began); until then, the end of a load is that of one the navigation abandoned (the page's own
    // move to another address).
    bool started = false;
    // The renderer ended abnormally; the next load starts a new one.
    bool rendererGone = false;
    // Ends the collection under way with a failure (the renderer is gone and will never answer).
    std::function<void(const QString&)> failCollection;
};

TWebBrowser::TWebBrowser(QWebEngineProfile* profile, QObject* parent)
    : QObject(parent)
    , d(std::make_unique<Private>()) {
    if (profile) {
        d->profile = profile;
    } else {
        d->profile = new QWebEngineProfile(this); // no storage name: off the record
        d->ownProfile = true;
        d->profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
        d->profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
        d->profile->setSpellCheckEnabled(false);
    }

    d->jar = new MirrorCookieJar(this);
    QWebEngineCookieStore* store = d->profile->cookieStore();
    connect(store, &QWebEngineCookieStore::cookieAdded, d->jar,
            [jar = d->jar](const QNetworkCookie& c) { jar->add(c); });
    connect(store, &QWebEngineCookieStore::cookieRemoved, d->jar,
            [jar = d->jar](const QNetworkCookie& c) { jar->remove(c); });
    store->loadAllCookies();

    connect(d->profile, &QWebEngineProfile::downloadRequested, this,
            [this](QWebEngineDownloadRequest* request) {
                if (d->ownProfile || request->page() == d->page)
                    request->cancel();
            });

    createPage();
}

TWebBrowser::~TWebBrowser() {
    // The pages must go before the profile they run on, a replaced one still waiting for its
    // deferred deletion included.
    const QList<HiddenWebPage*> pages = findChildren<HiddenWebPage*>(Qt::FindDirectChildrenOnly);
    for (HiddenWebPage* page : pages)
        delete page;
}

void TWebBrowser::createPage() {
    if (d->page) {
        d->page->disconnect(this);
        d->page->deleteLater();
    }
    d->page = new HiddenWebPage(d->profile, this);
    connect(d->page, &QWebEnginePage::loadingChanged, this, &TWebBrowser::onLoadingChanged);
    connect(d->page, &QWebEnginePage::renderProcessTerminated, this, &TWebBrowser::onRendererTerminated);
    d->wedged = false;
    d->hasDocument = false;
    d->loading = false;
    d->rendererGone = false;
}

void TWebBrowser::Navigate(const QUrl& url) {
    const quint64 navigation = ++d->navigations;
    d->stopped = false;
    if (d->wedged || !d->hasDocument || d->rendererGone) {
        startNavigation(url);
        return;
    }
    // A renderer still running a script of the page before (one that never ends, say) would never
    // take the navigation: it is asked for a sign of life first, and replaced when none comes.
    auto answered = std::make_shared<bool>(false);
    QPointer<TWebBrowser> self(this);
    d->page->runJavaScript(QStringLiteral("0"), QWebEngineScript::ApplicationWorld,
                           [self, answered, navigation, url](const QVariant&) {
                               if (!self || *answered)
                                   return;
                               *answered = true;
                               if (navigation == self->d->navigations && !self->d->stopped)
                                   self->startNavigation(url);
                           });
    QTimer::singleShot(rendererAnswerMs, this, [this, answered, navigation, url]() {
        if (*answered)
            return;
        *answered = true;
        d->wedged = true;
        if (navigation == d->navigations && !d->stopped)
            startNavigation(url);
    });
}

void TWebBrowser::startNavigation(const QUrl& url) {
    if (d->wedged) {
        createPage();
        Q_EMIT pageReplaced(d->page);
    }
    const QUrl current = d->page->url();
    // Only the fragment differs from a page that has loaded: the engine scrolls within the document
    // and reports no load, so the completion is reported here.
    const bool sameDocument = url.hasFragment() && !d->loading && d->lastLoadOk &&
                              url.adjusted(QUrl::RemoveFragment) == current.adjusted(QUrl::RemoveFragment);
    if (sameDocument) {
        QTimer::singleShot(0, this, [this, navigation = d->navigations]() {
            if (navigation != d->navigations || d->loading || d->stopped || !d->awaitingCompletion)
                return;
            d->awaitingCompletion = false;
            Q_EMIT DocumentComplete(true, QString());
        });
    } else {
        // Every document that this navigation brings in carries its number, so that a collection
        // can tell it from the document that showed before.
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
    }
    d->awaitingCompletion = true;
    // While a load is under way the engine reports no new start: its next end is this one's.
    d->started = d->loading;
    d->rendererGone = false;
    d->page->load(url);
}

void TWebBrowser::Stop() {
    d->stopped = true;
    // The next end of a load is this navigation's, even when its start has not been reported yet.
    if (d->awaitingCompletion)
        d->started = true;
    d->page->triggerAction(QWebEnginePage::Stop);
}

QUrl TWebBrowser::LocationURL() const {
    return d->page->url();
}

bool TWebBrowser::NavigationBegun() const {
    return !d->awaitingCompletion || d->started;
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

    // Results are always delivered from the event loop, never from inside this call.
    auto deliver = [self, pending](bool ok, PageAddresses addresses, QString reason) {
        if (!self || pending->finished)
            return;
        pending->finished = true;
        QTimer::singleShot(0, self,
                           [pending, ok, addresses = std::move(addresses), reason = std::move(reason)]() {
                               pending->done(ok, addresses, reason);
                           });
    };

    d->failCollection = [deliver](const QString& reason) {
        deliver(false, {}, reason);
    };
    if (d->rendererGone) {
        deliver(false, {}, rendererGoneText());
        return;
    }

    QTimer::singleShot(std::max(0, timeoutMs), this, [this, pending, deliver]() {
        if (pending->finished)
            return;
        d->wedged = true;
        deliver(false, {}, tr("時間切れ: ページのスクリプトが終わらず、アドレスを集められませんでした"));
    });

    // Cross-origin frames get at most half of the bound to answer.
    const int frameBudgetMs = std::min(AddressCollector::FrameBudgetMs, std::max(0, timeoutMs) / 2);
    AddressCollector::collect(
        d->page, generation, frameBudgetMs,
        [self, deliver](bool ok, const PageAddresses& addresses, const QString& reason) {
            if (self)
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
    const QString detail = info.errorString().trimmed();
    if (!detail.isEmpty())
        return tr("読み込めませんでした: %1").arg(detail);
    return tr("読み込めませんでした (エラー %1)").arg(info.errorCode());
}

void TWebBrowser::onLoadingChanged(const QWebEngineLoadingInfo& info) {
    if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus) {
        d->loading = true;
        d->started = true;
        return;
    }
    d->loading = false;
    d->hasDocument = true;
    const QString failure = info.status() == QWebEngineLoadingInfo::LoadStoppedStatus && d->stopped
                                ? tr("読み込みを止めました")
                                : loadFailureText(info);
    d->lastLoadOk = failure.isEmpty();
    // One completion for each Navigate: not the end of a load that the page started by itself, nor
    // that of one the navigation abandoned.
    if (!d->awaitingCompletion || !d->started)
        return;
    d->awaitingCompletion = false;
    Q_EMIT DocumentComplete(failure.isEmpty(), failure);
}

QString TWebBrowser::rendererGoneText() {
    return tr("ページの処理が異常終了しました");
}

void TWebBrowser::onRendererTerminated(int status) {
    if (status == QWebEnginePage::NormalTerminationStatus)
        return;
    d->rendererGone = true;
    d->loading = false;
    d->lastLoadOk = false;
    if (auto fail = std::exchange(d->failCollection, nullptr))
        fail(rendererGoneText());
    // The engine reports no end of the load that the renderer took with it.
    if (std::exchange(d->awaitingCompletion, false))
        Q_EMIT DocumentComplete(false, rendererGoneText());
}
