#pragma once

#include "HarvestSlot.h"
#include "LinkFollowing.h"
#include "TWebBrowser.h"
#include "tURLDataList.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <vector>

class QWebEngineProfile;
class RobotsCache;
class StaticPageReader;

// The page harvester: loads the addresses of one analysis into hidden browser pages, several at a
// time, and records every link, image and embed address of each page. Whatever the number of pages
// loading side by side, the records come out as one page after another would give them: each page's
// records in input order, the duplicate test in that order. A page that is done early waits until
// every page before it is done.
//
// Everything is asynchronous: LoadAll and Load return at once; pageStarted reports each page as it
// starts loading, pageFinished each page in input order once its records are in the list, and
// finished ends the analysis. The harvester connects itself to its browsers: each completion of a
// load is followed by Stop on that browser and then HarvestDocument.
class tlinksys : public QObject {
    Q_OBJECT
public:
    // Makes the browser of one more hidden page, a child of parent.
    using BrowserFactory = std::function<TWebBrowser*(QObject* parent)>;

    // One page at a time, in the given browser (which stays the caller's).
    explicit tlinksys(TWebBrowser* browser, QObject* parent = nullptr);
    // Up to parallel pages at a time, each in a browser that factory makes when it is first needed;
    // they live as long as the harvester and load one page after another.
    tlinksys(BrowserFactory factory, int parallel, QObject* parent = nullptr);
    ~tlinksys() override;

    // Browsers of hidden pages on one shared profile.
    static BrowserFactory browsersOn(QWebEngineProfile* profile);
    // How many pages load at a time unless told otherwise.
    static int defaultParallel();
    // The most pages that load at a time (at least 1).
    int parallel() const;

    tURLDataList List; // the records, harvest order
    qint32 Level = 0;  // always 0, copied into every record
    qint32 Busy = 0;   // 1 from LoadAll / Load until finished

    // One analysis: the lines in order, with the input box's rules (blanks trimmed, blank lines
    // skipped, an address without a scheme taken as an address bar takes it). Lines given while an
    // analysis runs are appended to it.
    void LoadAll(const QStringList& lines);
    // One page.
    void Load(const QString& line);
    // Stops every page that is loading and forgets the addresses still waiting; finished(true)
    // follows. The records of the pages reported by pageFinished stay; those of later pages that
    // were already loaded are dropped with them.
    void Cancel();

    // A page not complete after this long is stopped and harvested as it stands (default 30000).
    void setPageTimeout(int ms);
    // Bound for collecting a loaded page's addresses (default 10000).
    void setCollectTimeout(int ms);
    // The no-script mode for the pages loaded from now on: each page's document and nothing else is
    // fetched and none of its scripts run. An HTML page is read as it stands where StaticPageReader
    // can read it exactly; any other is loaded with DocumentOnlyInterceptor on. Off by default.
    void setNoScripts(bool on);
    bool noScripts() const;
    // Each page loaded from now on is scrolled to its end before it is harvested (see PageScroller:
    // at most 50 screens and 20 seconds a page); a page still growing at the bound is harvested as
    // it stands, with a note. Not in the no-script mode, where nothing would come. Off by default.
    void setScrollToEnd(bool on);
    bool scrollToEnd() const;
    // Following links for the analyses started from now on (see LinkFollowing): after each page,
    // the pages it links to, breadth first, each once a run; their records carry their depth, and
    // the images of a page followed from a thumbnail's link join that thumbnail's set. robots.txt
    // is obeyed for followed pages unless told not to. At most LinkFollowing::PagesPerHost pages
    // of one host load at once, and delaySeconds pass between starting two pages of one host.
    void setFollowing(const LinkFollowing::Settings& settings);
    const LinkFollowing::Settings& following() const;
    // The user agent that robots.txt is fetched with.
    void setRobotsUserAgent(const QByteArray& userAgent);

    // The end of a load in one of the harvester's browsers, after Stop. Only the first completion
    // after a navigation harvests; others, and any while that page is idle, are ignored.
    void HarvestDocument(TWebBrowser* browser, bool ok, const QString& errorText);
    // True when a record of this kind has exactly this address.
    bool FindURL(const QString& url, qint32 kind) const;

    // The name under which an address is stored (see LocalFileName.h), and one download into the
    // file dest (see DownloadURL.h): true when dest holds the whole body. Neither uses the harvester.
    static QString LocalFileName(const QString& url);
    static bool DownloadURL(const QString& url, const QString& dest);

Q_SIGNALS:
    // index is 1-based; total counts the addresses of the analysis so far.
    void pageStarted(int index, int total, const QString& address);
    // As soon as a page has finished loading (or failed), whatever the pages before it still do;
    // its records follow with pageFinished once every page before it is done.
    void pageLoaded(int index);
    // In input order, once the page's records are in the list. ok is false when the page failed (no
    // records) or did not complete in time (harvested as far as it had loaded); reason says which,
    // in words for the user.
    void pageFinished(const QString& address, bool ok, const QString& reason);
    void finished(bool cancelled);
    // After each page whose records are in: pages done, and pages waiting or loading.
    void progress(int done, int queued);

private:
    // A page of the analysis from its start until its records are in the list.
    struct Page {
        QString address;
        bool done = false;
        HarvestSlot::Result result;
        // Followed pages: links away from a given page, the page that linked, the thumbnail's set
        // that its pictures join (0: none).
        int depth = 0;
        QString from;
        qint32 joinSet = 0;
        // The host whose load count it holds while it loads (empty: none).
        QString host;
        // Passed over without a word (robots.txt, a page already loaded): no records, no report.
        bool silent = false;
    };
    // An address waiting for its turn: a line given, or a link to follow. index is its place in
    // the harvest order.
    struct Waiting {
        int index = 0;
        QString line;
        int depth = 0;
        QString from;
        qint32 joinSet = 0;
    };

    void adoptBrowser(HarvestSlot* slot);
    // Turns the no-script mode's quick way on or off in a slot.
    void applyNoScripts(HarvestSlot* slot);
    // The reader shared by the slots whose browsers are on the profile, made when first needed.
    StaticPageReader* readerFor(QWebEngineProfile* profile);
    HarvestSlot* idleSlot();
    void scheduleNext();
    void startPages();
    void onPageDone(int index, const HarvestSlot::Result& result);
    void recordInOrder();
    // The followed page's records as its response allows; false when it is not harvested at all.
    bool recordFollowed(const Page& page);
    void addRecords(const PageAddresses& addresses, int depth = 0, qint32 joinSet = 0);
    // Queues the links of a recorded page that are to be followed.
    void queueLinks(const Page& page, const PageAddresses& addresses, qint32 setBase);
    // Whether a waiting address may start now (its host's robots.txt known and allowing it, its
    // host below its bound and past its delay); skip is set when it is never to load.
    bool mayStart(const QUrl& url, int depth, bool* skip);
    void skipPage(int index);
    void pageEnded(int index);
    // fact: what the page says of an image (its set numbered after setBase), or null. title: the
    // title of the document it stands in; alt: an image's alternative text.
    void addRecord(const QString& url, qint32 kind, const QString& source, const QString& via,
                   const QString& charset, const QString& title, const QString& alt = {},
                   const PageAddresses::ImageFact* fact = nullptr, qint32 setBase = 0, qint32 joinSet = 0);
    void stopAll();

    BrowserFactory m_factory;
    int m_parallel = 1;
    // Pages at once for this run, the memory left considered.
    int m_pagesAllowed = 1;
    std::vector<HarvestSlot*> m_slots;
    // One reader, and so one reader page, for all the slots of a profile however many pages load
    // at a time.
    std::vector<StaticPageReader*> m_readers;
    std::deque<Waiting> m_pending;
    // The last place given in the harvest order.
    int m_lastIndex = 0;
    int m_started = 0;
    int m_total = 0;
    // The next page whose records go into the list (1-based).
    int m_nextToRecord = 1;
    std::map<int, Page> m_pages;
    // The address of the page whose records are being added.
    QString m_address;
    // Counts analyses and cancels: work begun for an earlier one is dropped.
    quint64 m_run = 0;
    // The image sets numbered so far in this harvester's records.
    qint32 m_sets = 0;
    bool m_scheduled = false;
    LinkFollowing::Settings m_followSettings;
    LinkFollowing m_follow;
    bool m_limitSaid = false;
    // The bound's note and the first link it left out, reported after the page being recorded.
    QString m_limitNote;
    QString m_limitLink;
    // The depth of the page whose records are being added.
    int m_depth = 0;
    QByteArray m_robotsAgent;
    RobotsCache* m_robots = nullptr;
    // Pages of each host loading, and when the last one started (m_clock's milliseconds).
    QHash<QString, int> m_hostLoading;
    QHash<QString, qint64> m_hostStarted;
    QElapsedTimer m_clock;
    QTimer* m_delayTimer = nullptr;
    bool m_noScripts = false;
    bool m_scrollToEnd = false;
    int m_pageTimeoutMs = 30000;
    int m_collectTimeoutMs = 10000;
};
