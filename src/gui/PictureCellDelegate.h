#pragma once

#include "PictureFacts.h"

#include <QPointer>
#include <QStyledItemDelegate>

#include <functional>

class PictureStore;

// Paints a cell of the picture view: the thumbnail (or a plain icon for media and other embeds, a
// warning for a failed fetch, and why there is no thumbnail), the name the file is saved under, the
// size in pixels, the size in bytes and the type. A selected cell is filled with the style's
// highlight colour, its captions in the highlighted text colour. Captions too long for the cell are
// cut in the middle; the tooltip gives them whole, with the address, the facts and why a fetch
// failed. Painting a cell asks the store for what it lacks, so that what is on screen is fetched
// first.
class PictureCellDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    // What the cell of a row shows.
    struct Cell {
        QString url;
        // The page the address was found on (the Referer of its fetch).
        QString referer;
        // The encoding of the page it was found on: a name in a legacy encoding reads as saved.
        QString charset;
        // An image (fetched and shown as a thumbnail); otherwise media or another embed.
        bool image = false;
        // Links away from a page the person gave (0: found on one of those).
        qint32 depth = 0;
    };
    using CellOf = std::function<Cell(int row)>;

    PictureCellDelegate(PictureStore* store, CellOf cellOf, QObject* parent = nullptr);

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

    // The name the file of an address is saved under ("写真1.jpg", read in the page's encoding);
    // a data: address by its type.
    static QString nameOf(const QString& url, const QString& charset = {});
    // The type of media or an embed by its name ("MP4").
    static QString embedType(const QString& url);
    // The facts of a row's cell: those of the store, or for an embed, its type by name.
    PictureFacts factsOf(const Cell& cell) const;

private:
    static void drawSavedMark(QPainter* painter, const QStyleOptionViewItem& option, const QRect& picture);
    QPointer<PictureStore> m_store;
    CellOf m_cellOf;
};
