#include "ScrollPlacement.h"

#include <QScrollBar>

namespace ScrollPlacement {

void scrollTo(QScrollBar* bar, const QRect& rect, const QRect& viewport, int offset,
              QAbstractItemView::ScrollHint hint) {
    if (rect.isEmpty())
        return;
    const int top = rect.top() + offset;
    switch (hint) {
    case QAbstractItemView::PositionAtTop:
        bar->setValue(top);
        break;
    case QAbstractItemView::PositionAtBottom:
        bar->setValue(top + rect.height() - viewport.height());
        break;
    case QAbstractItemView::PositionAtCenter:
        bar->setValue(top - (viewport.height() - rect.height()) / 2);
        break;
    case QAbstractItemView::EnsureVisible:
        if (rect.top() < viewport.top())
            bar->setValue(top);
        else if (rect.bottom() > viewport.bottom())
            bar->setValue(top + rect.height() - viewport.height());
        break;
    }
}

} // namespace ScrollPlacement
