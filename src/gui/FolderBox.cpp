#include "FolderBox.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>

namespace {

// The gap QLineEdit leaves between its contents' edge and the text.
constexpr int TextGap = 2;

} // namespace

FolderBox::FolderBox(const QString& text, QWidget* parent)
    : QLineEdit(text, parent) {}

QRect FolderBox::textArea() const {
    QStyleOptionFrame option;
    initStyleOption(&option);
    QRect area = style()->subElementRect(QStyle::SE_LineEditContents, &option, this);
    area = area.marginsRemoved(textMargins());
    return area.adjusted(TextGap, 0, -TextGap, 0);
}

QString FolderBox::shownText() const {
    // Of a path, the last folders tell where the files go; of a name, its two ends.
    const bool path = text().contains(QLatin1Char('/')) || text().contains(QLatin1Char('\\'));
    return fontMetrics().elidedText(text(), path ? Qt::ElideLeft : Qt::ElideMiddle, textArea().width());
}

void FolderBox::paintEvent(QPaintEvent* event) {
    // Typing, selecting and the cursor belong to the line edit; an empty box shows its placeholder.
    const QString shown = shownText();
    if (hasFocus() || text().isEmpty() || shown == text()) {
        QLineEdit::paintEvent(event);
        return;
    }
    QPainter painter(this);
    QStyleOptionFrame option;
    initStyleOption(&option);
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &option, &painter, this);
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Text));
    painter.drawText(textArea(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
}
