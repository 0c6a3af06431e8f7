#include "tlinksys.h"

#include "AddressCollector.h"
#include "AddressInput.h"
#include "AddressPassword.h"
#include "AddressSchemes.h"
#include "DocumentOnlyInterceptor.h"
#include "DownloadURL.h"
#include "LocalFileName.h"
#include "MemoryBudget.h"
#include "StaticPageReader.h"
#include "TWebBrowser.h"
#include "WorkLimits.h"

#include <QTimer>

#include <algorithm>

tlinksys::tlinksys(TWebBrowser* browser, QObject* parent)
    : QObject(parent) {
    auto* slot = new HarvestSlot(browser, this);
    adoptBrowser(slot);
    m_slots.push_back(slot);
}

tlinksys::tlinksys(BrowserFactory factory, int parallel, QObject* parent)
    : QObject(parent)
    , m_factory(std::move(factory))
    , m_parallel(std::clamp(parallel, 1, WorkLimits::MostPagesAtOnce)) {}

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
    for (const QString& line : lines)
        m_pending.append(AddressInput::lines(line));
    m_total = m_started + int(m_pending.size());
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
    m_nextToRecord = m_started + 1;
    m_scheduled = false;
    m_total = m_started;
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
    while (!m_pending.isEmpty()) {
        HarvestSlot* slot = nullptr;
        const QString& line = m_pending.first();
        QString refusal;
        const QUrl url = AddressInput::toUrl(line, &refusal);
        const bool loadable = url.isValid() && AddressSchemes::isHarvestPage(url);
        // An address that cannot be loaded takes no page.
        if (loadable && !(slot = idleSlot()))
            break;
        // A password in the address is for loading the page only: it is neither shown nor kept.
        const QString address = AddressPassword::withoutPassword(url.isValid() ? url.toString() : line);
        m_pending.removeFirst();
        const int index = ++m_started;
        m_pages[index].address = address;
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
    if (m_pending.isEmpty() && m_pages.empty() && Busy) {
        Busy = 0;
        Q_EMIT finished(false);
    }
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
        if (done.result.collected)
            addRecords(done.result.addresses);
        Q_EMIT pageFinished(done.address, done.result.ok, done.result.reason);
        // A handler may have cancelled the analysis, or destroyed the harvester.
        if (!self || run != m_run)
            return;
    }
    // The next pages are started from the event loop, so a handler of pageFinished may Cancel.
    scheduleNext();
}

void tlinksys::addRecords(const PageAddresses& addresses) {
    const QString source = addresses.location.isValid() ? addresses.location.toString() : m_address;
    // The vias and encodings stand beside the addresses; a list without them leaves the records'
    // fields empty.
    auto at = [](const QStringList& list, qsizetype i) {
        return i < list.size() ? list.at(i) : QString();
    };
    for (qsizetype i = 0; i < addresses.links.size(); ++i) {
        const QString& link = addresses.links.at(i);
        const QString via = at(addresses.linkVias, i), charset = at(addresses.linkCharsets, i);
        if (link.startsWith(QLatin1String("javascript:"), Qt::CaseInsensitive))
            addRecord(link, tURLData::KindScript, source, via, charset);
        else if (!link.startsWith(QLatin1String("mailto:"), Qt::CaseInsensitive))
            addRecord(link, tURLData::KindPage, source, via, charset);
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
                  at(addresses.imageCharsets, i), known ? &*fact : nullptr, m_sets);
    }
    m_sets += sets;
    for (qsizetype i = 0; i < addresses.embeds.size(); ++i)
        addRecord(addresses.embeds.at(i), tURLData::KindEmbed, source, at(addresses.embedVias, i),
                  at(addresses.embedCharsets, i));
}

void tlinksys::addRecord(const QString& url, qint32 kind, const QString& source, const QString& via,
                         const QString& charset, const PageAddresses::ImageFact* fact, qint32 setBase) {
    // The addresses of a page loaded with a password carry it (its links resolve against the
    // page's address): the records keep none.
    const QString kept = AddressPassword::withoutPassword(url);
    if (kept.isEmpty() || FindURL(kept, kind))
        return;
    tURLData record =
        tURLData::make(kept, kind, Level, AddressPassword::withoutPassword(source), via, charset);
    if (fact) {
        record.Set = setBase + fact->set;
        record.Descriptor = fact->descriptor;
        record.ElementWidth = fact->width;
        record.ElementHeight = fact->height;
    }
    List.Add(record);
}

QString tlinksys::LocalFileName(const QString& url) {
    return ::LocalFileName(url);
}

bool tlinksys::DownloadURL(const QString& url, const QString& dest) {
    return ::DownloadURL(url, dest);
}
