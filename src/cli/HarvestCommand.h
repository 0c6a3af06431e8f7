#pragma once

#include <QStringList>

// "nepirika harvest [--json] [--parallel N] [--no-scripts] [--probe] [--largest] [--min-width N]
// [--min-height N] [ADDRESS...]": the harvester without a window, for
// scripts and tests.
class HarvestCommand {
public:
    // arguments: what follows the word "harvest". Runs inside an existing QGuiApplication (the
    // offscreen platform will do) and runs its event loop. Returns the exit status: 0 when every
    // page loaded, 1 when at least one failed, 2 for a usage error.
    static int run(const QStringList& arguments);
    // The usage text printed on a usage error and for --help.
    static QString usage();
};
