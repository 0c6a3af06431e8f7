#pragma once

#include "DownloadTypes.h"
#include "HistoryEntry.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>

class DownloadBatch;
class HistoryRecorder;

// Joins a download batch to the history at its one point of contact, the end of each item: a file
// saved is handed to the recorder with its facts (address, final address, page, path, bytes, time),
// which hashes it, records it, and with skipSameContent removes it again when a saved file that still
// exists has the same bytes. Reports each item once that is settled, and the batch's end once every
// item is. Without a recorder every item is settled as it ends.
class HistoryDownloadLink : public QObject {
    Q_OBJECT
public:
    struct Options {
        bool record = true;
        bool skipSameContent = false;
        // Copies among the files of this batch count too (otherwise only of files saved before).
        bool skipCopiesWithinBatch = true;
    };

    HistoryDownloadLink(DownloadBatch* batch, const QList<DownloadItem>& items, HistoryRecorder* recorder,
                        const Options& options, QObject* parent = nullptr);

    // The items removed as copies, by position, with the saved file each copied.
    const QHash<int, HistoryEntry>& sameContent() const;

Q_SIGNALS:
    // In any order; sameContent.path is set when the file was removed as a copy of it.
    void itemSettled(int index, const DownloadResult& result, const HistoryEntry& sameContent);
    // The batch has finished and every item is settled.
    void finished(const DownloadResults& results);

private:
    void itemFinished(int index, const DownloadResult& result);
    void finishIfSettled();

    QList<DownloadItem> m_items;
    QPointer<HistoryRecorder> m_recorder;
    Options m_options;
    DownloadResults m_results;
    QHash<int, int> m_waiting; // ticket → item
    QHash<int, HistoryEntry> m_sameContent;
    qint64 m_startedMs = 0;
    bool m_batchFinished = false;
    bool m_finished = false;
};
