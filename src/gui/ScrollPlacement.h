#pragma once

#include <QAbstractItemView>
#include <QRect>

class QScrollBar;

// Scrolls a view that places its items by their number so that an item's rectangle (in viewport
// coordinates, at the scroll position offset) stands where hint asks, as QListView would place it.
namespace ScrollPlacement {

void scrollTo(QScrollBar* bar, const QRect& rect, const QRect& viewport, int offset,
              QAbstractItemView::ScrollHint hint);

} // namespace ScrollPlacement
