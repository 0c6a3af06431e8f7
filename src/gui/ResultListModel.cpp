#include "ResultListModel.h"

#include "DisplayAddress.h"
#include "SavedMarks.h"

#include <QApplication>
#include <QPalette>
#include <QStyle>

#include <QSignalBlocker>

#include <algorithm>

#include <utility>

ResultListModel::ResultListModel(QObject* parent)
    : QStringListModel(parent) {
    // Rows set or removed by other means than this class's own take their record positions along.
    connect(this, &QAbstractItemModel::modelReset, this, [this] { m_records.clear(); });
    connect(this, &QAbstractItemModel::rowsRemoved, this, [this](const QModelIndex&, int first, int last) {
        if (first < m_records.size())
            m_records.remove(first, std::min<qsizetype>(last + 1, m_records.size()) - first);
    });
}

void ResultListModel::setEntries(ResultFilter::Entries entries) {
    setStringList(entries.addresses);
    m_records = std::move(entries.records);
}

void ResultListModel::append(const ResultFilter::Entries& entries) {
    if (entries.addresses.isEmpty())
        return;
    const int first = rowCount();
    const int last = first + int(entries.addresses.size()) - 1;
    // A list that is shown from the first row: the record positions follow.
    if (m_records.size() == first)
        m_records.append(entries.records);
    // The base model inserts empty rows and fills them right after, reporting one change of all of
    // them instead of one per row (views lay out when the event loop comes back, with the addresses).
    insertRows(first, int(entries.addresses.size()));
    {
        const QSignalBlocker quiet(this);
        for (int row = first; row <= last; ++row)
            setData(index(row), entries.addresses.at(row - first));
    }
    Q_EMIT dataChanged(index(first), index(last), {Qt::DisplayRole, Qt::EditRole});
}

qsizetype ResultListModel::recordAt(int row) const {
    return row >= 0 && row < m_records.size() ? m_records.at(row) : -1;
}

quint64 ResultListModel::lookups() const {
    return m_lookups;
}

QModelIndex ResultListModel::index(int row, int column, const QModelIndex& parent) const {
    ++m_lookups;
    return QStringListModel::index(row, column, parent);
}

void ResultListModel::setSavedMarks(SavedMarks* marks) {
    m_marks = marks;
    connect(marks, &SavedMarks::changed, this, [this] {
        if (rowCount() > 0)
            Q_EMIT dataChanged(index(0), index(rowCount() - 1),
                               {SavedMarks::SavedPathRole, Qt::ForegroundRole, Qt::DecorationRole});
    });
}

QVariant ResultListModel::data(const QModelIndex& index, int role) const {
    ++m_lookups;
    if (m_marks &&
        (role == SavedMarks::SavedPathRole || role == Qt::ForegroundRole || role == Qt::DecorationRole)) {
        const QString path = m_marks->savedPath(QStringListModel::data(index, Qt::DisplayRole).toString());
        if (path.isEmpty())
            return {};
        if (role == SavedMarks::SavedPathRole)
            return path;
        if (role == Qt::ForegroundRole)
            return QApplication::palette().brush(QPalette::Disabled, QPalette::Text);
        return QApplication::style()->standardIcon(QStyle::SP_DialogApplyButton);
    }
    if (role == Qt::AccessibleTextRole)
        return DisplayAddress::forDisplay(QStringListModel::data(index, Qt::DisplayRole).toString());
    return QStringListModel::data(index, role);
}
