#pragma once

#include "ResultFilter.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>

class HistoryRecorder;

// Which entries of the result lists the download history has saved, for the lists and the picture
// view to mark them (a mark, a dimmed text, and the tooltip line "保存済み: PATH") and for "未保存のみ"
// to leave them out. Addresses are looked up once each, on the history's thread; a file saved
// meanwhile is marked as it is recorded; after entries are removed from the history everything is
// looked up again.
class SavedMarks : public QObject {
    Q_OBJECT
public:
    // The model role that gives an entry's saved file (empty: not saved).
    static constexpr int SavedPathRole = Qt::UserRole + 33;

    explicit SavedMarks(HistoryRecorder* recorder, QObject* parent = nullptr);

    // The latest saved file of url that was still there when looked up; empty when none.
    QString savedPath(const QString& url) const;
    bool isSaved(const QString& url) const;
    // Looks up the addresses not asked about yet; changed() follows when any was saved.
    void ask(const QStringList& urls);
    // The entries not marked, in their order.
    ResultFilter::Entries unsaved(const ResultFilter::Entries& entries) const;
    // How many addresses are marked.
    qsizetype count() const;

    // The tooltip line of a saved entry.
    static QString toolTipLine(const QString& path);

Q_SIGNALS:
    void changed();

private:
    QPointer<HistoryRecorder> m_recorder;
    QHash<QString, QString> m_saved;
    QSet<QString> m_asked;
    QSet<int> m_tickets;
};
