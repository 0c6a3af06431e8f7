#pragma once

#include <QFont>
#include <QStringList>
#include <QStyledItemDelegate>

#include <functional>
#include <vector>

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
// those, each once, when the list asks. Entries appended later cost in proportion to their own
// number, not to the list's.
class ResultListDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit ResultListDelegate(QObject* parent = nullptr);

    // The entries the list is about to show, in place of those it showed.
    void setEntries(const QStringList& entries);
    // Entries the list is about to append. True when one of them is among the widest now (the rows'
    // size may have changed).
    bool addEntries(const QStringList& entries);

    // Where the tooltip of the entry in a row comes from (none when it gives an empty text).
    void setToolTips(std::function<QString(int row)> toolTip);
    // Where the encoding of the page an entry was found on comes from: a name in a legacy encoding
    // is shown as it is saved (DisplayAddress::forDisplay with the page's charset).
    void setCharsets(std::function<QString(int row)> charsetOf);

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QString displayText(const QVariant& value, const QLocale& locale) const override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

    // The tooltip of an entry.
    static QString toolTipFor(const QString& address);

    // How many of the longest entries are measured.
    static constexpr qsizetype Candidates = 64;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

private:
    struct Candidate {
        qsizetype cells = 0; // rough width in character cells
        QString address;     // as held
    };

    // The widest entries by cells, narrowest first (a min-heap of at most Candidates).
    std::vector<Candidate> m_widest;
    // The widest of them in pixels in m_measuredFont; -1: not measured yet.
    mutable int m_measuredWidth = -1;
    mutable QFont m_measuredFont;
    std::function<QString(int row)> m_toolTip;
    std::function<QString(int row)> m_charsetOf;
};
