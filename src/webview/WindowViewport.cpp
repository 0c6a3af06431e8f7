#include "WindowViewport.h"

#include "TWebBrowser.h"

#include <QWebEnginePage>
#include <QWebEngineView>

WindowViewport::WindowViewport(TWebBrowser* browser)
    : QObject(browser)
    , m_view(std::make_unique<QWebEngineView>()) {
    m_view->setAttribute(Qt::WA_DontShowOnScreen);
    // Not a window of the user's: closing the last real window still ends the program.
    m_view->setAttribute(Qt::WA_QuitOnClose, false);
    m_view->setFocusPolicy(Qt::NoFocus);
    m_view->setContextMenuPolicy(Qt::NoContextMenu);
    m_view->resize(Width, Height);
    show(browser->page());
    // Before the replacement's first load: the browser loads into it right after saying so.
    connect(browser, &TWebBrowser::pageReplaced, this, &WindowViewport::show);
}

WindowViewport::~WindowViewport() = default;

tlinksys::BrowserFactory WindowViewport::browsersOn(QWebEngineProfile* profile) {
    return [profile](QObject* parent) {
        auto* browser = new TWebBrowser(profile, parent);
        new WindowViewport(browser);
        return browser;
    };
}

void WindowViewport::show(QWebEnginePage* page) {
    if (!page)
        return;
    // The page stays the browser's: a view does not own a page that it did not make.
    m_view->setPage(page);
    if (!m_view->isVisible())
        m_view->show();
}
