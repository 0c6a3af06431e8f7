#pragma once

#include "tlinksys.h"

#include <QObject>
#include <QPointer>

#include <memory>

class QWebEnginePage;
class QWebEngineProfile;
class QWebEngineView;
class TWebBrowser;

// Gives a hidden browser's pages the screen of a browser window of Width × Height: the engine lays
// a page out at the size of the view that shows it, and at 0 × 0 without one, so media queries,
// innerWidth and innerHeight, intersection observers and getBoundingClientRect see no screen at all.
// A view of that size, marked as never to be put on screen, is shown: to the engine the page is
// visible (its animation frames and observers run) from before its first document is created, and
// nothing ever appears. The view follows the page when the browser replaces it, and never takes
// keyboard focus, opens a menu or keeps the program running when its windows close.
//
// A view is a widget, so this layer stands beside the web layer, which has no widgets: the window
// and `nepirika harvest` (a QApplication) make their browsers with scripts here; the pages read
// without scripts need no screen and use the web layer's own browsers.
class WindowViewport : public QObject {
    Q_OBJECT
public:
    static constexpr int Width = 1280;
    static constexpr int Height = 720;

    // Made for browser and owned by it.
    explicit WindowViewport(TWebBrowser* browser);
    ~WindowViewport() override;

    // Browsers on profile, each with a viewport of its own.
    static tlinksys::BrowserFactory browsersOn(QWebEngineProfile* profile);

private:
    void show(QWebEnginePage* page);

    std::unique_ptr<QWebEngineView> m_view;
};
