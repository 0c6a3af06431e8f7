#include "ResultListView.h"

#include "ScrollPlacement.h"

#include <QCursor>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <climits>

ResultListView::ResultListView(QWidget* parent)
    : QListView(parent) {
    setViewMode(ListMode);
    setFlow(TopToBottom);
    setWrapping(false);
    setUniformItemSizes(true);
    // Positions are pixels (a row's place is its number times the row height).
    setVerticalScrollMode(ScrollPerPixel);
    setHorizontalScrollMode(ScrollPerPixel);
}

int ResultListView::rowCount() const {
    return model() ? model()->rowCount(rootIndex()) : 0;
}

QSize ResultListView::rowSize() const {
    const int rows = rowCount();
    if (rows == 0)
        return {};
    // As QListView does with uniform sizes: the last row is likely the widest.
    const QModelIndex sample = model()->index(rows - 1, modelColumn(), rootIndex());
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const QAbstractItemDelegate* delegate = itemDelegateForIndex(sample);
    const QSize size = delegate ? delegate->sizeHint(option, sample) : QSize();
    return {std::max(size.width(), 1), std::max(size.height(), 1)};
}

QRect ResultListView::rowsRect(int first, int last, const QSize& size) const {
    const int width = std::max(size.width(), viewport()->width());
    return {-horizontalOffset(), first * size.height() - verticalOffset(), width,
            (last - first + 1) * size.height()};
}

int ResultListView::rowAt(int y) const {
    const int rows = rowCount();
    const QSize size = rowSize();
    if (rows == 0)
        return -1;
    const qint64 row = (qint64(y) + verticalOffset()) / size.height();
    return int(std::clamp<qint64>(row, 0, rows - 1));
}

QRect ResultListView::visualRect(const QModelIndex& index) const {
    if (!index.isValid() || index.parent() != rootIndex() || index.column() != modelColumn())
        return {};
    return rowsRect(index.row(), index.row(), rowSize());
}

QModelIndex ResultListView::indexAt(const QPoint& point) const {
    const int rows = rowCount();
    if (rows == 0 || point.y() + verticalOffset() < 0)
        return {};
    const QSize size = rowSize();
    const qint64 row = (qint64(point.y()) + verticalOffset()) / size.height();
    if (row >= rows || point.x() + horizontalOffset() >= std::max(size.width(), viewport()->width()))
        return {};
    return model()->index(int(row), modelColumn(), rootIndex());
}

void ResultListView::scrollTo(const QModelIndex& index, ScrollHint hint) {
    // The scroll range as the rows stand now, even when the model has just changed.
    updateGeometries();
    ScrollPlacement::scrollTo(verticalScrollBar(), visualRect(index), viewport()->rect(), verticalOffset(),
                              hint);
}

void ResultListView::doItemsLayout() {
    // Nothing to place: only the scroll bars follow the rows' number and size.
    QAbstractItemView::doItemsLayout();
}

void ResultListView::rowsInserted(const QModelIndex& parent, int start, int end) {
    QAbstractItemView::rowsInserted(parent, start, end);
    if (parent != rootIndex())
        return;
    updateGeometries();
    const QSize size = rowSize();
    const QRect added = rowsRect(start, end, size).intersected(viewport()->rect());
    if (!added.isEmpty())
        viewport()->update(added);
}

void ResultListView::updateGeometries() {
    const QSize size = rowSize();
    const qint64 height = qint64(rowCount()) * size.height();
    const QSize area = viewport()->size();
    QScrollBar* vertical = verticalScrollBar();
    vertical->setSingleStep(std::max(size.height(), 1));
    vertical->setPageStep(area.height());
    vertical->setRange(0, int(std::clamp<qint64>(height - area.height(), 0, INT_MAX)));
    QScrollBar* horizontal = horizontalScrollBar();
    horizontal->setSingleStep(std::max(size.height(), 1));
    horizontal->setPageStep(area.width());
    horizontal->setRange(0, std::max(0, size.width() - area.width()));
    QAbstractItemView::updateGeometries();
}

int ResultListView::horizontalOffset() const {
    return horizontalScrollBar()->value();
}

int ResultListView::verticalOffset() const {
    return verticalScrollBar()->value();
}

void ResultListView::scrollContentsBy(int dx, int dy) {
    viewport()->scroll(dx, dy);
}

QModelIndex ResultListView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers) {
    const int rows = rowCount();
    if (rows == 0)
        return {};
    const QModelIndex current = currentIndex();
    if (!current.isValid())
        return model()->index(0, modelColumn(), rootIndex());
    const QSize size = rowSize();
    const int page = std::max(1, viewport()->height() / size.height());
    int row = current.row();
    switch (cursorAction) {
    case MoveUp:
    case MovePrevious:
        --row;
        break;
    case MoveDown:
    case MoveNext:
        ++row;
        break;
    case MovePageUp:
        row -= page;
        break;
    case MovePageDown:
        row += page;
        break;
    case MoveHome:
        row = 0;
        break;
    case MoveEnd:
        row = rows - 1;
        break;
    case MoveLeft:
    case MoveRight:
        break;
    }
    return model()->index(std::clamp(row, 0, rows - 1), modelColumn(), rootIndex());
}

void ResultListView::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) {
    if (!selectionModel())
        return;
    const QRect area = rect.normalized();
    const int rows = rowCount();
    const QSize size = rowSize();
    // Rows the rectangle touches, if it touches any.
    QItemSelection selection;
    if (rows > 0 && area.bottom() + verticalOffset() >= 0 &&
        qint64(area.top()) + verticalOffset() < qint64(rows) * size.height()) {
        const int first = rowAt(area.top());
        const int last = rowAt(area.bottom());
        selection.select(model()->index(first, modelColumn(), rootIndex()),
                         model()->index(last, modelColumn(), rootIndex()));
    }
    selectionModel()->select(selection, command);
}

QRegion ResultListView::visualRegionForSelection(const QItemSelection& selection) const {
    const QSize size = rowSize();
    QRegion region;
    for (const QItemSelectionRange& range : selection)
        if (range.parent() == rootIndex() && range.left() <= modelColumn() && modelColumn() <= range.right())
            region += rowsRect(range.top(), range.bottom(), size);
    return region;
}

QSize ResultListView::viewportSizeHint() const {
    const QSize size = rowSize();
    const qint64 height = qint64(rowCount()) * size.height();
    return {size.width(), int(std::min<qint64>(height, INT_MAX))};
}

void ResultListView::paintEvent(QPaintEvent* event) {
    const int rows = rowCount();
    if (rows == 0 || !itemDelegate())
        return;
    const QSize size = rowSize();
    const QRect area = event->rect();
    const qint64 top = qint64(area.top()) + verticalOffset();
    if (top >= qint64(rows) * size.height())
        return;
    const int first = int(std::max<qint64>(top, 0) / size.height());
    const int last = std::min(rows - 1, int((qint64(area.bottom()) + verticalOffset()) / size.height()));

    QPainter painter(viewport());
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const QStyle::State state = option.state;
    const bool enabled = state.testFlag(QStyle::State_Enabled);
    const QModelIndex current = currentIndex();
    const bool focus = (hasFocus() || viewport()->hasFocus()) && current.isValid();
    const QModelIndex hover =
        viewport()->underMouse() ? indexAt(viewport()->mapFromGlobal(QCursor::pos())) : QModelIndex();
    const QItemSelectionModel* selection = selectionModel();
    for (int row = first; row <= last; ++row) {
        const QModelIndex index = model()->index(row, modelColumn(), rootIndex());
        option.rect = rowsRect(row, row, size);
        option.state = state;
        if (selection && selection->isSelected(index))
            option.state |= QStyle::State_Selected;
        if (enabled) {
            const bool itemEnabled = model()->flags(index).testFlag(Qt::ItemIsEnabled);
            option.state.setFlag(QStyle::State_Enabled, itemEnabled);
            option.palette.setCurrentColorGroup(itemEnabled ? QPalette::Normal : QPalette::Disabled);
        }
        if (focus && index == current)
            option.state |= QStyle::State_HasFocus;
        option.state.setFlag(QStyle::State_MouseOver, index == hover);
        if (alternatingRowColors())
            option.features.setFlag(QStyleOptionViewItem::Alternate, row % 2 == 1);
        itemDelegateForIndex(index)->paint(&painter, option, index);
    }
}
