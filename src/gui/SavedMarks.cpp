#include "SavedMarks.h"

#include "HistoryRecorder.h"

#include <QDir>

SavedMarks::SavedMarks(HistoryRecorder* recorder, QObject* parent)
    : QObject(parent)
    , m_recorder(recorder) {
    if (!recorder)
        return;
    connect(recorder, &HistoryRecorder::lookedUp, this,
            [this](int ticket, const QHash<QString, HistoryEntry>& saved) {
                if (!m_tickets.remove(ticket) || saved.isEmpty())
                    return;
                for (auto it = saved.cbegin(); it != saved.cend(); ++it)
                    m_saved.insert(it.key(), it->path);
                Q_EMIT changed();
            });
    // A file just saved: the address is marked at once (with its new file).
    connect(recorder, &HistoryRecorder::settled, this,
            [this](int, const HistoryEntry& entry, const HistoryEntry& same) {
                if (!m_asked.contains(entry.url))
                    return;
                m_saved.insert(entry.url, same.path.isEmpty() ? entry.path : same.path);
                Q_EMIT changed();
            });
    // Entries forgotten or cleared: what is still saved is found again.
    connect(recorder, &HistoryRecorder::removed, this, [this] {
        const QStringList asked(m_asked.cbegin(), m_asked.cend());
        m_asked.clear();
        m_saved.clear();
        Q_EMIT changed();
        ask(asked);
    });
}

QString SavedMarks::savedPath(const QString& url) const {
    return m_saved.value(url);
}

bool SavedMarks::isSaved(const QString& url) const {
    return m_saved.contains(url);
}

qsizetype SavedMarks::count() const {
    return m_saved.size();
}

void SavedMarks::ask(const QStringList& urls) {
    if (!m_recorder)
        return;
    QStringList fresh;
    for (const QString& url : urls) {
        if (!m_asked.contains(url)) {
            m_asked.insert(url);
            fresh.append(url);
        }
    }
    if (!fresh.isEmpty())
        m_tickets.insert(m_recorder->lookUp(fresh));
}

ResultFilter::Entries SavedMarks::unsaved(const ResultFilter::Entries& entries) const {
    ResultFilter::Entries kept;
    for (qsizetype i = 0; i < entries.addresses.size(); ++i) {
        if (m_saved.contains(entries.addresses.at(i)))
            continue;
        kept.addresses.append(entries.addresses.at(i));
        if (i < entries.records.size())
            kept.records.append(entries.records.at(i));
    }
    return kept;
}

QString SavedMarks::toolTipLine(const QString& path) {
    return QStringLiteral("保存済み: %1").arg(QDir::toNativeSeparators(path));
}
