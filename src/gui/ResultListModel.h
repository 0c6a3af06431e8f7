#pragma once

#include "ResultFilter.h"

#include <QPointer>
#include <QStringListModel>

class SavedMarks;

// The entries of one result list: the exact addresses as the list shows them, and for each the
// position of its record in the harvester's record list. Every view of the list shares it.
//
// The model holds the exact addresses; what a person reads (the delegate's drawing, the accessible
// text) is the decoded form.
//
// Entries that arrive while an analysis runs are appended as inserted rows, so that a view keeps its
// selection and scroll position and lays out only the new rows.
class ResultListModel : public QStringListModel {
    Q_OBJECT
public:
    explicit ResultListModel(QObject* parent = nullptr);

    // Replaces every entry (one reset of the model, not one insertion per entry).
    void setEntries(ResultFilter::Entries entries);
    // Appends entries after the last row.
    void append(const ResultFilter::Entries& entries);
    // The position of the record shown in a row; -1 when the row has none (entries set as plain
    // addresses).
    qsizetype recordAt(int row) const;

    // Entries the download history has saved are marked (SavedMarks::SavedPathRole, a mark and a
    // dimmed text); the rows change as the marks do.
    void setSavedMarks(SavedMarks* marks);

    // An entry reads to assistive technology as the list shows it: decoded (DisplayAddress).
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QModelIndex index(int row, int column = 0, const QModelIndex& parent = QModelIndex()) const override;

    // How often the entries were looked up (index and data), by the views or anyone: the measure of
    // work that the growth test and benchmark compare between early and late pages of an analysis.
    quint64 lookups() const;

private:
    QList<qsizetype> m_records;
    mutable quint64 m_lookups = 0;
    QPointer<SavedMarks> m_marks;
};
