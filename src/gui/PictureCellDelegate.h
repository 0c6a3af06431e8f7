#pragma once

#include "PictureFacts.h"

#include <QPointer>
#include <QStyledItemDelegate>

#include <functional>

class PictureStore;

// Paints a cell of the picture view: the thumbnail (or a plain icon for media and other embeds, a
// warning for a failed fetch), the file name as it reads, the size in pixels, the size in bytes and
// the type. Painting a cell asks the store for what it lacks, so that what is on screen is fetched
// first. Its tooltip gives the address, the facts and why a fetch failed.
class PictureCellDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    // What the cell of a row shows.
    struct Cell {
        QString url;
        // The page the address was found on (the Referer of its fetch).
        QString referer;
        // An image (fetched and shown as a thumbnail); otherwise media or another embed.
        bool image = false;
    };
    using CellOf = std::function<Cell(int row)>;

    PictureCellDelegate(PictureStore* store, CellOf cellOf, QObject* parent = nullptr);

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

    // The file name of an address as it reads ("写真 1.jpg"), else its host.
    static QString nameOf(const QString& url);
    // The type of media or an embed by its name ("MP4").
    static QString embedType(const QString& url);
    // The facts of a row's cell: those of the store, or for an embed, its type by name.
    PictureFacts factsOf(const Cell& cell) const;

private:
    static void drawSavedMark(QPainter* painter, const QStyleOptionViewItem& option, const QRect& picture);
    QPointer<PictureStore> m_store;
    CellOf m_cellOf;
};
