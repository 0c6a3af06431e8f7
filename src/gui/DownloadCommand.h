#pragma once

#include "DownloadQueue.h"
#include "DownloadTypes.h"

#include <QList>
#include <QString>
#include <QUrl>

class QWidget;
class TWebBrowser;

// One entry to download: its address and the page where it was found (sent as Referer).
struct DownloadRequestItem {
    QString url;
    QString referer;
    QString charset{};       // the encoding of the page where it was found
    NameMask::Values mask{}; // what a name mask names it after (its position and date: the batch's)
    // The address to fetch when it differs from url: url with the password of the analysis, held
    // in memory only (never shown, never kept in the record of the batch). Empty: url.
    QUrl address{};
};

// The download command behind the "ダウンロード" buttons: creates the folder with its parents (an error
// box and nothing downloaded when that fails), downloads the entries with a progress window that can
// cancel (not modal: the main window can still be closed, see stopAll), and ends with the notice
// "ダウンロードが完了しました" (or "ダウンロードを中止しました" when the user stopped it) and the counts.
// When some failed, the notice also offers "失敗したものを再試行" (those items again, into the same folder)
// and saving their list as text.
// The batch is kept on disk while it runs (DownloadQueueKeeper): when the window goes away in the
// middle, what is left can be continued at the next start; when it ends, or the user stops it,
// the record goes. A record that cannot be written is told in an error box at once.
// Returns at once; the command owns itself and goes away when its notice has been shown.
namespace DownloadCommand {

// What the download history does with a download of the window. Every file saved is recorded in the
// history of the window (WindowHistory) unless the user turned that off.
struct HistoryChoice {
    // A file whose bytes match a file saved before this download (still there) is not kept; the
    // notice names it.
    bool skipSameContent = false;
    // Entries of the selection left out as saved before; the notice says how many.
    qsizetype savedSkipped = 0;
};

// jobs: transfers at once (0: the batch's default). mask names the files (empty: by their
// addresses); the items are numbered from 1 for its {n}.
void start(QWidget* parent, const QList<DownloadRequestItem>& items, const QString& folder,
           TWebBrowser* browser, int jobs = 0, const NameMask& mask = {}, const HistoryChoice& history = {});

// The downloads that run now in windows of owner, and the files they have done out of all of theirs.
struct Running {
    int downloads = 0;
    int done = 0;
    int total = 0;
    // Downloads whose record could not be written: stopped now, they cannot be continued.
    int unrecorded = 0;
};
Running running(const QWidget* owner);

// Stops every download of owner at once, without a notice (the program is closing): the transfers
// under way end and leave nothing, neither a partial file nor a hidden temporary one; the files
// already finished stay.
void stopAll(QWidget* owner);

// Continues a batch that was kept unfinished (see DownloadQueueKeeper): its entries not saved yet,
// into its folder, with the same progress window and notice, kept in the same record file.
// queue has its claims settled.
void continueKept(QWidget* parent, const DownloadQueue& queue, const QString& file, TWebBrowser* browser);

// The failed items as text, one a line ("address<TAB>reason", CR LF after each), written to path
// whole or not at all. False with a reason when it cannot be written.
bool writeFailureList(const QString& path, const DownloadResults& results, QString* error);

} // namespace DownloadCommand
