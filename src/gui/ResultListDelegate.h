#pragma once

#include <QStringList>
#include <QStyledItemDelegate>

#include <functional>

// Draws a result list's entries and gives every entry the width of the widest one.
//
// The list holds the exact addresses (copied, exported and downloaded as they are); the delegate shows
// each decoded for reading (DisplayAddress), and its tooltip shows the decoded address with the exact
// one below it when they differ.
//
// The lists lay out their entries with uniform sizes (100,000 entries fill at once), and such a list
// takes the size of one sample entry for all of them: an entry wider than the sample would be cut
// off with "…" and no scroll bar would reach its end. The list tells this delegate its entries
// before it shows them; the delegate keeps the few that are likely the widest and measures only
// those, when the list asks.
class ResultListDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit ResultListDelegate(QObject* parent = nullptr);

    // The entries the list is about to show.
    void setEntries(const QStringList& entries);

    // Where the tooltip of the entry in a row comes from (none when it gives an empty text).
    void setToolTips(std::function<QString(int row)> toolTip);

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QString displayText(const QVariant& value, const QLocale& locale) const override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

    // The tooltip of an entry.
    static QString toolTipFor(const QString& address);

    // How many of the longest entries are measured.
    static constexpr qsizetype Candidates = 64;

private:
    QStringList m_widest;
    std::function<QString(int row)> m_toolTip;
};
