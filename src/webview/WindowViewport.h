#pragma once

#include "tlinksys.h"

#include <QObject>
#include <QPointer>

#include <memory>

class QWebEnginePage;
class QWebEngineProfile;
class QWebEngineView;
class TWebBrowser;
class WindowStage;

// Gives a hidden browser's pages the screen of a browser window of Width × Height: the engine lays
// a page out at the size of the view that holds it, and at 0 × 0 without one, so media queries,
// innerWidth and innerHeight, intersection observers and getBoundingClientRect would see no screen
// at all. The page is held by a view of that size that is never shown, so it is laid out at that
// size from before its first document is created, and off screen: it draws nothing, and its
// animation frames and observers wait. When the browser wants its page on screen, the page is
// shown in a view marked never to appear, either in that view of its own (for a page to scroll,
// which stays there a while) or on a WindowStage that pages take turns on (for a frame or two).
// Nothing ever appears, takes keyboard focus, opens a menu or keeps the program running when its
// windows close.
//
// A view is a widget, so this layer stands beside the web layer, which has no widgets: the window
// and `nepirika harvest` (a QApplication) make their browsers with scripts here; the pages read
// without scripts need no screen and use the web layer's own browsers.
class WindowViewport : public QObject {
    Q_OBJECT
public:
    static constexpr int Width = 1280;
    static constexpr int Height = 720;

    // Made for browser and owned by it; the page goes on stage when shown, or on screen in the
    // viewport's own view without one.
    WindowViewport(TWebBrowser* browser, WindowStage* stage);
    ~WindowViewport() override;

    // Browsers on profile, each with a viewport of its own; their pages take turns on one stage,
    // or each is shown in its own view when pagesStayOnScreen (they are scrolled there).
    static tlinksys::BrowserFactory browsersOn(QWebEngineProfile* profile, bool pagesStayOnScreen);
    // The browsers for a harvest's mode: pages loaded with their scripts get a screen (kept while
    // they are scrolled to their end); pages read without scripts need none.
    static tlinksys::BrowserFactory browsersFor(QWebEngineProfile* profile, bool noScripts, bool scrollToEnd);

    // For the stage.
    QWebEnginePage* page() const;
    // The page is on stage now.
    void onStage();
    // The stage lets go of the page: it goes back into the viewport's own view.
    void offStage();

    // A view as this layer makes them: the window's size, never on screen, never focused.
    static std::unique_ptr<QWebEngineView> makeView();
    // Called once view is shown: its drawing surface lets go of the image it paints the page's
    // frames into (3.5 MiB at the window's size, kept as long as the page lives). The engine
    // makes the frames without it (animation frames and observers run all the same), and no one
    // looks at these views.
    static void dropPaintedImage(QWebEngineView* view);

private:
    void hold(QWebEnginePage* page);
    void want(bool on);

    QPointer<TWebBrowser> m_browser;
    QPointer<WindowStage> m_stage;
    std::unique_ptr<QWebEngineView> m_view;
};
