#include "OuterGeometry.h"

#include <QEvent>
#include <QTimer>
#include <QWidget>

void OuterGeometry::apply(QWidget* window, const QRect& outer) {
    window->move(outer.topLeft());
    window->resize(outer.size());
    window->installEventFilter(new OuterGeometry(window, outer));
}

OuterGeometry::OuterGeometry(QWidget* window, const QRect& outer)
    : QObject(window)
    , m_window(window)
    , m_outer(outer) {}

bool OuterGeometry::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_window && event->type() == QEvent::Show) {
        m_window->removeEventFilter(this);
        // The frame is known once the window manager has decorated the window.
        QTimer::singleShot(100, this, &OuterGeometry::fitFrame);
    }
    return QObject::eventFilter(watched, event);
}

void OuterGeometry::fitFrame() {
    const QSize frame = m_window->frameGeometry().size() - m_window->size();
    if ((frame.width() > 0 || frame.height() > 0) && m_window->size() == m_outer.size())
        m_window->resize(m_outer.size() - frame);
    deleteLater();
}
