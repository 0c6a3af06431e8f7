// The nepirika executable: the program's usage, its version, `nepirika download` and `nepirika
// history` run here at
// once, with Qt Core and Qt Network only; the window and `nepirika harvest` are in the browser
// engine's module, which is loaded for them alone.

#include "CommandApplication.h"
#include "DownloadCommandLine.h"
#include "EngineModule.h"
#include "HistoryCommand.h"
#include "ProgramUsage.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>
#include <cstring>

namespace {

int runDownload(int argc, char** argv, const QStringList& arguments) {
    CommandApplication<QCoreApplication> app(argc, argv);
    return CommandApplication<QCoreApplication>::run([&]() { return DownloadCommandLine::run(arguments); });
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1) {
        const char* first = argv[1];
        if (std::strcmp(first, "--help") == 0 || std::strcmp(first, "-h") == 0) {
            ProgramUsage::print(stdout);
            return 0;
        }
        if (std::strcmp(first, "--version") == 0) {
            std::printf("nepirika %s\n", NEPIRIKA_VERSION);
            return 0;
        }
        if (std::strcmp(first, "download") == 0) {
            QStringList arguments;
            for (int i = 2; i < argc; ++i)
                arguments.append(QString::fromLocal8Bit(argv[i]));
            return runDownload(argc, argv, arguments);
        }
        if (std::strcmp(first, "history") == 0) {
            QStringList arguments;
            for (int i = 2; i < argc; ++i)
                arguments.append(QString::fromLocal8Bit(argv[i]));
            CommandApplication<QCoreApplication> app(argc, argv);
            return CommandApplication<QCoreApplication>::run(
                [&]() { return HistoryCommand::run(arguments); });
        }
    }
    return EngineModule::run(argc, argv);
}
