#include "FolderBox.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>

namespace {

// The gap QLineEdit leaves between its contents' edge and the text.
constexpr int TextGap = 2;
// The smallest size a name is set in to show it whole rather than shortened.
constexpr int SmallestPixels = 9;

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

QFont FolderBox::shownFont() const {
    // A name that fits in a smaller size is shown whole in it ("旅行の写真", not "旅…真").
    QFont smaller = font();
    const int width = textArea().width();
    for (int pixels = QFontInfo(smaller).pixelSize(); pixels >= SmallestPixels; --pixels) {
        smaller.setPixelSize(pixels);
        if (QFontMetrics(smaller).horizontalAdvance(text()) <= width)
            return smaller;
    }
    return font();
}

QString FolderBox::shownText() const {
    const QFont shown = shownFont();
    if (QFontMetrics(shown).horizontalAdvance(text()) <= textArea().width())
        return text();
    // Of a path, the last folders tell where the files go; of a name, its two ends.
    const bool path = text().contains(QLatin1Char('/')) || text().contains(QLatin1Char('\\'));
    return fontMetrics().elidedText(text(), path ? Qt::ElideLeft : Qt::ElideMiddle, textArea().width());
}

void FolderBox::paintEvent(QPaintEvent* event) {
    // Typing, selecting and the cursor belong to the line edit; an empty box shows its placeholder.
    const QString shown = shownText();
    if (hasFocus() || text().isEmpty() || (shown == text() && shownFont() == font())) {
        QLineEdit::paintEvent(event);
        return;
    }
    QPainter painter(this);
    QStyleOptionFrame option;
    initStyleOption(&option);
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &option, &painter, this);
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Text));
    if (shown == text())
        painter.setFont(shownFont());
    painter.drawText(textArea(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
}
