#include "PictureGridView.h"

#include "ScrollPlacement.h"

#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <climits>

namespace {

// The space around a cell within its place on the grid.
constexpr int CellMargin = 2;

} // namespace

PictureGridView::PictureGridView(QWidget* parent)
    : QListView(parent) {
    setViewMode(ListMode);
    setFlow(LeftToRight);
    setWrapping(false);
    setUniformItemSizes(true);
    setVerticalScrollMode(ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

int PictureGridView::rowCount() const {
    return model() ? model()->rowCount(rootIndex()) : 0;
}

QSize PictureGridView::cellSize() const {
    if (gridSize().isValid())
        return gridSize().expandedTo(QSize(1, 1));
    if (rowCount() == 0)
        return {1, 1};
    const QModelIndex sample = model()->index(0, modelColumn(), rootIndex());
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const QAbstractItemDelegate* delegate = itemDelegateForIndex(sample);
    const QSize size = delegate ? delegate->sizeHint(option, sample) : QSize();
    return (size + QSize(2 * CellMargin, 2 * CellMargin)).expandedTo(QSize(1, 1));
}

int PictureGridView::columns() const {
    return std::max(1, viewport()->width() / cellSize().width());
}

QRect PictureGridView::cellRect(int row, const QSize& size, int columns) const {
    return QRect((row % columns) * size.width() + CellMargin,
                 (row / columns) * size.height() - verticalOffset() + CellMargin,
                 size.width() - 2 * CellMargin, size.height() - 2 * CellMargin);
}

std::pair<int, int> PictureGridView::visibleRows(const QRect& area) const {
    const int rows = rowCount();
    const QSize size = cellSize();
    const int across = columns();
    const qint64 top = std::max<qint64>(0, qint64(area.top()) + verticalOffset());
    const qint64 bottom = qint64(area.bottom()) + verticalOffset();
    if (rows == 0 || bottom < 0)
        return {0, -1};
    const qint64 first = top / size.height() * across;
    const qint64 last = std::min<qint64>(rows - 1, (bottom / size.height() + 1) * across - 1);
    return {int(std::min<qint64>(first, rows)), int(last)};
}

QRect PictureGridView::visualRect(const QModelIndex& index) const {
    if (!index.isValid() || index.parent() != rootIndex() || index.column() != modelColumn())
        return {};
    return cellRect(index.row(), cellSize(), columns());
}

QModelIndex PictureGridView::indexAt(const QPoint& point) const {
    const int rows = rowCount();
    const QSize size = cellSize();
    const int across = columns();
    if (rows == 0 || point.x() < 0 || point.y() + verticalOffset() < 0)
        return {};
    const int column = point.x() / size.width();
    const qint64 line = (qint64(point.y()) + verticalOffset()) / size.height();
    const qint64 row = line * across + column;
    if (column >= across || row >= rows)
        return {};
    const QModelIndex index = model()->index(int(row), modelColumn(), rootIndex());
    return visualRect(index).contains(point) ? index : QModelIndex();
}

void PictureGridView::scrollTo(const QModelIndex& index, ScrollHint hint) {
    updateGeometries();
    ScrollPlacement::scrollTo(verticalScrollBar(),
                              visualRect(index).adjusted(-CellMargin, -CellMargin, CellMargin, CellMargin),
                              viewport()->rect(), verticalOffset(), hint);
}

void PictureGridView::doItemsLayout() {
    // Nothing to place: only the scroll bar follows the entries' number and the view's width.
    QAbstractItemView::doItemsLayout();
}

void PictureGridView::rowsInserted(const QModelIndex& parent, int start, int end) {
    QAbstractItemView::rowsInserted(parent, start, end);
    if (parent != rootIndex())
        return;
    updateGeometries();
    const auto [first, last] = visibleRows(viewport()->rect());
    if (start <= last && end >= first)
        viewport()->update();
}

void PictureGridView::updateGeometries() {
    const QSize size = cellSize();
    const qint64 lines = (qint64(rowCount()) + columns() - 1) / columns();
    const int height = viewport()->height();
    QScrollBar* vertical = verticalScrollBar();
    vertical->setSingleStep(std::max(size.height() / 4, 1));
    vertical->setPageStep(height);
    vertical->setRange(0, int(std::clamp<qint64>(lines * size.height() - height, 0, INT_MAX)));
    horizontalScrollBar()->setRange(0, 0);
    QAbstractItemView::updateGeometries();
}

int PictureGridView::horizontalOffset() const {
    return 0;
}

int PictureGridView::verticalOffset() const {
    return verticalScrollBar()->value();
}

void PictureGridView::scrollContentsBy(int, int dy) {
    viewport()->scroll(0, dy);
}

QModelIndex PictureGridView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers) {
    const int rows = rowCount();
    if (rows == 0)
        return {};
    const QModelIndex current = currentIndex();
    if (!current.isValid())
        return model()->index(0, modelColumn(), rootIndex());
    const int across = columns();
    const int page = across * std::max(1, viewport()->height() / cellSize().height());
    int row = current.row();
    switch (cursorAction) {
    case MoveLeft:
    case MovePrevious:
        --row;
        break;
    case MoveRight:
    case MoveNext:
        ++row;
        break;
    case MoveUp:
        row -= across;
        break;
    case MoveDown:
        // Down from above a shorter last line goes to the last entry.
        row = std::min(row + across, rows - 1);
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
    }
    if (row < 0)
        row = cursorAction == MoveUp ? current.row() : 0;
    return model()->index(std::clamp(row, 0, rows - 1), modelColumn(), rootIndex());
}

void PictureGridView::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) {
    if (!selectionModel())
        return;
    const QRect area = rect.normalized();
    const int rows = rowCount();
    const QSize size = cellSize();
    const int across = columns();
    QItemSelection selection;
    if (rows > 0) {
        // The cells the rectangle touches: a run of columns on each line it crosses.
        const int left = std::clamp(area.left() / size.width(), 0, across - 1);
        const int right = std::clamp(area.right() / size.width(), 0, across - 1);
        const qint64 top = std::max<qint64>(0, (qint64(area.top()) + verticalOffset()) / size.height());
        const qint64 bottom = (qint64(area.bottom()) + verticalOffset()) / size.height();
        for (qint64 line = top; line <= bottom && line * across < rows; ++line) {
            const int first = int(line * across + left);
            const int last = std::min(rows - 1, int(line * across + right));
            if (first <= last)
                selection.select(model()->index(first, modelColumn(), rootIndex()),
                                 model()->index(last, modelColumn(), rootIndex()));
        }
    }
    selectionModel()->select(selection, command);
}

QRegion PictureGridView::visualRegionForSelection(const QItemSelection& selection) const {
    // Only the cells on screen: a selection of every entry of a long list stays cheap.
    const auto [first, last] = visibleRows(viewport()->rect());
    const QSize size = cellSize();
    const int across = columns();
    QRegion region;
    for (const QItemSelectionRange& range : selection) {
        if (range.parent() != rootIndex() || range.left() > modelColumn() || modelColumn() > range.right())
            continue;
        for (int row = std::max(first, range.top()); row <= std::min(last, range.bottom()); ++row)
            region += cellRect(row, size, across);
    }
    return region;
}

QSize PictureGridView::viewportSizeHint() const {
    const QSize size = cellSize();
    return {size.width() * 4, size.height() * 2};
}

void PictureGridView::paintEvent(QPaintEvent* event) {
    if (rowCount() == 0 || !itemDelegate())
        return;
    const auto [first, last] = visibleRows(event->rect());
    const QSize size = cellSize();
    const int across = columns();
    QPainter painter(viewport());
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const QStyle::State state = option.state;
    const bool enabled = state.testFlag(QStyle::State_Enabled);
    const QModelIndex current = currentIndex();
    const bool focus = (hasFocus() || viewport()->hasFocus()) && current.isValid();
    const QItemSelectionModel* selection = selectionModel();
    for (int row = first; row <= last; ++row) {
        const QModelIndex index = model()->index(row, modelColumn(), rootIndex());
        option.rect = cellRect(row, size, across);
        if (!option.rect.intersects(event->rect()))
            continue;
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
        itemDelegateForIndex(index)->paint(&painter, option, index);
    }
}
