#include "Tkoukoku.h"

#include <QDesktopServices>
#include <QPaintEvent>
#include <QTimer>

#include <utility>

namespace {

// The layout's size of the frame and of the browser area inside it.
constexpr int LayoutWidth = 443;
constexpr int LayoutHeight = 150;
constexpr int LayoutBrowserLeft = 176;
constexpr int LayoutBrowserWidth = 300;

} // namespace

Tkoukoku::Tkoukoku(QWidget* parent, const QUrl& listUrl, std::chrono::milliseconds interval)
    : QFrame(parent)
    , m_listUrl(listUrl)
    , m_interval(interval)
    , m_linkOpener([](const QUrl& url) { QDesktopServices::openUrl(url); }) {
    setObjectName(QStringLiteral("Tkoukoku"));
    resize(LayoutWidth, LayoutHeight);
    setMinimumHeight(0);
    setFixedHeight(LayoutHeight);

    koukokutimer = new QTimer(this);
    koukokutimer->setObjectName(QStringLiteral("koukokutimer"));
    koukokutimer->setInterval(30000);
    connect(koukokutimer, &QTimer::timeout, this, &Tkoukoku::koukokutimerTimer);

    // Started by the first paint, so that nothing here delays the window's first appearance.
    kidou = new QTimer(this);
    kidou->setObjectName(QStringLiteral("kidou"));
    kidou->setInterval(3);
    kidou->setSingleShot(true);
    connect(kidou, &QTimer::timeout, this, &Tkoukoku::kidouTimer);

    m_retryTimer = new QTimer(this);
    m_retryTimer->setSingleShot(true);
    connect(m_retryTimer, &QTimer::timeout, this, &Tkoukoku::requestList);
}

Tkoukoku::~Tkoukoku() = default;

QUrl Tkoukoku::defaultListUrl() {
    return QUrl(QStringLiteral(NEPIRIKA_AD_LIST_URL));
}

QStringList Tkoukoku::parseAdList(const QString& text) {
    QStringList entries;
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    const QString body = nul < 0 ? text : text.left(nul);
    qsizetype start = 0;
    const auto take = [&entries](QString line) {
        line = line.trimmed();
        const QUrl url(line, QUrl::StrictMode);
        const QString scheme = url.scheme().toLower();
        if (url.isValid() && (scheme == u"http" || scheme == u"https") && !url.host().isEmpty())
            entries.append(line);
    };
    for (qsizetype i = 0; i < body.size(); ++i) {
        const QChar c = body.at(i);
        if (c != u'\r' && c != u'\n')
            continue;
        take(body.mid(start, i - start));
        if (c == u'\r' && i + 1 < body.size() && body.at(i + 1) == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < body.size())
        take(body.mid(start));
    return entries;
}

void Tkoukoku::setRetryDelays(std::chrono::milliseconds first, std::chrono::milliseconds longest) {
    m_firstRetryDelay = first;
    m_longestRetryDelay = longest;
}

void Tkoukoku::setListTimeout(std::chrono::milliseconds timeout) {
    m_listTimeout = timeout;
}

void Tkoukoku::setLinkOpener(std::function<void(const QUrl&)> opener) {
    m_linkOpener = std::move(opener);
}

TWebBrowser* Tkoukoku::browser() const {
    return nullptr;
}

QWebEngineView* Tkoukoku::view() const {
    return nullptr;
}

QUrl Tkoukoku::currentAdvertisement() const {
    return m_currentAd;
}

bool Tkoukoku::isRotating() const {
    return koukokutimer->isActive();
}

void Tkoukoku::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    if (!m_painted) {
        m_painted = true;
        kidou->start();
    }
}

void Tkoukoku::kidouTimer() {
    kidou->stop();
    BannerWidth = 477;
    BannerHeight = 68;
    setFixedHeight(BannerHeight);
    LastIndex = -5;
    IntervalSeconds = 30;
    Q_UNUSED(LayoutBrowserLeft);
    Q_UNUSED(LayoutBrowserWidth);
}

void Tkoukoku::koukokuwebDocumentComplete(bool ok, const QString& errorText) {
    Q_UNUSED(ok);
    Q_UNUSED(errorText);
}

void Tkoukoku::koukokutimerTimer() {}

void Tkoukoku::ReadAdList() {}

void Tkoukoku::createBrowser() {}

void Tkoukoku::requestList() {}

void Tkoukoku::listAttemptFailed(const QString& reason) {
    Q_UNUSED(reason);
}

void Tkoukoku::takeList(const QStringList& entries) {
    AdList = entries;
}

void Tkoukoku::showAdvertisement(int index) {
    Q_UNUSED(index);
}
