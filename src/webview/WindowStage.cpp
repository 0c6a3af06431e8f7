#include "WindowStage.h"

#include "WindowViewport.h"

#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>

WindowStage::WindowStage(QObject* parent)
    : QObject(parent)
    , m_view(WindowViewport::makeView()) {}

WindowStage::~WindowStage() {
    if (m_current)
        m_current->offStage();
}

void WindowStage::enter(WindowViewport* viewport) {
    if (!viewport || viewport == m_current || m_waiting.contains(viewport))
        return;
    m_waiting.append(viewport);
    if (!m_current)
        showNext();
}

void WindowStage::leave(WindowViewport* viewport) {
    m_waiting.removeAll(viewport);
    if (!viewport || viewport != m_current)
        return;
    m_current = nullptr;
    viewport->offStage();
    // The next page from the event loop: the one leaving may be on its way to load another.
    QTimer::singleShot(0, this, [this]() {
        if (!m_current)
            showNext();
    });
}

void WindowStage::showNext() {
    while (!m_waiting.isEmpty() && !m_current) {
        WindowViewport* next = m_waiting.takeFirst();
        if (!next || !next->page())
            continue;
        m_current = next;
        // The page leaves its own view for this one; it keeps the same size, so nothing is laid
        // out again.
        m_view->setPage(next->page());
        if (!m_view->isVisible())
            m_view->show();
        WindowViewport::dropPaintedImage(m_view.get());
        next->onStage();
    }
}
