#include "HarvestCommand.h"

#include "AddressInput.h"
#include "CommandLanguage.h"
#include "CommandOutput.h"
#include "HarvestProfile.h"
#include "RecordFormat.h"
#include "TWebBrowser.h"
#include "WorkLimits.h"
#include "tlinksys.h"

#include <QCoreApplication>
#include <QFile>
#include <QTimer>

#include <cstdio>

namespace {

// One line; flushed unless more lines follow at once.
void writeOut(FILE* stream, const QString& line, bool flush = true) {
    CommandOutput::write(stream, line + QLatin1Char('\n'), flush);
}

QString recordLine(const tURLData& record, bool json) {
    return json ? RecordFormat::jsonLine(record) : RecordFormat::tsvLine(record);
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
    if (CommandLanguage::isJapanese())
        return QStringLiteral(
                   "使い方: nepirika harvest [--json] [--parallel N] [--no-scripts] [アドレス...]\n"
                   "各ページを読み込み、見つかったリンク・画像・埋め込みのアドレスを 1 行に 1 "
                   "件ずつ出力します。\n"
                   "各行は種類（page、image、embed、script）、タブ、アドレスです。\n"
                   "アドレスを指定しないときは、標準入力から 1 行に 1 件ずつ読みます。\n"
                   "各ページのアドレスは、そのページと前のページがすべて済みしだい、入力の順に出力します。\n"
                   "  --json          1 行に 1 つの JSON "
                   "オブジェクト（\"kind\"、\"url\"、\"source\"、\"via\"、\n"
                   "                  \"charset\" 見つけたページの文字コード）\n"
                   "  --parallel N    同時に N ページまで読み込む（1〜%1、既定 %2）\n"
                   "  --no-scripts    スクリプトを実行せず、ページ本体だけを読み込む\n"
                   "読み込めなかったページは標準エラーに出力します（アドレス、タブ、理由）。\n"
                   "終了コード: 0 すべて読み込めた、1 読み込めないページがあった、2 使い方の誤り。")
            .arg(WorkLimits::MostPagesAtOnce)
            .arg(WorkLimits::DefaultPagesAtOnce);
    return QStringLiteral(
               "Usage: nepirika harvest [--json] [--parallel N] [--no-scripts] [ADDRESS...]\n"
               "Loads each page and prints every link, image and embed address found on it,\n"
               "one line per address: the kind (page, image, embed or script), a tab, the address.\n"
               "With no ADDRESS the addresses are read from standard input, one a line.\n"
               "Each page's addresses are printed as soon as it and every page before it are done,\n"
               "in input order, the same whatever the number of pages loading at a time.\n"
               "  --json          one JSON object a line, with \"kind\", \"url\",\n"
               "                  \"source\", \"via\" (how it was found) and \"charset\" (the\n"
               "                  encoding of the page it was found on)\n"
               "  --parallel N    load up to N pages at a time (1 to %1; default %2)\n"
               "  --no-scripts    read each page as the server sent it: run none of its scripts and\n"
               "                  fetch nothing but the page itself (no style sheets, scripts, frames)\n"
               "Failures go to standard error (address, a tab, the reason).\n"
               "Exit status: 0 every page loaded, 1 at least one page failed, 2 usage error.")
        .arg(WorkLimits::MostPagesAtOnce)
        .arg(WorkLimits::DefaultPagesAtOnce);
}

int HarvestCommand::run(const QStringList& arguments) {
    bool json = false;
    bool noScripts = false;
    int parallel = tlinksys::defaultParallel();
    bool optionsDone = false;
    bool addressGiven = false;
    QStringList lines;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (!optionsDone && argument == QLatin1String("--")) {
            optionsDone = true;
        } else if (!optionsDone && argument == QLatin1String("--json")) {
            json = true;
        } else if (!optionsDone && argument == QLatin1String("--no-scripts")) {
            noScripts = true;
        } else if (!optionsDone && (argument == QLatin1String("--parallel") ||
                                    argument.startsWith(QLatin1String("--parallel=")))) {
            QString value;
            if (argument.contains(QLatin1Char('=')))
                value = argument.section(QLatin1Char('='), 1);
            else if (i + 1 < arguments.size())
                value = arguments.at(++i);
            else
                return usageError(QStringLiteral("--parallel needs a number"));
            bool ok = false;
            parallel = value.toInt(&ok);
            if (!ok || parallel < 1 || parallel > WorkLimits::MostPagesAtOnce)
                return usageError(QStringLiteral("--parallel takes a number from 1 to %1, not \"%2\"")
                                      .arg(WorkLimits::MostPagesAtOnce)
                                      .arg(value));
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

    // One identity for all the hidden pages: the window's, and that of `nepirika download`.
    HarvestProfile identity;
    tlinksys harvester(tlinksys::browsersOn(identity.profile()), parallel);
    harvester.setNoScripts(noScripts);

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
