#pragma once

#include "DownloadTypes.h"
#include "HostPauses.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <memory>
#include <thread>

class BatchCookieJar;
class CurlSession;
class DownloadTransfer;
class UniqueFileReservation;

// Downloads a list of addresses into one folder, several at once, without blocking the thread's
// event loop. Every item gets a unique name in the folder (see UniqueFileReservation); two items
// that want the same name get their numbers in the order of the list, whichever finishes first.
// Bodies stream to disk into files that have no name until they are complete (or into an item's
// hidden partial file, see DownloadItem::partialName), so a failed, cancelled or killed item leaves
// no file under a final name. A complete file's data is flushed to the disk before it gets its
// name: the files that are ready at the same moment are flushed in one step off this thread (one
// syncfs for many, fdatasync for a few), so that durability costs little per file. At most
// maxPerHost items of one host run at once, and none start while their host is paused (HostPauses:
// a 429 or 503 with Retry-After met by any client of the process). Ends with
// exactly one finished(), whose results are in the order of the items. Works on the thread it lives
// on.
class DownloadBatch : public QObject {
    Q_OBJECT
public:
    DownloadBatch(const QString& folder, const QList<DownloadItem>& items,
                  const DownloadOptions& options = {}, QObject* parent = nullptr);
    // Stops what is still running and removes its files.
    ~DownloadBatch() override;

    // The item positions and the names claimed for them since the last call.
    using ClaimedNames = QList<QPair<int, QString>>;
    // Records claimed and calls recorded, on this thread, once they are kept (it may do the
    // writing elsewhere meanwhile, while the transfers go on).
    using NameRecorder = std::function<void(const ClaimedNames& claimed, std::function<void()> recorded)>;
    // Before any file gets the name claimed for it, recorder is given that name, so that a caller
    // that keeps the batch on disk has the name there before the file appears (then a file of that
    // name after a crash is known to be the item's). Claims are gathered and recorded one recording
    // at a time, each after a pause as long as the last one took (at most intervalMs); their files
    // wait meanwhile. Set before start().
    void setNameRecorder(NameRecorder recorder, int intervalMs);
    // Keeps the item's data in the hidden file partialName while it arrives, continuing what it
    // holds when validator names the version it came from (see DownloadItem). Set before start().
    void setPartialFile(int index, const QString& partialName, const QByteArray& validator,
                        qint64 expectedSize);

    // Starts the batch once; the folder must exist. Everything is reported later, from the event loop.
    void start();
    // Stops the running transfers and drops the waiting ones; each is reported as cancelled, the
    // finished files stay.
    void cancel();

    int total() const;
    // Items ended so far, and whether finished() has been sent.
    int done() const;
    bool isFinished() const;
    qint64 bytesReceived() const;
    // The addresses of the transfers receiving data now, in item order.
    QStringList currentUrls() const;
    const DownloadResults& results() const;
    // The hosts of the items not ended that wait because the host asked to (see HostPauses);
    // progress() is sent every second while there are any.
    QList<HostPauses::Pause> pausedHosts() const;

Q_SIGNALS:
    // At most every 100 ms while data arrives, and at every start and end of an item.
    void progress(int done, int total, const QStringList& current, qint64 bytesReceived);
    void itemFinished(int index, const DownloadResult& result);
    // The item's response carries the file (see DownloadTransfer::resumable).
    void itemResumable(int index, const QByteArray& validator, qint64 totalBytes);
    void finished(const DownloadResults& results);

private:
    void pump();
    void launch(int index);
    void onTransferFinished(int index, const DownloadResult& result);
    void scheduleProgress();
    void emitProgress();
    void finishIfDone();
    void claimNames();
    void handOverName(int index, const QString& claimed);
    void scheduleRecording();
    void recordClaims();
    void namesRecorded(const ClaimedNames& recorded);
    // Flushes the data of the items waiting to be published, off this thread, then publishes them.
    void flushReady();
    void flushed(const QList<int>& indexes, const QString& error);
    void waitForFlush();

    QString m_folder;
    QList<DownloadItem> m_items;
    DownloadOptions m_options;
    DownloadResults m_results;
    std::unique_ptr<UniqueFileReservation> m_reservation;
    // The requests of the batch (libcurl), and the cookies they send and set.
    CurlSession* m_session = nullptr;
    BatchCookieJar* m_cookies = nullptr;
    // The name each item wants (empty: not known yet), and whether it has ended.
    QStringList m_wantedNames;
    QList<bool> m_ended;
    // The first item whose name is not settled: names are claimed in list order from here.
    int m_nameCursor = 0;
    std::deque<int> m_pending;
    QHash<int, DownloadTransfer*> m_active;
    // Active items whose body is complete and that wait for their name to be published.
    QSet<int> m_parked;
    QHash<QString, int> m_perHost;
    QString m_folderError;
    int m_done = 0;
    qint64 m_bytes = 0;
    bool m_started = false;
    bool m_cancelled = false;
    bool m_finished = false;
    bool m_progressScheduled = false;
    bool m_pauseTickScheduled = false;
    bool m_claiming = false;
    NameRecorder m_recorder;
    int m_recordIntervalMs = 0;
    ClaimedNames m_unrecorded;
    qint64 m_lastRecordedMs = -1;
    qint64 m_lastRecordingTookMs = 0;
    bool m_recordingScheduled = false;
    bool m_recording = false;
    // Items whose data waits to be flushed, and the flush under way.
    QList<int> m_readyToFlush;
    std::thread m_flusher;
    bool m_flushing = false;
};
