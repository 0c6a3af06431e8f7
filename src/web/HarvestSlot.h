#pragma once

#include "TWebBrowser.h"

class PageScroller;
class StaticPageReader;

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>

// One hidden page of the harvester: loads one address at a time into its browser and collects the
// page's addresses, within the bounds of one page (the load time, then the collection time). The
// harvester runs several of them side by side and puts their results in input order.
class HarvestSlot : public QObject {
    Q_OBJECT
public:
    // How long a page waits for a screen that other pages hold before it is collected undrawn.
    static constexpr int ScreenWaitMs = 5000;

    // What one page gave.
    struct Result {
        bool ok = false;
        // Why the page failed, in words for the user; empty when ok.
        QString reason;
        // The page's addresses were read (also from a page that did not complete in time).
        bool collected = false;
        PageAddresses addresses;
        // The response brought no document to show (a download, "204 No Content").
        bool noDocument = false;
    };

    // The browser stays the caller's unless the slot is made its parent.
    explicit HarvestSlot(TWebBrowser* browser, QObject* parent = nullptr);
    ~HarvestSlot() override;

    TWebBrowser* browser() const;
    // True when no page is under way.
    bool isIdle() const;
    void setPageTimeout(int ms);
    void setCollectTimeout(int ms);
    // The no-script mode's quick way: a page that StaticPageReader can read as loading it would
    // show it is read that way; any other page is loaded. Off by default. The reads go through
    // reader, which slots may share (one reader page for them all), or through a reader of the
    // slot's own when none is given.
    void setStaticReading(bool on, StaticPageReader* reader = nullptr);
    // Each loaded page is scrolled to its end (PageScroller) before its addresses are collected; a
    // page read without loading it is not. Off by default.
    void setScrollToEnd(bool on);

    // Starts loading url as page number index; pageDone follows once, never from inside this call.
    void start(int index, const QUrl& url);
    // The end of the browser's load (its DocumentComplete, after Stop). Only the first after start
    // counts; any other is ignored.
    void loadCompleted(bool ok, const QString& errorText);
    // Stops the page under way; no pageDone follows for it.
    void cancel();

Q_SIGNALS:
    void pageDone(int index, const HarvestSlot::Result& result);
    // The browser was destroyed: the slot can load nothing more.
    void browserLost();

private:
    // AwaitingScreen: loaded, waiting for its turn on a shared screen; Showing: on screen, drawn
    // (and scrolled) by PageScroller.
    enum class Stage { Idle, Reading, Navigating, AwaitingScreen, Showing, Collecting };

    void navigate(const QUrl& url);
    void onPageTimeout();
    // A page with a screen is put on it; once there, it is drawn (and scrolled to its end when
    // asked) by PageScroller, then taken off the screen and collected.
    void askForScreen();
    void showPage();
    // The page's scroller, made again for a page that replaced the browser's.
    PageScroller* scroller();
    void collect(bool timedOut);
    void onCollected(bool ok, const PageAddresses& addresses, const QString& reason, bool timedOut);
    // Finishes a collected page, telling a move to a log-in page (a password box) as such.
    void finishAfterLogInCheck(Result result);
    void finish(Result result);
    // The page's time bound in whole seconds, and the reason given when nothing came within it.
    int timeoutSeconds() const;
    QString noAnswerText() const;
    static QString silentFramesText(const QStringList& frames);

    QPointer<TWebBrowser> m_browser;
    // Given or made when the quick way is first turned on; null while it is off.
    QPointer<StaticPageReader> m_reader;
    // The read under way in m_reader.
    quint64 m_read = 0;
    bool m_staticReading = false;
    // Made for the first page loaded with its scripts; null until then.
    PageScroller* m_scroller = nullptr;
    QPointer<QObject> m_scrollerPage;
    bool m_scrollToEnd = false;
    // The scrolling of the current page stopped at its bound.
    bool m_scrollCut = false;
    Stage m_stage = Stage::Idle;
    int m_index = 0;
    quint64 m_token = 0;
    QTimer m_pageTimer;
    // Bounds the wait for a shared screen.
    QTimer m_screenTimer;
    // The engine began to load the current page before its time ran out.
    bool m_loadBegun = true;
    // The current page's time ran out.
    bool m_timedOut = false;
    int m_pageTimeoutMs = 30000;
    int m_collectTimeoutMs = 10000;
};
