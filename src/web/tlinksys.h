#pragma once

#include "tURLDataList.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>

class TWebBrowser;
struct PageAddresses;

// The page harvester: loads the addresses of one analysis one after another into the hidden
// browser and records every link, image and embed address of each page, in harvest order.
//
// Everything is asynchronous: LoadAll and Load return at once; pageStarted / pageFinished report
// each page and finished ends the analysis. The owner of the browser connects its DocumentComplete
// to a handler that calls Stop on the browser and then HarvestDocument here.
class tlinksys : public QObject {
    Q_OBJECT
public:
    explicit tlinksys(TWebBrowser* browser, QObject* parent = nullptr);
    ~tlinksys() override;

    tURLDataList List; // the records, harvest order
    qint32 Level = 0;  // always 0, copied into every record
    qint32 Busy = 0;   // 1 from LoadAll / Load until finished

    // One analysis: the lines in order, with the input box's rules (blanks trimmed, blank lines
    // skipped, an address without a scheme taken as an address bar takes it). Lines given while an
    // analysis runs are appended to it.
    void LoadAll(const QStringList& lines);
    // One page.
    void Load(const QString& line);
    // Stops what is loading and forgets the addresses still waiting; finished(true) follows. The
    // records found so far stay.
    void Cancel();

    // A page not complete after this long is stopped and harvested as it stands (default 30000).
    void setPageTimeout(int ms);
    // Bound for collecting a loaded page's addresses (default 10000).
    void setCollectTimeout(int ms);

    // The owner calls it from its DocumentComplete handler, after Stop. Only the first completion
    // after a navigation harvests; others, and any while idle, are ignored.
    void HarvestDocument(bool ok, const QString& errorText);
    // True when a record of this kind has exactly this address.
    bool FindURL(const QString& url, qint32 kind) const;

    // The name under which an address is stored (see LocalFileName.h), and one download into the
    // file dest (see DownloadURL.h): true when dest holds the whole body. Neither uses the harvester.
    static QString LocalFileName(const QString& url);
    static bool DownloadURL(const QString& url, const QString& dest);

Q_SIGNALS:
    // index is 1-based; total counts the addresses of the analysis so far.
    void pageStarted(int index, int total, const QString& address);
    // ok is false when the page failed (no records) or did not complete in time (harvested as far
    // as it had loaded); reason says which, in words for the user.
    void pageFinished(const QString& address, bool ok, const QString& reason);
    void finished(bool cancelled);

private:
    static bool isPageScheme(const QString& scheme);

    enum class Stage { Idle, Navigating, Collecting };

    void scheduleNext();
    void startNext();
    void onPageTimeout();
    void collect(bool timedOut);
    void onCollected(bool ok, const PageAddresses& addresses, const QString& reason, bool timedOut);
    void addRecords(const PageAddresses& addresses);
    void addRecord(const QString& url, qint32 kind, const QString& source, const QString& via);
    void finishPage(bool ok, const QString& reason);

    QPointer<TWebBrowser> m_browser;
    QStringList m_pending;
    int m_started = 0;
    int m_total = 0;
    Stage m_stage = Stage::Idle;
    QString m_address;
    QUrl m_url;
    quint64 m_token = 0;
    bool m_scheduled = false;
    QTimer m_pageTimer;
    // The engine began to load the current page before its time ran out.
    bool m_loadBegun = true;
    int m_pageTimeoutMs = 30000;
    int m_collectTimeoutMs = 10000;
};
