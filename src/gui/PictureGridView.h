#pragma once

#include <QListView>

// The picture view of a result list: cells of one size in rows as wide as the view, the first entry
// at the top left. Every cell's place follows from its number and the view's width, so nothing is
// laid out cell by cell: entries appended to a list of any length cost the view no more than painting
// the new cells that are on screen, where QListView's icon mode would lay out the whole list again
// for each insertion (and does so even while hidden).
//
// The cells' size is gridSize() when set, else the delegate's size hint.
class PictureGridView : public QListView {
    Q_OBJECT
public:
    explicit PictureGridView(QWidget* parent = nullptr);

    QRect visualRect(const QModelIndex& index) const override;
    QModelIndex indexAt(const QPoint& point) const override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
    void doItemsLayout() override;

protected:
    void rowsInserted(const QModelIndex& parent, int start, int end) override;
    void paintEvent(QPaintEvent* event) override;
    void updateGeometries() override;
    int horizontalOffset() const override;
    int verticalOffset() const override;
    void scrollContentsBy(int dx, int dy) override;
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) override;
    QRegion visualRegionForSelection(const QItemSelection& selection) const override;
    QSize viewportSizeHint() const override;

private:
    QSize cellSize() const;
    int rowCount() const;
    int columns() const;
    // The rectangle of the cell of an entry in the viewport.
    QRect cellRect(int row, const QSize& size, int columns) const;
    // The entries on screen (first > last when none).
    std::pair<int, int> visibleRows(const QRect& area) const;
};
