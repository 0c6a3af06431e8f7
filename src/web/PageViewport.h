#pragma once

#include <QObject>
#include <QPointer>

#include <functional>

class QWebEnginePage;

// Gives a page that no view shows the screen of a browser window: 1280 × 720 CSS pixels for its
// layout, media queries, innerWidth and innerHeight, and a page that counts as shown, so that its
// animation frames and intersection observers run as they do on a screen. Nothing is ever shown.
//
// The engine sizes a page by its view, and a page without one is laid out at 0 × 0. The size is
// set instead through the engine's developer tools: a tools page attached to the page, whose own
// application is kept from loading (only its bare document, which holds the line to the engine),
// sends the device-metrics override once and stays attached for as long as the page lives (the
// override ends with it).
class PageViewport : public QObject {
    Q_OBJECT
public:
    static constexpr int Width = 1280;
    static constexpr int Height = 720;
    // How long a page waits for the override before it loads without it.
    static constexpr int ReadyWithinMs = 1000;

    // Made for page and owned by it.
    explicit PageViewport(QWebEnginePage* page);

    // The override is in place, or could not be set (then the page loads without it).
    bool isSettled() const;
    // Runs done once the override is settled (at once when it is); a later call replaces it.
    void whenSettled(std::function<void()> done);

private:
    void settle();

    QPointer<QWebEnginePage> m_page;
    QWebEnginePage* m_tools = nullptr;
    bool m_settled = false;
    std::function<void()> m_done;
};
