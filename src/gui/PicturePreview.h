#pragma once

#include "PictureCellDelegate.h"

#include <QDialog>
#include <QImage>
#include <QPointer>

class QAbstractItemModel;
class QLabel;
class PictureStore;

// The large view of one entry of the picture view: the picture at its own size, made smaller to fit
// the window when it is larger, and below it the name it is saved under, its size in pixels and bytes,
// its type, its place in the list and its address. The arrow keys go to the previous and next entry
// (Home and End to the first and last), Escape or Space closes it. A window beside the main window,
// never modal: the grid stays usable behind it.
class PicturePreview : public QDialog {
    Q_OBJECT
public:
    PicturePreview(PictureStore* store, PictureCellDelegate::CellOf cellOf, QAbstractItemModel* model,
                   QWidget* parent = nullptr);

    // Shows the entry of a row (opening the window when it is closed).
    void showRow(int row);
    int row() const;
    // The picture as loaded (null while it loads, or when there is none: see problem()).
    QImage picture() const;
    QString problem() const;
    // The facts line as shown.
    QString factsText() const;

Q_SIGNALS:
    // The entry shown changed (by the arrow keys, or showRow).
    void rowShown(int row);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void onLoaded(const QString& url, const QImage& picture, const QString& problem);
    void updateFacts();

    QPointer<PictureStore> m_store;
    PictureCellDelegate::CellOf m_cellOf;
    QPointer<QAbstractItemModel> m_model;
    QWidget* m_area = nullptr;
    QLabel* m_facts = nullptr;
    QLabel* m_address = nullptr;
    int m_row = -1;
    PictureCellDelegate::Cell m_cell;
    QImage m_picture;
    QString m_problem;
    bool m_loading = false;
};
