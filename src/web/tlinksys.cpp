#include "tlinksys.h"

#include "AddressCollector.h"
#include "AddressInput.h"
#include "AddressPassword.h"
#include "AddressSchemes.h"
#include "DocumentOnlyInterceptor.h"
#include "DownloadURL.h"
#include "LocalFileName.h"
#include "MemoryBudget.h"
#include "RobotsCache.h"
#include "StaticPageReader.h"
#include "TWebBrowser.h"
#include "WorkLimits.h"

#include <QTimer>

#include <algorithm>
#include <utility>

tlinksys::tlinksys(TWebBrowser* browser, QObject* parent)
    : QObject(parent) {
    m_clock.start();
    auto* slot = new HarvestSlot(browser, this);
    adoptBrowser(slot);
    m_slots.push_back(slot);
}

tlinksys::tlinksys(BrowserFactory factory, int parallel, QObject* parent)
    : QObject(parent)
    , m_factory(std::move(factory))
    , m_parallel(std::clamp(parallel, 1, WorkLimits::MostPagesAtOnce)) {
    m_clock.start();
}

tlinksys::~tlinksys() {
    // Pages still loading for this harvester are of no use to anyone any more.
    stopAll();
}

tlinksys::BrowserFactory tlinksys::browsersOn(QWebEngineProfile* profile) {
    return [profile](QObject* parent) {
        return new TWebBrowser(profile, parent);
    };
}

int tlinksys::defaultParallel() {
    return WorkLimits::DefaultPagesAtOnce;
}

int tlinksys::parallel() const {
    return m_parallel;
}

void tlinksys::adoptBrowser(HarvestSlot* slot) {
    slot->setPageTimeout(m_pageTimeoutMs);
    slot->setCollectTimeout(m_collectTimeoutMs);
    connect(slot, &HarvestSlot::pageDone, this, &tlinksys::onPageDone);
    // Without its browsers an analysis cannot go on: it ends as cancelled, the records kept.
    connect(slot, &HarvestSlot::browserLost, this, &tlinksys::Cancel);
    applyNoScripts(slot);
    if (TWebBrowser* browser = slot->browser()) {
        connect(browser, &TWebBrowser::DocumentComplete, this,
                [this, browser](bool ok, const QString& errorText) {
                    browser->Stop();
                    HarvestDocument(browser, ok, errorText);
                });
    }
}

void tlinksys::applyNoScripts(HarvestSlot* slot) {
    TWebBrowser* browser = slot->browser();
    slot->setStaticReading(m_noScripts, m_noScripts && browser ? readerFor(browser->profile()) : nullptr);
    if (browser)
        DocumentOnlyInterceptor::apply(browser->profile(), m_noScripts);
    // Without scripts nothing that scrolling would bring comes.
    slot->setScrollToEnd(m_scrollToEnd && !m_noScripts);
}

StaticPageReader* tlinksys::readerFor(QWebEngineProfile* profile) {
    for (StaticPageReader* reader : m_readers)
        if (reader->profile() == profile)
            return reader;
    auto* reader = new StaticPageReader(profile, this);
    m_readers.push_back(reader);
    return reader;
}

HarvestSlot* tlinksys::idleSlot() {
    for (HarvestSlot* slot : m_slots)
        if (slot->isIdle())
            return slot;
    if (!m_factory || int(m_slots.size()) >= m_parallel)
        return nullptr;
    if (!m_noScripts && int(m_slots.size()) >= m_pagesAllowed)
        return nullptr;
    TWebBrowser* browser = m_factory(this);
    auto* slot = new HarvestSlot(browser, this);
    // The slot owns the browser it loads into.
    if (browser)
        browser->setParent(slot);
    adoptBrowser(slot);
    m_slots.push_back(slot);
    return slot;
}

void tlinksys::LoadAll(const QStringList& lines) {
    if (!Busy) {
        // Each run follows afresh: no page of an earlier run counts as loaded.
        m_follow = LinkFollowing(m_followSettings);
        m_limitSaid = false;
    }
    for (const QString& line : lines) {
        for (const QString& one : AddressInput::lines(line)) {
            m_pending.push_back({++m_lastIndex, one, 0, {}, 0});
            const QUrl url = AddressInput::toUrl(one);
            if (url.isValid())
                m_follow.addGiven(url);
        }
    }
    m_total = m_lastIndex;
    if (!Busy) {
        // Each page at once with scripts is a renderer of its own, whose memory shows only once it
        // runs: what the system has left is weighed once, as a run starts, and on a machine short
        // of memory fewer pages load at once. (Pages read without scripts share one reader page.)
        m_pagesAllowed =
            MemoryBudget::pagesAtOnce(m_parallel, int(m_slots.size()), MemoryBudget::availableBytes());
    }
    Busy = 1;
    scheduleNext();
}

void tlinksys::Load(const QString& line) {
    LoadAll(QStringList{line});
}

void tlinksys::Cancel() {
    if (!Busy)
        return;
    ++m_run;
    m_pending.clear();
    stopAll();
    // Pages loaded ahead of one still loading were never reported: they go with it.
    m_pages.clear();
    m_hostLoading.clear();
    m_nextToRecord = m_lastIndex + 1;
    m_scheduled = false;
    m_total = m_lastIndex;
    Busy = 0;
    Q_EMIT finished(true);
}

void tlinksys::stopAll() {
    for (HarvestSlot* slot : m_slots)
        slot->cancel();
}

void tlinksys::setPageTimeout(int ms) {
    m_pageTimeoutMs = std::max(0, ms);
    for (HarvestSlot* slot : m_slots)
        slot->setPageTimeout(m_pageTimeoutMs);
}

void tlinksys::setCollectTimeout(int ms) {
    m_collectTimeoutMs = std::max(0, ms);
    for (HarvestSlot* slot : m_slots)
        slot->setCollectTimeout(m_collectTimeoutMs);
}

void tlinksys::setNoScripts(bool on) {
    m_noScripts = on;
    for (HarvestSlot* slot : m_slots)
        applyNoScripts(slot);
}

void tlinksys::setScrollToEnd(bool on) {
    m_scrollToEnd = on;
    for (HarvestSlot* slot : m_slots)
        slot->setScrollToEnd(on && !m_noScripts);
}

bool tlinksys::scrollToEnd() const {
    return m_scrollToEnd;
}

bool tlinksys::noScripts() const {
    return m_noScripts;
}

void tlinksys::setFollowing(const LinkFollowing::Settings& settings) {
    m_followSettings = LinkFollowing(settings).settings();
}

const LinkFollowing::Settings& tlinksys::following() const {
    return m_followSettings;
}

void tlinksys::setRobotsUserAgent(const QByteArray& userAgent) {
    m_robotsAgent = userAgent;
}

bool tlinksys::FindURL(const QString& url, qint32 kind) const {
    return List.Contains(url, kind);
}

void tlinksys::scheduleNext() {
    if (m_scheduled)
        return;
    m_scheduled = true;
    // From the event loop: signals never reach the caller from inside LoadAll or from inside the
    // handler of a page.
    QTimer::singleShot(0, this, [this, run = m_run]() {
        if (run != m_run || !m_scheduled)
            return;
        m_scheduled = false;
        startPages();
    });
}

void tlinksys::startPages() {
    const quint64 run = m_run;
    QPointer<tlinksys> self(this);
    // Addresses further on may start while the first wait for their host; only so far ahead, so
    // that a long queue costs nothing here.
    constexpr size_t lookAhead = 64;
    for (size_t pos = 0; pos < m_pending.size() && pos < lookAhead;) {
        HarvestSlot* slot = nullptr;
        const Waiting& waiting = m_pending[pos];
        QString refusal;
        const QUrl url =
            waiting.depth == 0 ? AddressInput::toUrl(waiting.line, &refusal) : QUrl(waiting.line);
        const bool loadable = url.isValid() && AddressSchemes::isHarvestPage(url);
        // An address that cannot be loaded takes no page: it is reported in its turn, when those
        // before it have started.
        if (!loadable && pos > 0) {
            ++pos;
            continue;
        }
        if (loadable) {
            bool skip = false;
            if (!mayStart(url, waiting.depth, &skip) && !skip) {
                ++pos;
                continue;
            }
            if (skip) {
                const int index = waiting.index;
                m_pending.erase(m_pending.begin() + qsizetype(pos));
                skipPage(index);
                continue;
            }
            if (!(slot = idleSlot()))
                break;
        }
        const Waiting taken = m_pending[pos];
        m_pending.erase(m_pending.begin() + qsizetype(pos));
        // A password in the address is for loading the page only: it is neither shown nor kept.
        const QString address =
            AddressPassword::withoutPassword(url.isValid() ? url.toString() : taken.line);
        const int index = taken.index;
        ++m_started;
        Page& page = m_pages[index];
        page.address = address;
        page.depth = taken.depth;
        page.from = taken.from;
        page.joinSet = taken.joinSet;
        if (loadable && !url.host().isEmpty()) {
            page.host = url.host();
            ++m_hostLoading[page.host];
            m_hostStarted.insert(page.host, m_clock.elapsed());
        }
        Q_EMIT pageStarted(index, m_total, address);
        if (!self || run != m_run)
            return; // cancelled from a pageStarted handler
        if (!url.isValid())
            onPageDone(index,
                       {false, refusal.isEmpty() ? tr("アドレスとして読めません") : refusal, false, {}});
        else if (!loadable)
            onPageDone(index,
                       {false,
                        tr("ページのアドレスではありません（http, https, file のアドレスを読み込みます）"),
                        false,
                        {}});
        else
            slot->start(index, url);
        if (!self || run != m_run)
            return;
    }
    if (m_pending.empty() && m_pages.empty() && Busy) {
        Busy = 0;
        Q_EMIT finished(false);
    }
}

bool tlinksys::mayStart(const QUrl& url, int depth, bool* skip) {
    *skip = false;
    // robots.txt speaks of crawlers: of the pages followed, not of those the person gave.
    if (depth > 0 && m_followSettings.obeyRobots) {
        if (!m_robots) {
            m_robots = new RobotsCache(m_robotsAgent, this);
            connect(m_robots, &RobotsCache::known, this, &tlinksys::scheduleNext);
        }
        if (!m_robots->isKnown(url))
            return false;
        if (!m_robots->allows(url)) {
            *skip = true;
            return false;
        }
    }
    const QString host = url.host();
    if (host.isEmpty())
        return true; // a local file
    if (m_hostLoading.value(host) >= LinkFollowing::PagesPerHost)
        return false;
    const qint64 delayMs = qint64(m_followSettings.delaySeconds * 1000);
    const auto last = m_hostStarted.constFind(host);
    if (delayMs > 0 && last != m_hostStarted.cend()) {
        const qint64 left = *last + delayMs - m_clock.elapsed();
        if (left > 0) {
            if (!m_delayTimer) {
                m_delayTimer = new QTimer(this);
                m_delayTimer->setSingleShot(true);
                connect(m_delayTimer, &QTimer::timeout, this, &tlinksys::scheduleNext);
            }
            if (!m_delayTimer->isActive() || m_delayTimer->remainingTime() > left)
                m_delayTimer->start(int(left));
            return false;
        }
    }
    return true;
}

void tlinksys::skipPage(int index) {
    Page& page = m_pages[index];
    page.done = true;
    page.silent = true;
    scheduleNext();
    // Recorded in its turn, with the pages before it.
    QTimer::singleShot(0, this, [this, run = m_run]() {
        if (run == m_run)
            recordInOrder();
    });
}

void tlinksys::pageEnded(int index) {
    auto page = m_pages.find(index);
    if (page == m_pages.end() || page->second.host.isEmpty())
        return;
    auto loading = m_hostLoading.find(page->second.host);
    if (loading != m_hostLoading.end() && --*loading <= 0)
        m_hostLoading.erase(loading);
    page->second.host.clear();
}

void tlinksys::HarvestDocument(TWebBrowser* browser, bool ok, const QString& errorText) {
    if (!Busy || !browser)
        return;
    for (HarvestSlot* slot : m_slots)
        if (slot->browser() == browser)
            slot->loadCompleted(ok, errorText);
}

void tlinksys::onPageDone(int index, const HarvestSlot::Result& result) {
    auto page = m_pages.find(index);
    if (page == m_pages.end())
        return;
    page->second.done = true;
    page->second.result = result;
    pageEnded(index);
    const quint64 run = m_run;
    QPointer<tlinksys> self(this);
    Q_EMIT pageLoaded(index);
    // A handler may have cancelled the analysis, or destroyed the harvester.
    if (!self || run != m_run)
        return;
    recordInOrder();
}

void tlinksys::recordInOrder() {
    const quint64 run = m_run;
    QPointer<tlinksys> self(this);
    for (auto page = m_pages.find(m_nextToRecord); page != m_pages.end() && page->second.done;
         page = m_pages.find(m_nextToRecord)) {
        const Page done = std::move(page->second);
        m_pages.erase(page);
        ++m_nextToRecord;
        m_address = done.address;
        bool report = !done.silent;
        if (report && done.depth > 0) {
            report = recordFollowed(done);
        } else if (report && done.result.collected) {
            m_follow.settle(QUrl(done.address), done.result.addresses.location);
            const qint32 setBase = m_sets;
            addRecords(done.result.addresses);
            queueLinks(done, done.result.addresses, setBase);
        }
        if (report) {
            QString reason = done.result.reason;
            if (!done.result.ok && done.depth > 0)
                reason = tr("%1（リンク元: %2）").arg(reason, done.from);
            Q_EMIT pageFinished(done.address, done.result.ok, reason);
            // A handler may have cancelled the analysis, or destroyed the harvester.
            if (!self || run != m_run)
                return;
        }
        if (!m_limitNote.isEmpty()) {
            // Said once, as a failure of its own: the run did not load all it was to load.
            const QString note = std::exchange(m_limitNote, QString());
            Q_EMIT pageFinished(m_limitLink, false, note);
            if (!self || run != m_run)
                return;
        }
        Q_EMIT progress(m_nextToRecord - 1, m_lastIndex - (m_nextToRecord - 1));
        if (!self || run != m_run)
            return;
    }
    // The next pages are started from the event loop, so a handler of pageFinished may Cancel.
    scheduleNext();
}

bool tlinksys::recordFollowed(const Page& page) {
    const HarvestSlot::Result& result = page.result;
    // A link to a file the engine does not show (a download) is no page, and no failure either.
    if (result.noDocument)
        return false;
    if (!result.collected)
        return true; // a failure, reported with the page that linked it
    const PageAddresses& addresses = result.addresses;
    const QUrl location = addresses.location.isValid() ? addresses.location : QUrl(page.address);
    // Moved to another host: that host's page, followed only across hosts. Moved to a page that
    // was loaded already: not again.
    if (!m_followSettings.spanHosts &&
        location.host().compare(QUrl(page.address).host(), Qt::CaseInsensitive) != 0 &&
        location.host().compare(QUrl(page.from).host(), Qt::CaseInsensitive) != 0)
        return false;
    if (!m_follow.settle(QUrl(page.address), location))
        return false;
    // A redirect to a page that its host's robots.txt keeps out (when that is known by now).
    if (m_followSettings.obeyRobots && m_robots && !m_robots->allows(location))
        return false;
    if (!LinkFollowing::isPageType(addresses.type)) {
        // Not a page: a picture is kept as the image it is, anything else passed over.
        if (!addresses.type.startsWith(QLatin1String("image/"), Qt::CaseInsensitive))
            return false;
        tURLData record = tURLData::make(location.toString(), tURLData::KindImage, Level, page.from,
                                         QStringLiteral("a@href"));
        record.Depth = page.depth;
        record.Set = page.joinSet;
        if (!FindURL(record.URL, record.Kind))
            List.Add(record);
        return true;
    }
    const qint32 setBase = m_sets;
    addRecords(addresses, page.depth, page.joinSet);
    queueLinks(page, addresses, setBase);
    return true;
}

void tlinksys::queueLinks(const Page& page, const PageAddresses& addresses, qint32 setBase) {
    if (page.depth >= m_followSettings.depth)
        return;
    const QUrl from = addresses.location.isValid() ? addresses.location : QUrl(page.address);
    const QString fromText = from.toString();
    QHash<qsizetype, qint32> sets;
    for (const PageAddresses::LinkSet& linkSet : addresses.linkSets)
        sets.insert(linkSet.index, setBase + linkSet.set);
    for (qsizetype i = 0; i < addresses.links.size(); ++i) {
        const QString& link = addresses.links.at(i);
        const QString via = i < addresses.linkVias.size() ? addresses.linkVias.at(i) : QString();
        switch (m_follow.consider(link, via, from, page.depth)) {
        case LinkFollowing::Verdict::Follow:
            // A page followed from a thumbnail's link holds the picture behind it: its pictures join
            // the thumbnail's set (the first page's own set numbers go on from there).
            m_pending.push_back({++m_lastIndex, QUrl(link).adjusted(QUrl::RemoveFragment).toString(),
                                 page.depth + 1, fromText, sets.value(i)});
            break;
        case LinkFollowing::Verdict::OverLimit:
            if (!m_limitSaid) {
                m_limitSaid = true;
                m_limitNote = tr("ページ数の上限 %L1 に達しました。これより先のリンク先は読み込みません")
                                  .arg(m_followSettings.maxPages);
                m_limitLink = link;
            }
            break;
        case LinkFollowing::Verdict::NotFollowed:
            break;
        }
    }
    m_total = m_lastIndex;
}

void tlinksys::addRecords(const PageAddresses& addresses, int depth, qint32 joinSet) {
    m_depth = depth;
    const QString source = addresses.location.isValid() ? addresses.location.toString() : m_address;
    // The vias and encodings stand beside the addresses; a list without them leaves the records'
    // fields empty.
    auto at = [](const QStringList& list, qsizetype i) {
        return i < list.size() ? list.at(i) : QString();
    };
    for (qsizetype i = 0; i < addresses.links.size(); ++i) {
        const QString& link = addresses.links.at(i);
        const QString via = at(addresses.linkVias, i), charset = at(addresses.linkCharsets, i);
        const QString title = at(addresses.linkTitles, i);
        if (link.startsWith(QLatin1String("javascript:"), Qt::CaseInsensitive))
            addRecord(link, tURLData::KindScript, source, via, charset, title);
        else if (!link.startsWith(QLatin1String("mailto:"), Qt::CaseInsensitive))
            addRecord(link, tURLData::KindPage, source, via, charset, title);
    }
    // Sets are numbered after those of the pages before.
    qint32 sets = 0;
    auto fact = addresses.imageFacts.cbegin();
    for (qsizetype i = 0; i < addresses.images.size(); ++i) {
        while (fact != addresses.imageFacts.cend() && fact->index < i)
            ++fact;
        const bool known = fact != addresses.imageFacts.cend() && fact->index == i && fact->set > 0;
        if (known)
            sets = std::max(sets, fact->set);
        addRecord(addresses.images.at(i), tURLData::KindImage, source, at(addresses.imageVias, i),
                  at(addresses.imageCharsets, i), at(addresses.imageTitles, i), at(addresses.imageAlts, i),
                  known ? &*fact : nullptr, m_sets, joinSet);
    }
    for (const PageAddresses::LinkSet& linkSet : addresses.linkSets)
        sets = std::max(sets, linkSet.set);
    m_sets += sets;
    for (qsizetype i = 0; i < addresses.embeds.size(); ++i)
        addRecord(addresses.embeds.at(i), tURLData::KindEmbed, source, at(addresses.embedVias, i),
                  at(addresses.embedCharsets, i), at(addresses.embedTitles, i));
}

void tlinksys::addRecord(const QString& url, qint32 kind, const QString& source, const QString& via,
                         const QString& charset, const QString& title, const QString& alt,
                         const PageAddresses::ImageFact* fact, qint32 setBase, qint32 joinSet) {
    // The addresses of a page loaded with a password carry it (its links resolve against the
    // page's address): the records keep none.
    const QString kept = AddressPassword::withoutPassword(url);
    if (kept.isEmpty() || FindURL(kept, kind))
        return;
    // A script address as an image's or an embed's source runs; it names no file.
    if (kind != tURLData::KindPage && kind != tURLData::KindScript &&
        kept.startsWith(QLatin1String("javascript:"), Qt::CaseInsensitive))
        return;
    tURLData record =
        tURLData::make(kept, kind, Level, AddressPassword::withoutPassword(source), via, charset);
    record.Depth = m_depth;
    record.Title = title;
    record.Alt = alt;
    if (fact) {
        record.Set = setBase + fact->set;
        record.Descriptor = fact->descriptor;
        record.ElementWidth = fact->width;
        record.ElementHeight = fact->height;
    }
    // The pictures of a page followed from a thumbnail's link stand for the picture behind it.
    if (joinSet > 0 && kind == tURLData::KindImage)
        record.Set = joinSet;
    List.Add(record);
}

QString tlinksys::LocalFileName(const QString& url) {
    return ::LocalFileName(url);
}

bool tlinksys::DownloadURL(const QString& url, const QString& dest) {
    return ::DownloadURL(url, dest);
}
