#pragma once

#include <QString>
#include <QStringList>

// "nepirika history [--json] [TEXT]": the files saved, newest first, one a line
// ("time<TAB>address<TAB>path<TAB>bytes"; with --json one object a line with every column), those
// that TEXT matches when it is given (as the result lists' filter matches, or in the path);
// "nepirika history --forget TEXT" removes the matching entries and says how many.
class HistoryCommand {
public:
    // arguments: what follows the word "history". Returns the exit status: 0 done, 1 the history
    // could not be read or written, 2 usage error.
    static int run(const QStringList& arguments);
    static QString usage();
    // The message for a damaged history set aside as damagedFile, in the commands' language.
    static QString setAsideMessage(const QString& damagedFile);
};
