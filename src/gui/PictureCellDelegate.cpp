#include "PictureCellDelegate.h"

#include "LocalFileName.h"
#include "PictureStore.h"
#include "SavedMarks.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QFileInfo>
#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>
#include <QUrl>

#include <algorithm>

namespace {

constexpr int Margin = 4;
constexpr int TextLines = 3;

} // namespace

PictureCellDelegate::PictureCellDelegate(PictureStore* store, CellOf cellOf, QObject* parent)
    : QStyledItemDelegate(parent)
    , m_store(store)
    , m_cellOf(std::move(cellOf)) {}

QString PictureCellDelegate::nameOf(const QString& url, const QString& charset) {
    if (url.startsWith(QLatin1String("data:"), Qt::CaseInsensitive))
        return url.left(url.indexOf(QLatin1Char(','))).left(40);
    return LocalFileName(url, charset);
}

QString PictureCellDelegate::embedType(const QString& url) {
    const QString suffix = QFileInfo(QUrl(url).path()).suffix();
    return suffix.isEmpty() || suffix.size() > 5 ? QStringLiteral("埋め込み") : suffix.toUpper();
}

PictureFacts PictureCellDelegate::factsOf(const Cell& cell) const {
    if (cell.image)
        return m_store ? m_store->facts(cell.url) : PictureFacts();
    PictureFacts facts;
    facts.state = PictureFacts::State::Known;
    facts.typeName = embedType(cell.url);
    return facts;
}

QSize PictureCellDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    const int line = option.fontMetrics.height();
    return {PictureStore::ThumbnailSize + 2 * Margin + 16,
            PictureStore::ThumbnailSize + 3 * Margin + TextLines * line};
}

void PictureCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
    QStyleOptionViewItem plain = option;
    initStyleOption(&plain, index);
    plain.text.clear();
    plain.icon = QIcon();
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    const bool selected = option.state.testFlag(QStyle::State_Selected);
    const QPalette::ColorGroup group = !option.state.testFlag(QStyle::State_Enabled) ? QPalette::Disabled
                                       : option.state.testFlag(QStyle::State_Active) ? QPalette::Active
                                                                                     : QPalette::Inactive;
    // The whole cell in the highlight colour when selected: styles fill only an item's text, and a
    // cell's text is drawn here. The frame and the focus as the style draws them for any item.
    if (selected)
        painter->fillRect(option.rect, option.palette.brush(group, QPalette::Highlight));
    plain.state.setFlag(QStyle::State_Selected, false);
    style->drawControl(QStyle::CE_ItemViewItem, &plain, painter, widget);

    const Cell cell = m_cellOf ? m_cellOf(index.row()) : Cell{index.data().toString(), {}, {}, true};
    if (cell.image && m_store)
        m_store->showing(cell.url, cell.referer, true);
    const PictureFacts facts = factsOf(cell);
    const QImage thumbnail = cell.image && m_store ? m_store->thumbnail(cell.url) : QImage();
    const QColor textColour =
        option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text);

    const QRect box = option.rect.adjusted(Margin, Margin, -Margin, -Margin);
    const QRect picture(box.left() + (box.width() - PictureStore::ThumbnailSize) / 2, box.top(),
                        PictureStore::ThumbnailSize, PictureStore::ThumbnailSize);
    painter->save();
    if (!thumbnail.isNull()) {
        const QSize size = thumbnail.size().scaled(picture.size(), Qt::KeepAspectRatio);
        const QRect place(picture.center().x() - size.width() / 2 + 1,
                          picture.center().y() - size.height() / 2 + 1, size.width(), size.height());
        painter->drawImage(place, thumbnail);
    } else {
        // No picture (yet): a plain icon in a light frame, with the type or why there is none.
        painter->setPen(option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Mid));
        painter->drawRect(picture.adjusted(0, 0, -1, -1));
        QStyle::StandardPixmap icon = QStyle::SP_FileIcon;
        if (!cell.image)
            icon = QStyle::SP_MediaPlay;
        else if (facts.state == PictureFacts::State::Failed || !facts.problem.isEmpty())
            icon = QStyle::SP_MessageBoxWarning;
        const QPixmap pixmap = style->standardIcon(icon, &option, widget).pixmap(32, 32);
        painter->drawPixmap(picture.center().x() - 16, picture.center().y() - 32, pixmap);
        QString caption;
        if (facts.state == PictureFacts::State::Failed)
            caption = QStringLiteral("取得できません");
        else if (facts.state == PictureFacts::State::Unknown)
            caption = QStringLiteral("読み込み中…");
        else if (!facts.problem.isEmpty())
            caption = facts.problem;
        else
            caption = facts.typeName;
        painter->setPen(textColour);
        const int line = option.fontMetrics.height();
        painter->drawText(QRect(picture.left() + 4, picture.center().y() + 4, picture.width() - 8, 3 * line),
                          Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, caption);
    }

    const QPalette::ColorRole textRole =
        option.state & QStyle::State_Selected ? QPalette::HighlightedText : QPalette::Text;
    // Saved before (download history): a mark on the picture and a dimmed text.
    const bool saved = !index.data(SavedMarks::SavedPathRole).toString().isEmpty();
    if (saved)
        drawSavedMark(painter, option, picture);
    painter->setPen(saved && textRole == QPalette::Text ? option.palette.color(QPalette::Disabled, textRole)
                                                        : textColour);
    const int line = option.fontMetrics.height();
    const int width = box.width();
    QRect text(box.left(), picture.bottom() + Margin, width, line);
    const auto elided = [&](const QString& caption) {
        return option.fontMetrics.elidedText(caption, Qt::ElideMiddle, width);
    };
    painter->drawText(text, Qt::AlignCenter, elided(nameOf(cell.url, cell.charset)));
    text.translate(0, line);
    QString sizes = facts.pixelText();
    if (!facts.byteText().isEmpty())
        sizes += (sizes.isEmpty() ? QString() : QStringLiteral("  ")) + facts.byteText();
    painter->drawText(text, Qt::AlignCenter, elided(sizes));
    text.translate(0, line);
    // Why there is no thumbnail, once that is known (a damaged or too large picture, a failed fetch).
    const bool saysWhy =
        facts.state == PictureFacts::State::Failed ||
        (facts.state == PictureFacts::State::Known && thumbnail.isNull() && !facts.problem.isEmpty());
    painter->drawText(text, Qt::AlignCenter,
                      elided(saysWhy ? facts.problem : facts.typeName));
    painter->restore();
}

void PictureCellDelegate::drawSavedMark(QPainter* painter, const QStyleOptionViewItem& option,
                                        const QRect& picture) {
    const int size = std::max(14, option.fontMetrics.height());
    const QRect mark(picture.right() - size, picture.top() + 1, size, size);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    painter->setBrush(option.palette.color(QPalette::Highlight));
    painter->drawEllipse(mark);
    painter->setPen(option.palette.color(QPalette::HighlightedText));
    painter->drawText(mark, Qt::AlignCenter, QStringLiteral("✓"));
    painter->restore();
}

bool PictureCellDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem&,
                                    const QModelIndex& index) {
    if (!event || event->type() != QEvent::ToolTip || !index.isValid())
        return false;
    const Cell cell = m_cellOf ? m_cellOf(index.row()) : Cell{index.data().toString(), {}, {}, true};
    // The captions whole: the name, the address, the facts.
    QString tip = nameOf(cell.url, cell.charset) + QLatin1Char('\n') +
                  (cell.url.size() > 300 ? cell.url.left(300) + QStringLiteral("…") : cell.url);
    // The page it came from, and how far that page lies from the pages given.
    if (!cell.referer.isEmpty())
        tip += QLatin1Char('\n') + (cell.depth > 0 ? tr("ページ: %1（入力したページから %2 リンク先）")
                                                         .arg(cell.referer.left(300))
                                                         .arg(cell.depth)
                                                   : tr("ページ: %1").arg(cell.referer.left(300)));
    const QString facts = factsOf(cell).toolTipText();
    if (!facts.isEmpty())
        tip += QLatin1Char('\n') + facts;
    const QString saved = index.data(SavedMarks::SavedPathRole).toString();
    if (!saved.isEmpty())
        tip += QLatin1Char('\n') + SavedMarks::toolTipLine(saved);
    QToolTip::showText(event->globalPos(), tip, view);
    return true;
}
