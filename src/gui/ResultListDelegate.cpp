#include "ResultListDelegate.h"

#include "DisplayAddress.h"

#include <QAbstractItemView>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QToolTip>

#include <algorithm>
#include <utility>

namespace {

// A rough width in character cells: wide (CJK and the like) characters count twice.
qsizetype cells(const QString& text) {
    qsizetype n = text.size();
    for (const QChar c : text)
        if (c.unicode() >= 0x1100)
            ++n;
    return n;
}

} // namespace

ResultListDelegate::ResultListDelegate(QObject* parent)
    : QStyledItemDelegate(parent) {}

void ResultListDelegate::setEntries(const QStringList& entries) {
    m_widest.clear();
    if (entries.isEmpty())
        return;
    QList<std::pair<qsizetype, qsizetype>> ranked; // (cells, position)
    ranked.reserve(entries.size());
    for (qsizetype i = 0; i < entries.size(); ++i)
        ranked.append({cells(entries.at(i)), i});
    const qsizetype keep = std::min(Candidates, ranked.size());
    std::nth_element(ranked.begin(), ranked.begin() + (keep - 1), ranked.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    m_widest.reserve(keep);
    for (qsizetype i = 0; i < keep; ++i)
        m_widest.append(DisplayAddress::forDisplay(entries.at(ranked.at(i).second)));
}

QSize ResultListDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    const QFontMetrics& metrics = option.fontMetrics;
    const int own =
        metrics.horizontalAdvance(DisplayAddress::forDisplay(index.data(Qt::DisplayRole).toString()));
    int widest = own;
    for (const QString& entry : m_widest)
        widest = std::max(widest, metrics.horizontalAdvance(entry));
    size.setWidth(size.width() + (widest - own));
    return size;
}

QString ResultListDelegate::displayText(const QVariant& value, const QLocale& locale) const {
    if (value.typeId() == QMetaType::QString)
        return DisplayAddress::forDisplay(value.toString());
    return QStyledItemDelegate::displayText(value, locale);
}

QString ResultListDelegate::toolTipFor(const QString& address) {
    const QString shown = DisplayAddress::forDisplay(address);
    if (shown == address)
        return address;
    return shown + QLatin1Char('\n') + address;
}

void ResultListDelegate::setToolTips(std::function<QString(int row)> toolTip) {
    m_toolTip = std::move(toolTip);
}

bool ResultListDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view,
                                   const QStyleOptionViewItem& option, const QModelIndex& index) {
    if (event->type() != QEvent::ToolTip || !index.isValid())
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    const QVariant own = index.data(Qt::ToolTipRole);
    if (own.isValid())
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    // The address as it reads (and exactly, when that differs), then how and where it was found.
    QString text = toolTipFor(index.data(Qt::DisplayRole).toString());
    if (m_toolTip) {
        const QString found = m_toolTip(index.row());
        if (!found.isEmpty())
            text += QLatin1Char('\n') + found;
    }
    QToolTip::showText(event->globalPos(), text, view->viewport(), option.rect);
    return true;
}
