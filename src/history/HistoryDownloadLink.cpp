#include "HistoryDownloadLink.h"

#include "DownloadBatch.h"
#include "HistoryRecorder.h"

#include <QDateTime>
#include <QFileInfo>

#include <limits>

HistoryDownloadLink::HistoryDownloadLink(DownloadBatch* batch, const QList<DownloadItem>& items,
                                         HistoryRecorder* recorder, const Options& options, QObject* parent)
    : QObject(parent)
    , m_items(items)
    , m_recorder(recorder)
    , m_options(options) {
    connect(batch, &DownloadBatch::itemFinished, this, &HistoryDownloadLink::itemFinished);
    connect(batch, &DownloadBatch::finished, this, [this](const DownloadResults& results) {
        m_results = results;
        m_batchFinished = true;
        finishIfSettled();
    });
    if (m_recorder) {
        connect(m_recorder, &HistoryRecorder::settled, this,
                [this](int ticket, const HistoryEntry&, const HistoryEntry& same) {
                    const auto it = m_waiting.constFind(ticket);
                    if (it == m_waiting.cend())
                        return;
                    const int index = it.value();
                    m_waiting.erase(it);
                    if (!same.path.isEmpty())
                        m_sameContent.insert(index, same);
                    Q_EMIT itemSettled(index, m_results.value(index), same);
                    finishIfSettled();
                });
    }
    m_results.resize(items.size());
    m_startedMs = QDateTime::currentMSecsSinceEpoch();
}

const QHash<int, HistoryEntry>& HistoryDownloadLink::sameContent() const {
    return m_sameContent;
}

void HistoryDownloadLink::itemFinished(int index, const DownloadResult& result) {
    if (index >= 0 && index < m_results.size())
        m_results[index] = result;
    if (!result.succeeded() || !m_recorder || (!m_options.record && !m_options.skipSameContent)) {
        Q_EMIT itemSettled(index, result, {});
        return;
    }
    HistoryEntry entry;
    entry.timeMs = QDateTime::currentMSecsSinceEpoch();
    entry.url = result.url;
    entry.finalUrl = result.finalUrl.isEmpty() ? result.url : result.finalUrl;
    entry.page = index < m_items.size() ? m_items.at(index).referer : QString();
    entry.path = QFileInfo(result.path).absoluteFilePath();
    entry.bytes = result.bytes;
    const qint64 before = m_options.skipCopiesWithinBatch ? std::numeric_limits<qint64>::max() : m_startedMs;
    m_waiting.insert(m_recorder->fileSaved(entry, m_options.record, m_options.skipSameContent, before),
                     index);
}

void HistoryDownloadLink::finishIfSettled() {
    if (m_finished || !m_batchFinished || !m_waiting.isEmpty())
        return;
    m_finished = true;
    Q_EMIT finished(m_results);
}
