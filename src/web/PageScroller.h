#pragma once

#include "WorkLimits.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>

class QWebEnginePage;

// Shows a loaded page to its reader before it is harvested. First it waits, within FrameMs, for the
// frame that shows the loaded page (then its intersection observers and animation frames have
// answered, as they have by the time a person sees it; a page that no screen shows draws none and
// is not waited for). Then, when asked, it scrolls the page to its end as a reader would: a screen
// at a time, with a pause after each for what the page adds to arrive, until the end stops moving,
// within MostScreens screens and MostMs milliseconds. It only scrolls: it follows no link, submits
// no form and opens no window.
class PageScroller : public QObject {
    Q_OBJECT
public:
    static constexpr int MostScreens = WorkLimits::MostScrollScreens;
    static constexpr int MostMs = WorkLimits::MostScrollMs;
    // The pause after each screen, and how many readings in a row must find the end where it was.
    static constexpr int PauseMs = 400;
    static constexpr int SteadyReadings = 2;
    static constexpr int FrameMs = 1000;

    // done(reachedEnd) runs once, from the event loop: false when a bound ended the scrolling (or the
    // wait for the frame) first.
    using Done = std::function<void(bool reachedEnd)>;

    explicit PageScroller(QWebEnginePage* page, QObject* parent = nullptr);
    // Readies the wait for the frame while the page is still off screen.
    void arm();
    // Waits for the loaded page's frame, then scrolls to the end if toEnd.
    void start(bool toEnd, Done done);
    // Ends the scrolling without a word.
    void cancel();

private:
    void awaitFrame();
    void onFrameReading(const QVariant& shown);
    void step();
    void onReading(const QVariant& reading);
    // Runs script in the page's application world; then gets its result unless the scroller was
    // cancelled, restarted or finished meanwhile.
    void runInPage(const QString& script, void (PageScroller::*then)(const QVariant&));
    void finish(bool reachedEnd);

    QPointer<QWebEnginePage> m_page;
    Done m_done;
    bool m_toEnd = false;
    bool m_awaitingFrame = false;
    QElapsedTimer m_clock;
    QTimer m_pause;
    QTimer m_bound;
    int m_screens = 0;
    int m_steady = 0;
    double m_lastHeight = -1;
    quint64 m_run = 0;
};
