#pragma once

#include <QListView>

// The view of a result list: one column of rows of one size, top to bottom, as a list box shows
// them. Every row's place follows from its number, so nothing is laid out row by row: rows
// appended to a list of any length cost the view no more than the new rows' own painting, where
// QListView would lay out the whole list again for each insertion.
//
// The rows' size is the delegate's size hint for the last row (ResultListDelegate gives every row
// the width of the widest entries); the delegate reports a change of it with sizeHintChanged.
class ResultListView : public QListView {
    Q_OBJECT
public:
    explicit ResultListView(QWidget* parent = nullptr);

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
    // The size of every row (empty when there are none).
    QSize rowSize() const;
    int rowCount() const;
    // The row at a height in the viewport, clamped to the rows; -1 when there are none.
    int rowAt(int y) const;
    // The rectangle of rows first to last in the viewport, as wide as the rows or the viewport.
    QRect rowsRect(int first, int last, const QSize& size) const;
};
