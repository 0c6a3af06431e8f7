#include "Tkoukoku.h"

#include "AddressInput.h"
#include "TWebBrowser.h"

#include <QDesktopServices>
#include <QEvent>
#include <QPaintEvent>
#include <QRandomGenerator>
#include <QShowEvent>
#include <QTimer>
#include <QVariantMap>
#include <QWebEngineNavigationRequest>
#include <QWebEngineNewWindowRequest>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <algorithm>
#include <utility>

namespace {

// The frame and the browser as laid out, before the start-up timer sizes them.
constexpr int LayoutWidth = 443;
constexpr int LayoutHeight = 150;
constexpr int LayoutBrowserLeft = 176;
constexpr int LayoutBrowserWidth = 300;

// A navigation or window request this soon after the user pressed a button or key in the banner is
// taken as the user's own.
constexpr qint64 UserActionWindowMs = 1500;

// More than any advertisement list needs; a larger document is read only this far.
constexpr int ListTextLimit = 1024 * 1024;

// The list document's type and text, read in a script world of the application's own.
const QString readListScript = QStringLiteral(R"JS(
(function () {
    var e = document.documentElement;
    return {
        type: String(document.contentType),
        text: e ? String(e.textContent).slice(0, %1) : ''
    };
})()
)JS")
                                   .arg(ListTextLimit);

bool isWebAddress(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == u"http" || scheme == u"https") && !url.host().isEmpty();
}

} // namespace

Tkoukoku::Tkoukoku(QWidget* parent, const QUrl& listUrl, std::chrono::milliseconds interval)
    : QFrame(parent)
    , m_listUrl(listUrl)
    , m_interval(std::max(interval, std::chrono::milliseconds(1)))
    , m_linkOpener([](const QUrl& url) { QDesktopServices::openUrl(url); }) {
    setObjectName(QStringLiteral("Tkoukoku"));
    resize(LayoutWidth, LayoutHeight);
    setFixedHeight(LayoutHeight);

    koukokutimer = new QTimer(this);
    koukokutimer->setObjectName(QStringLiteral("koukokutimer"));
    koukokutimer->setInterval(30000);
    connect(koukokutimer, &QTimer::timeout, this, &Tkoukoku::koukokutimerTimer);

    // Started by the frame's first paint: the engine starts only once the window is on the screen.
    kidou = new QTimer(this);
    kidou->setObjectName(QStringLiteral("kidou"));
    kidou->setInterval(3);
    connect(kidou, &QTimer::timeout, this, &Tkoukoku::kidouTimer);

    m_retryTimer = new QTimer(this);
    m_retryTimer->setSingleShot(true);
    connect(m_retryTimer, &QTimer::timeout, this, &Tkoukoku::requestList);

    m_listTimeoutTimer = new QTimer(this);
    m_listTimeoutTimer->setSingleShot(true);
    connect(m_listTimeoutTimer, &QTimer::timeout, this,
            [this]() { listAttemptFailed(tr("広告リストの読み込みが時間切れになりました")); });
}

Tkoukoku::~Tkoukoku() {
    // The view lets go of the page before the page (and the profile under it) goes. Hidden first,
    // so that the engine's compositor stops drawing into it before it is destroyed.
    if (koukokuwebView)
        koukokuwebView->hide();
    delete koukokuwebView;
    delete koukokuweb;
}

QUrl Tkoukoku::defaultListUrl() {
    return QUrl(QStringLiteral(NEPIRIKA_AD_LIST_URL));
}

QStringList Tkoukoku::parseAdList(const QString& text) {
    // The list is split into lines by the same rule as the input box.
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    QStringList entries = AddressInput::lines(nul < 0 ? text : text.left(nul));
    entries.removeIf([](const QString& line) { return !isWebAddress(QUrl(line, QUrl::StrictMode)); });
    return entries;
}

void Tkoukoku::setRetryDelays(std::chrono::milliseconds first, std::chrono::milliseconds longest) {
    m_firstRetryDelay = std::max(first, std::chrono::milliseconds(1));
    m_longestRetryDelay = std::max(longest, m_firstRetryDelay);
}

void Tkoukoku::setListTimeout(std::chrono::milliseconds timeout) {
    m_listTimeout = std::max(timeout, std::chrono::milliseconds(1));
}

void Tkoukoku::setLinkOpener(std::function<void(const QUrl&)> opener) {
    m_linkOpener = std::move(opener);
}

bool Tkoukoku::isLoaded() const {
    return Loaded;
}

int Tkoukoku::lastIndex() const {
    return LastIndex;
}

const QStringList& Tkoukoku::adList() const {
    return AdList;
}

int Tkoukoku::bannerWidth() const {
    return BannerWidth;
}

int Tkoukoku::bannerHeight() const {
    return BannerHeight;
}

int Tkoukoku::intervalSeconds() const {
    return IntervalSeconds;
}

QUrl Tkoukoku::currentAdvertisement() const {
    return m_currentAd;
}

TWebBrowser* Tkoukoku::browser() const {
    return koukokuweb;
}

QWebEngineView* Tkoukoku::view() const {
    return koukokuwebView;
}

bool Tkoukoku::isRotating() const {
    return koukokutimer->isActive();
}

void Tkoukoku::showEvent(QShowEvent* event) {
    QFrame::showEvent(event);
    // Should no paint come (a window that opens covered, say), start a little later all the same.
    if (!m_kidouStarted)
        QTimer::singleShot(1000, this, &Tkoukoku::startKidou);
}

void Tkoukoku::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    startKidou();
}

void Tkoukoku::startKidou() {
    if (m_kidouStarted)
        return;
    m_kidouStarted = true;
    kidou->start();
}

void Tkoukoku::kidouTimer() {
    kidou->stop();

    BannerWidth = 477;
    BannerHeight = 68;
    // The frame follows its parent's width; on its own it takes the banner's.
    if (isWindow())
        resize(BannerWidth, height());
    setFixedHeight(BannerHeight);

    LastIndex = -5;
    IntervalSeconds = static_cast<int>(std::chrono::round<std::chrono::seconds>(m_interval).count());

    createBrowser();
    // Centred once; the browser does not follow later changes of the width.
    const int left = width() / 2 - BannerWidth / 2;
    koukokuwebView->setGeometry(left, 0, BannerWidth, BannerHeight);

    AdList.clear();
    requestList();
}

void Tkoukoku::createBrowser() {
    // A private off-the-record profile: nothing is shared with the harvesting browser.
    koukokuweb = new TWebBrowser(nullptr, this);
    koukokuweb->setObjectName(QStringLiteral("koukokuweb"));
    connect(koukokuweb, &TWebBrowser::DocumentComplete, this, &Tkoukoku::koukokuwebDocumentComplete);

    koukokuwebView = new QWebEngineView(this);
    koukokuwebView->setObjectName(QStringLiteral("koukokuwebView"));
    koukokuwebView->setContextMenuPolicy(Qt::NoContextMenu);
    koukokuwebView->setGeometry(LayoutBrowserLeft, 0, LayoutBrowserWidth, LayoutHeight);
    // Blank until the first advertisement: the list itself is never shown.
    koukokuwebView->hide();
    watchInput(koukokuwebView);
    koukokuwebView->setPage(koukokuweb->page());
    preparePage(koukokuweb->page());

    connect(koukokuweb, &TWebBrowser::pageReplaced, this, [this](QWebEnginePage* page) {
        if (!koukokuwebView)
            return;
        koukokuwebView->setPage(page);
        preparePage(page);
    });
}

void Tkoukoku::preparePage(QWebEnginePage* page) {
    QWebEngineSettings* s = page->settings();
    s->setAttribute(QWebEngineSettings::AutoLoadImages, true);
    s->setAttribute(QWebEngineSettings::ShowScrollBars, false);
    s->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
    s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);

    // A page that asks before it is left cannot hold the rotation: the hidden page answers the
    // engine's question with "leave".

    connect(page, &QWebEnginePage::navigationRequested, this, &Tkoukoku::onNavigationRequested,
            Qt::UniqueConnection);
    connect(page, &QWebEnginePage::newWindowRequested, this, &Tkoukoku::onNewWindowRequested,
            Qt::UniqueConnection);
    if (QWidget* proxy = koukokuwebView ? koukokuwebView->focusProxy() : nullptr)
        watchInput(proxy);
}

void Tkoukoku::watchInput(QObject* object) {
    object->removeEventFilter(this);
    object->installEventFilter(this);
    for (QObject* child : object->children())
        if (child->isWidgetType())
            watchInput(child);
}

bool Tkoukoku::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::ChildAdded: {
        QObject* child = static_cast<QChildEvent*>(event)->child();
        if (child->isWidgetType())
            watchInput(child);
        break;
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::TouchBegin:
        m_lastUserInput.start();
        break;
    default:
        break;
    }
    return QFrame::eventFilter(watched, event);
}

bool Tkoukoku::userActedRecently() const {
    return m_lastUserInput.isValid() && m_lastUserInput.elapsed() < UserActionWindowMs;
}

void Tkoukoku::onNavigationRequested(QWebEngineNavigationRequest& request) {
    // The banner's own loads, and whatever an advertisement does by itself, stay in the banner. What
    // the user follows goes to the user's own browser.
    const bool followed = request.navigationType() == QWebEngineNavigationRequest::LinkClickedNavigation ||
                          request.navigationType() == QWebEngineNavigationRequest::FormSubmittedNavigation;
    if (!followed || !userActedRecently())
        return;
    request.reject();
    openExternally(request.url());
}

void Tkoukoku::onNewWindowRequested(QWebEngineNewWindowRequest& request) {
    // No window is ever opened here; one the user asked for opens in the user's own browser.
    if (request.isUserInitiated())
        openExternally(request.requestedUrl());
}

void Tkoukoku::openExternally(const QUrl& url) {
    if (!isWebAddress(url))
        return;
    // Once per action: a click may bring a navigation and a window request together.
    m_lastUserInput.invalidate();
    if (m_linkOpener)
        m_linkOpener(url);
    Q_EMIT linkOpenedExternally(url);
}

void Tkoukoku::requestList() {
    if (!koukokuweb || Loaded)
        return;
    m_retryTimer->stop();
    ++m_attempt;
    ++m_attemptId;
    m_fetching = true;
    m_reading = false;
    m_listTimeoutTimer->start(m_listTimeout);
    Q_EMIT listRequested(m_attempt);
    koukokuweb->Navigate(m_listUrl);
}

void Tkoukoku::koukokuwebDocumentComplete(bool ok, const QString& errorText) {
    if (Loaded) {
        // An advertisement page. A single advertisement that failed to load is tried again after
        // the interval; with two or more the rotation is already on its way.
        if (!ok && AdList.size() == 1 && !koukokutimer->isActive())
            koukokutimer->start(m_interval);
        return;
    }
    if (!m_fetching || m_reading)
        return;
    if (!ok) {
        listAttemptFailed(errorText);
        return;
    }
    ReadAdList();
}

void Tkoukoku::ReadAdList() {
    m_reading = true;
    const quint64 attempt = m_attemptId;
    QPointer<Tkoukoku> self(this);
    koukokuweb->page()->runJavaScript(
        readListScript, QWebEngineScript::ApplicationWorld, [self, attempt](const QVariant& result) {
            if (!self || self->Loaded || !self->m_fetching || attempt != self->m_attemptId)
                return;
            self->m_reading = false;
            const QVariantMap map = result.toMap();
            const QString type = map.value(QStringLiteral("type")).toString();
            if (map.isEmpty())
                self->listAttemptFailed(tr("広告リストを読み取れませんでした"));
            else if (type.compare(u"text/plain", Qt::CaseInsensitive) != 0)
                self->listAttemptFailed(tr("広告リストがテキストではありません (%1)").arg(type));
            else
                self->takeList(parseAdList(map.value(QStringLiteral("text")).toString()));
        });
}

void Tkoukoku::listAttemptFailed(const QString& reason) {
    m_fetching = false;
    m_reading = false;
    ++m_attemptId;
    m_listTimeoutTimer->stop();
    koukokuweb->Stop();
    koukokuwebView->hide();

    // 1, 2, 4 … minutes, never more than the longest delay.
    std::chrono::milliseconds delay = m_firstRetryDelay;
    for (int i = 0; i < m_failures && delay < m_longestRetryDelay; ++i)
        delay *= 2;
    delay = std::min(delay, m_longestRetryDelay);
    ++m_failures;

    m_retryTimer->start(delay);
    Q_EMIT listFailed(reason, delay.count());
}

void Tkoukoku::takeList(const QStringList& entries) {
    m_fetching = false;
    m_failures = 0;
    m_listTimeoutTimer->stop();

    AdList = entries;
    Loaded = true;
    Q_EMIT listTaken();

    if (AdList.isEmpty()) {
        // Nothing to show: the list document goes, the banner stays blank.
        koukokuweb->Navigate(QUrl(QStringLiteral("about:blank")));
        return;
    }
    // The first advertisement follows at once and replaces the list document (which was never
    // shown). A blank page in between would only race with it.
    koukokutimer->start(1);
}

void Tkoukoku::koukokutimerTimer() {
    const int n = static_cast<int>(AdList.size());
    // The next tick comes one interval after this one, whatever becomes of this advertisement.
    koukokutimer->setInterval(m_interval);
    if (n == 0) {
        koukokutimer->stop();
        return;
    }
    if (n == 1) {
        // A single advertisement is shown and stays.
        koukokutimer->stop();
        showAdvertisement(0);
        return;
    }
    // Uniform over every entry but the one shown last.
    int a = 0;
    if (LastIndex >= 0 && LastIndex < n) {
        a = static_cast<int>(QRandomGenerator::global()->bounded(n - 1));
        if (a >= LastIndex)
            ++a;
    } else {
        a = static_cast<int>(QRandomGenerator::global()->bounded(n));
    }
    showAdvertisement(a);
}

void Tkoukoku::showAdvertisement(int index) {
    LastIndex = index;
    m_currentAd = QUrl(AdList.at(index));
    koukokuwebView->show();
    koukokuweb->Navigate(m_currentAd);
    Q_EMIT advertisementShown(index, m_currentAd);
}
