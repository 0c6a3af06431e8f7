#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>

class QWebEnginePage;

// Scrolls a loaded page to its end as a reader would: a screen at a time, with a pause after each
// for what the page adds to arrive, until the end stops moving, within MostScreens screens and
// MostMs milliseconds. It only scrolls: it follows no link, submits no form and opens no window.
class PageScroller : public QObject {
    Q_OBJECT
public:
    static constexpr int MostScreens = 50;
    static constexpr int MostMs = 20000;
    // The pause after each screen, and how many readings in a row must find the end where it was.
    static constexpr int PauseMs = 400;
    static constexpr int SteadyReadings = 2;

    // done(reachedEnd) runs once, from the event loop: false when a bound ended the scrolling first.
    using Done = std::function<void(bool reachedEnd)>;

    explicit PageScroller(QWebEnginePage* page, QObject* parent = nullptr);
    void start(Done done);
    // Ends the scrolling without a word.
    void cancel();

private:
    void step();
    void onReading(const QVariant& reading);
    void finish(bool reachedEnd);

    QPointer<QWebEnginePage> m_page;
    Done m_done;
    QElapsedTimer m_clock;
    QTimer m_pause;
    QTimer m_bound;
    int m_screens = 0;
    int m_steady = 0;
    double m_lastHeight = -1;
    quint64 m_run = 0;
};
