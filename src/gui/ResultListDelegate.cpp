#include "ResultListDelegate.h"

#include "DisplayAddress.h"
#include "SavedMarks.h"

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
    m_measuredWidth = -1;
    addEntries(entries);
}

bool ResultListDelegate::addEntries(const QStringList& entries) {
    const auto narrower = [](const Candidate& a, const Candidate& b) {
        return a.cells > b.cells;
    };
    bool changed = false;
    for (const QString& entry : entries) {
        const qsizetype n = cells(entry);
        if (qsizetype(m_widest.size()) == Candidates) {
            if (n <= m_widest.front().cells)
                continue;
            std::pop_heap(m_widest.begin(), m_widest.end(), narrower);
            m_widest.pop_back();
        }
        m_widest.push_back({n, entry});
        std::push_heap(m_widest.begin(), m_widest.end(), narrower);
        changed = true;
    }
    if (changed)
        m_measuredWidth = -1;
    return changed;
}

QSize ResultListDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    const QFontMetrics& metrics = option.fontMetrics;
    if (m_measuredWidth < 0 || option.font != m_measuredFont) {
        m_measuredWidth = 0;
        m_measuredFont = option.font;
        for (const Candidate& entry : m_widest)
            m_measuredWidth = std::max(m_measuredWidth,
                                       metrics.horizontalAdvance(DisplayAddress::forDisplay(entry.address)));
    }
    const int own =
        metrics.horizontalAdvance(DisplayAddress::forDisplay(index.data(Qt::DisplayRole).toString()));
    size.setWidth(size.width() + (std::max(own, m_measuredWidth) - own));
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

void ResultListDelegate::setCharsets(std::function<QString(int row)> charsetOf) {
    m_charsetOf = std::move(charsetOf);
}

void ResultListDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    if (!m_charsetOf)
        return;
    const QString address = index.data(Qt::DisplayRole).toString();
    if (address.contains(QLatin1Char('%')))
        option->text = DisplayAddress::forDisplay(address, m_charsetOf(index.row()));
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
    const QString saved = index.data(SavedMarks::SavedPathRole).toString();
    if (!saved.isEmpty())
        text += QLatin1Char('\n') + SavedMarks::toolTipLine(saved);
    QToolTip::showText(event->globalPos(), text, view->viewport(), option.rect);
    return true;
}
