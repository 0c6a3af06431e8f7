#include "HarvestCommand.h"

#include "AddressInput.h"
#include "CommandOutput.h"
#include "TWebBrowser.h"
#include "tlinksys.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <cstdio>

namespace {

// One line; flushed unless more lines follow at once.
void writeOut(FILE* stream, const QString& line, bool flush = true) {
    CommandOutput::write(stream, line + QLatin1Char('\n'), flush);
}

QString recordLine(const tURLData& record, bool json) {
    if (!json)
        return tURLData::kindName(record.Kind) + QLatin1Char('\t') + record.URL;
    QJsonObject o;
    o.insert(QStringLiteral("kind"), tURLData::kindName(record.Kind));
    o.insert(QStringLiteral("url"), record.URL);
    o.insert(QStringLiteral("source"), record.Source);
    o.insert(QStringLiteral("via"), record.Via);
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

QtMessageHandler previousHandler = nullptr;

// Standard error carries the failures, one a line, for scripts to read: the engine's start-up
// chatter (its settings, the missing graphics of the offscreen platform) stays out of it.
void quietEngineMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtDebugMsg || type == QtInfoMsg)
        return;
    if (type == QtWarningMsg &&
        ((context.category && QLatin1String(context.category) == QLatin1String("qt.webenginecontext")) ||
         message.startsWith(QLatin1String("WebEngineContext used before")) ||
         message.startsWith(QLatin1String("No suitable graphics backend found"))))
        return;
    if (previousHandler)
        previousHandler(type, context, message);
}

int usageError(const QString& message) {
    writeOut(stderr, QStringLiteral("nepirika harvest: ") + message);
    writeOut(stderr, HarvestCommand::usage());
    return 2;
}

} // namespace

QString HarvestCommand::usage() {
    return QStringLiteral(
        "Usage: nepirika harvest [--json] [ADDRESS...]\n"
        "Loads each page and prints every link, image and embed address found on it,\n"
        "one line per address: the kind (page, image, embed or script), a tab, the address.\n"
        "With no ADDRESS the addresses are read from standard input, one a line.\n"
        "  --json   one JSON object a line, with \"kind\", \"url\", \"source\" and \"via\"\n"
        "Failures go to standard error (address, a tab, the reason).\n"
        "Exit status: 0 every page loaded, 1 at least one page failed, 2 usage error.");
}

int HarvestCommand::run(const QStringList& arguments) {
    bool json = false;
    bool optionsDone = false;
    bool addressGiven = false;
    QStringList lines;
    for (const QString& argument : arguments) {
        if (!optionsDone && argument == QLatin1String("--")) {
            optionsDone = true;
        } else if (!optionsDone && argument == QLatin1String("--json")) {
            json = true;
        } else if (!optionsDone && (argument == QLatin1String("--help") || argument == QLatin1String("-h"))) {
            writeOut(stdout, usage());
            return 0;
        } else if (!optionsDone && argument.startsWith(QLatin1Char('-')) && argument.size() > 1) {
            return usageError(QStringLiteral("unknown option: %1").arg(argument));
        } else {
            addressGiven = true;
            lines.append(AddressInput::lines(argument));
        }
    }
    if (!addressGiven) {
        QFile in;
        if (!in.open(stdin, QIODevice::ReadOnly))
            return usageError(QStringLiteral("cannot read standard input"));
        lines = AddressInput::lines(QString::fromUtf8(in.readAll()));
    }
    if (lines.isEmpty())
        return usageError(QStringLiteral("no address given"));

    previousHandler = qInstallMessageHandler(quietEngineMessages);
    struct RestoreHandler {
        ~RestoreHandler() { qInstallMessageHandler(previousHandler); }
    } restoreHandler;

    TWebBrowser browser;
    tlinksys harvester(&browser);
    QObject::connect(&browser, &TWebBrowser::DocumentComplete, &harvester,
                     [&browser, &harvester](bool ok, const QString& errorText) {
                         browser.Stop();
                         harvester.HarvestDocument(ok, errorText);
                     });

    qsizetype printed = 0;
    int failures = 0;
    auto printNew = [&]() {
        for (; printed < harvester.List.Count(); ++printed)
            writeOut(stdout, recordLine(harvester.List.Items(printed), json), false);
        std::fflush(stdout);
    };
    QObject::connect(&harvester, &tlinksys::pageFinished, &harvester,
                     [&](const QString& address, bool ok, const QString& reason) {
                         printNew();
                         if (!ok) {
                             ++failures;
                             writeOut(stderr, CommandOutput::oneLine(address) + QLatin1Char('\t') +
                                                  CommandOutput::oneLine(reason));
                         }
                     });
    QObject::connect(&harvester, &tlinksys::finished, &harvester, [&](bool) {
        printNew();
        QCoreApplication::exit(failures == 0 ? 0 : 1);
    });

    harvester.LoadAll(lines);
    return QCoreApplication::exec();
}
