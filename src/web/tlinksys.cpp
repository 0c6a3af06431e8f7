#include "tlinksys.h"

#include "AddressCollector.h"
#include "AddressInput.h"
#include "DownloadURL.h"
#include "LocalFileName.h"
#include "TWebBrowser.h"

tlinksys::tlinksys(TWebBrowser* browser, QObject* parent)
    : QObject(parent)
    , m_browser(browser) {
    m_pageTimer.setSingleShot(true);
    connect(&m_pageTimer, &QTimer::timeout, this, &tlinksys::onPageTimeout);
    // Without its browser an analysis cannot go on: it ends as cancelled, the records kept.
    if (browser)
        connect(browser, &QObject::destroyed, this, [this]() {
            m_browser.clear();
            Cancel();
        });
}

tlinksys::~tlinksys() {
    // A page still loading for this harvester is of no use to anyone any more.
    if (m_stage != Stage::Idle && m_browser)
        m_browser->Stop();
}

void tlinksys::LoadAll(const QStringList& lines) {
    for (const QString& line : lines)
        m_pending.append(AddressInput::lines(line));
    m_total = m_started + int(m_pending.size());
    Busy = 1;
    if (m_stage == Stage::Idle)
        scheduleNext();
}

void tlinksys::Load(const QString& line) {
    LoadAll(QStringList{line});
}

void tlinksys::Cancel() {
    if (!Busy)
        return;
    m_pending.clear();
    m_pageTimer.stop();
    ++m_token; // a collection still under way is no longer awaited
    const bool wasLoading = m_stage != Stage::Idle;
    m_stage = Stage::Idle;
    m_scheduled = false;
    m_total = m_started;
    Busy = 0;
    if (wasLoading && m_browser)
        m_browser->Stop();
    Q_EMIT finished(true);
}

void tlinksys::setPageTimeout(int ms) {
    m_pageTimeoutMs = std::max(0, ms);
}

void tlinksys::setCollectTimeout(int ms) {
    m_collectTimeoutMs = std::max(0, ms);
}

bool tlinksys::FindURL(const QString& url, qint32 kind) const {
    return List.Contains(url, kind);
}

bool tlinksys::isPageScheme(const QString& scheme) {
    // A script or mail address has no page of its own: it would act on the page shown before.
    const QString s = scheme.toLower();
    return s == QLatin1String("http") || s == QLatin1String("https") || s == QLatin1String("file");
}

void tlinksys::scheduleNext() {
    if (m_scheduled)
        return;
    m_scheduled = true;
    // From the event loop: signals never reach the caller from inside LoadAll or from inside the
    // handler of the previous page.
    QTimer::singleShot(0, this, [this, token = m_token]() {
        if (token != m_token || !m_scheduled)
            return;
        m_scheduled = false;
        startNext();
    });
}

void tlinksys::startNext() {
    if (m_pending.isEmpty()) {
        m_stage = Stage::Idle;
        Busy = 0;
        Q_EMIT finished(false);
        return;
    }
    const QString line = m_pending.takeFirst();
    ++m_started;
    m_url = AddressInput::toUrl(line);
    m_address = m_url.isValid() ? m_url.toString() : line;
    m_stage = Stage::Navigating;
    Q_EMIT pageStarted(m_started, m_total, m_address);
    if (m_stage != Stage::Navigating)
        return; // cancelled from a pageStarted handler

    if (!m_url.isValid()) {
        finishPage(false, tr("アドレスとして読めません"));
        return;
    }
    if (!isPageScheme(m_url.scheme())) {
        finishPage(false, tr("ページのアドレスではありません（http, https, file のアドレスを読み込みます）"));
        return;
    }
    if (!m_browser) {
        finishPage(false, tr("ブラウザがありません"));
        return;
    }
    m_browser->Navigate(m_url);
    if (m_pageTimeoutMs > 0)
        m_pageTimer.start(m_pageTimeoutMs);
}

void tlinksys::HarvestDocument(bool ok, const QString& errorText) {
    if (!Busy || m_stage != Stage::Navigating)
        return;
    m_pageTimer.stop();
    if (!ok) {
        finishPage(false, errorText.isEmpty() ? tr("読み込めませんでした") : errorText);
        return;
    }
    collect(false);
}

void tlinksys::onPageTimeout() {
    if (m_stage != Stage::Navigating)
        return;
    // Collecting first: the completion that Stop may cause is then ignored.
    m_stage = Stage::Collecting;
    m_loadBegun = !m_browser || m_browser->NavigationBegun();
    if (m_browser)
        m_browser->Stop();
    collect(true);
}

void tlinksys::collect(bool timedOut) {
    m_stage = Stage::Collecting;
    if (!m_browser) {
        finishPage(false, tr("ブラウザがありません"));
        return;
    }
    const quint64 token = ++m_token;
    QPointer<tlinksys> self(this);
    m_browser->CollectAddresses(
        m_collectTimeoutMs, [self, token, timedOut](bool ok, const PageAddresses& a, const QString& reason) {
            if (!self || token != self->m_token || self->m_stage != Stage::Collecting)
                return;
            self->onCollected(ok, a, reason, timedOut);
        });
}

void tlinksys::onCollected(bool ok, const PageAddresses& addresses, const QString& reason, bool timedOut) {
    const int seconds = (m_pageTimeoutMs + 999) / 1000;
    if (!ok) {
        finishPage(false, reason);
        return;
    }
    if (!addresses.fromLastNavigate) {
        if (timedOut && !m_loadBegun)
            finishPage(false, tr("ブラウザがこのアドレスを読み込みませんでした"));
        else
            finishPage(false, timedOut ? tr("時間切れ: %1 秒たっても応答がありません").arg(seconds)
                                       : tr("ページが表示されませんでした（応答に文書がありません）"));
        return;
    }
    addRecords(addresses);
    if (addresses.truncated)
        finishPage(false, tr("アドレスが多すぎます: 1 ページ %L1 件までを集め、それより後は集めていません")
                              .arg(AddressCollector::Limit));
    else if (timedOut)
        finishPage(false,
                   tr("時間切れ: %1 秒で読み込みが終わらず、それまでの内容から集めました").arg(seconds));
    else
        finishPage(true, {});
}

void tlinksys::addRecords(const PageAddresses& addresses) {
    const QString source = addresses.location.isValid() ? addresses.location.toString() : m_address;
    // The vias stand beside the addresses; a list without them leaves the records' via empty.
    auto via = [](const QStringList& vias, qsizetype i) {
        return i < vias.size() ? vias.at(i) : QString();
    };
    for (qsizetype i = 0; i < addresses.links.size(); ++i) {
        const QString& link = addresses.links.at(i);
        if (link.startsWith(QLatin1String("javascript:"), Qt::CaseInsensitive))
            addRecord(link, tURLData::KindScript, source, via(addresses.linkVias, i));
        else if (!link.startsWith(QLatin1String("mailto:"), Qt::CaseInsensitive))
            addRecord(link, tURLData::KindPage, source, via(addresses.linkVias, i));
    }
    for (qsizetype i = 0; i < addresses.images.size(); ++i)
        addRecord(addresses.images.at(i), tURLData::KindImage, source, via(addresses.imageVias, i));
    for (qsizetype i = 0; i < addresses.embeds.size(); ++i)
        addRecord(addresses.embeds.at(i), tURLData::KindEmbed, source, via(addresses.embedVias, i));
}

void tlinksys::addRecord(const QString& url, qint32 kind, const QString& source, const QString& via) {
    if (url.isEmpty() || FindURL(url, kind))
        return;
    List.Add(tURLData::make(url, kind, Level, source, via));
}

void tlinksys::finishPage(bool ok, const QString& reason) {
    m_pageTimer.stop();
    m_stage = Stage::Idle;
    ++m_token;
    const QString address = m_address;
    // The next page is started from the event loop, so a handler of pageFinished may Cancel.
    if (!m_pending.isEmpty() || Busy)
        scheduleNext();
    Q_EMIT pageFinished(address, ok, reason);
}

QString tlinksys::LocalFileName(const QString& url) {
    return ::LocalFileName(url);
}

bool tlinksys::DownloadURL(const QString& url, const QString& dest) {
    return ::DownloadURL(url, dest);
}
