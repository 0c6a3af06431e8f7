#pragma once

class QWidget;
class TWebBrowser;

// At the window's start: a download batch that an earlier run left unfinished (the window closed
// or the program killed in the middle, see DownloadQueueKeeper) is offered, one batch at a time,
// in a notice: "前回のダウンロードを再開" continues it (the addresses not saved yet, into the same
// folder), "破棄" forgets it, and closing the notice leaves it for the next start. A record that
// cannot be read is reported and put aside. Each kept batch (any number of them, several for one
// folder too) is offered in turn with its folder, count left and the date it began; continuing one
// goes on to offer the next.
namespace DownloadQueueOffer {

void offer(QWidget* window, TWebBrowser* browser);

} // namespace DownloadQueueOffer
