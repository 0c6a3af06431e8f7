#include "WindowViewport.h"

#include "TWebBrowser.h"
#include "WindowStage.h"

#include <QWebEnginePage>
#include <QWebEngineView>

WindowViewport::WindowViewport(TWebBrowser* browser, WindowStage* stage)
    : QObject(browser)
    , m_browser(browser)
    , m_stage(stage)
    , m_view(makeView()) {
    browser->setHasScreen(true);
    hold(browser->page());
    // Before the replacement's first load: the browser loads into it right after saying so.
    connect(browser, &TWebBrowser::pageReplaced, this, [this](QWebEnginePage* page) {
        if (m_stage)
            m_stage->leave(this);
        hold(page);
        if (m_browser && m_browser->WantsScreen())
            want(true);
    });
    connect(browser, &TWebBrowser::screenWanted, this, &WindowViewport::want);
}

WindowViewport::~WindowViewport() {
    if (m_stage)
        m_stage->leave(this);
}

std::unique_ptr<QWebEngineView> WindowViewport::makeView() {
    auto view = std::make_unique<QWebEngineView>();
    view->setAttribute(Qt::WA_DontShowOnScreen);
    // Not a window of the user's: closing the last real window still ends the program.
    view->setAttribute(Qt::WA_QuitOnClose, false);
    view->setFocusPolicy(Qt::NoFocus);
    view->setContextMenuPolicy(Qt::NoContextMenu);
    view->resize(Width, Height);
    return view;
}

void WindowViewport::dropPaintedImage(QWebEngineView* view) {
    // The view's focus proxy is the surface that paints its page. Qt's surface class (QQuickWidget)
    // offers the release only as a slot of its own; it makes a new image only when it is resized,
    // which these views never are.
    QWidget* surface = view ? view->focusProxy() : nullptr;
    if (surface && surface->metaObject()->indexOfSlot("destroyFramebufferObject()") >= 0)
        QMetaObject::invokeMethod(surface, "destroyFramebufferObject");
}

tlinksys::BrowserFactory WindowViewport::browsersOn(QWebEngineProfile* profile, bool pagesStayOnScreen) {
    // The stage lives as long as the last of the factory's copies, and goes before the profile.
    std::shared_ptr<WindowStage> stage;
    if (!pagesStayOnScreen)
        stage = std::make_shared<WindowStage>();
    return [profile, stage](QObject* parent) {
        auto* browser = new TWebBrowser(profile, parent);
        new WindowViewport(browser, stage.get());
        return browser;
    };
}

tlinksys::BrowserFactory WindowViewport::browsersFor(QWebEngineProfile* profile, bool noScripts,
                                                     bool scrollToEnd) {
    return noScripts ? tlinksys::browsersOn(profile) : browsersOn(profile, scrollToEnd);
}

QWebEnginePage* WindowViewport::page() const {
    return m_browser ? m_browser->page() : nullptr;
}

void WindowViewport::onStage() {
    if (m_browser)
        m_browser->ScreenShown();
}

void WindowViewport::offStage() {
    hold(page());
}

void WindowViewport::hold(QWebEnginePage* page) {
    // The page stays the browser's: a view does not own a page that it did not make. A view that
    // is never shown lays the page out at its size all the same.
    if (page)
        m_view->setPage(page);
}

void WindowViewport::want(bool on) {
    if (m_stage) {
        if (on)
            m_stage->enter(this);
        else
            m_stage->leave(this);
        return;
    }
    m_view->setVisible(on);
    if (on)
        dropPaintedImage(m_view.get());
    if (on && m_browser)
        m_browser->ScreenShown();
}
