#pragma once

#include <QString>
#include <QStringList>

// "nepirika download [--dir DIR] [ADDRESS...]": downloads addresses (from standard input when none
// are given) into DIR (default "DL" under the current directory) with the same naming and engine as
// the window. Prints one line per address in the order given: "ok<TAB>address<TAB>path written" or
// "failed<TAB>address<TAB>reason"; a progress line goes to standard error when that is a terminal.
// The batch is kept on disk while it runs (DownloadQueueKeeper); "--continue" runs what a run into
// the same DIR left unfinished (killed, interrupted), each file once.
class DownloadCommandLine {
public:
    // arguments: what follows the word "download". Runs inside an existing QCoreApplication and
    // runs its event loop. Returns the exit status: 0 when every address was saved, 1 when any
    // failed, 2 for a usage error, 130 when interrupted (what was unfinished is removed).
    static int run(const QStringList& arguments);
    static QString usage();
};
