#include "HarvestCommand.h"

#include "AddressInput.h"
#include "CommandCookies.h"
#include "CommandHelp.h"
#include "CommandLanguage.h"
#include "CommandOutput.h"
#include "DownloadHistory.h"
#include "EngineNoise.h"
#include "HarvestOutput.h"
#include "HarvestProfile.h"
#include "HistoryCommand.h"
#include "HistoryLocation.h"
#include "TWebBrowser.h"
#include "WindowViewport.h"
#include "WorkLimits.h"
#include "tlinksys.h"

#include <QCoreApplication>
#include <QFile>
#include <QTimer>

#include <memory>

#include <cstdio>

namespace {

// One line; flushed unless more lines follow at once.
void writeOut(FILE* stream, const QString& line, bool flush = true) {
    CommandOutput::write(stream, line + QLatin1Char('\n'), flush);
}

// The value of an option given as "--name N" or "--name=N"; false (with a usage error written) when
// it is missing.
bool optionValue(const QStringList& arguments, qsizetype& i, QString* value) {
    const QString& argument = arguments.at(i);
    if (argument.contains(QLatin1Char('=')))
        *value = argument.section(QLatin1Char('='), 1);
    else if (i + 1 < arguments.size())
        *value = arguments.at(++i);
    else
        return false;
    return true;
}

bool isOption(const QString& argument, const char* name) {
    return argument == QLatin1String(name) || argument.startsWith(QLatin1String(name) + QLatin1Char('='));
}

int usageError(const QString& message) {
    writeOut(stderr, QStringLiteral("nepirika harvest: ") + message);
    writeOut(stderr, HarvestCommand::usage());
    return 2;
}

QString savedNote(int count) {
    if (CommandLanguage::isJapanese())
        return QStringLiteral("nepirika harvest: 保存済みのもの %1 件を除きました").arg(count);
    return QStringLiteral("nepirika harvest: left out %1 record(s) saved before").arg(count);
}

QString unsizedNote(int count) {
    if (CommandLanguage::isJapanese())
        return QStringLiteral("nepirika harvest: 大きさを読み取れなかった画像 %1 件を除きました").arg(count);
    return QStringLiteral("nepirika harvest: left out %1 image(s) whose size could not be read").arg(count);
}

QString repeatsNote(qsizetype count) {
    if (CommandLanguage::isJapanese())
        return QStringLiteral("nepirika harvest: 同じアドレスの行 %1 行は一度だけ読み込みました").arg(count);
    return QStringLiteral("nepirika harvest: skipped %1 repeated address line(s)").arg(count);
}

} // namespace

QString HarvestCommand::usage() {
    const QList<CommandHelp::Option> options = CommandHelp::harvestOptions();
    if (CommandLanguage::isJapanese())
        return QStringLiteral("使い方: nepirika harvest ") + CommandHelp::synopsis(options, 25) +
               QStringLiteral(
                   " [アドレス...]\n"
                   "各ページを読み込み、見つかったリンク・画像・埋め込みのアドレスを 1 行に 1 "
                   "件ずつ出力します。\n"
                   "各行は種類（page、image、embed、script）、タブ、アドレス、タブ、見つかったページです。\n"
                   "同じアドレスの行は一度だけ読み込み、飛ばした行の数を標準エラーに出力します。\n"
                   "アドレスを指定しないときは、標準入力から 1 行に 1 件ずつ読みます。\n"
                   "各ページのアドレスは、そのページと前のページがすべて済みしだい、入力の順に出力"
                   "します。\n") +
               CommandHelp::optionLines(options) +
               QStringLiteral(
                   "--json の画像には、ページに書かれた \"set\"（同じ組の候補に共通の番号）、\"descriptor\"\n"
                   "（\"1280w\"、\"2x\"）、\"element_width\"、\"element_height\"（要素の width・height "
                   "属性）も付く。\n"
                   "保存の履歴にあるアドレスの --json には \"saved\"（残っている最新の保存先）が付く。\n"
                   "読み込めなかったページは標準エラーに出力します（アドレス、タブ、理由）。\n"
                   "終了コード: 0 すべて読み込めた、1 読み込めないページがあった、2 使い方の誤り。");
    return QStringLiteral("Usage: nepirika harvest ") + CommandHelp::synopsis(options, 24) +
           QStringLiteral(
               " [ADDRESS...]\n"
               "Loads each page and prints every link, image and embed address found on it,\n"
               "one line per address: the kind (page, image, embed or script), a tab, the address,\n"
               "a tab, the page it was found on (which `nepirika download` sends as Referer).\n"
               "A repeated input line is loaded once; standard error says how many were skipped.\n"
               "With no ADDRESS the addresses are read from standard input, one a line.\n"
               "Each page's addresses are printed as soon as it and every page before it are done,\n"
               "in input order, the same whatever the number of pages loading at a time.\n") +
           CommandHelp::optionLines(options) +
           QStringLiteral(
               "An image's --json record also carries what the page says of it: \"set\" (the number\n"
               "its srcset or picture candidates share), \"descriptor\" (\"1280w\", \"2x\"), and\n"
               "\"element_width\", \"element_height\" (its element's width and height attributes).\n"
               "A --json record whose address the download history has saved carries \"saved\": the\n"
               "path of its latest saved file that is still there.\n"
               "Failures go to standard error (address, a tab, the reason).\n"
               "Exit status: 0 every page loaded, 1 at least one page failed, 2 usage error.");
}

int HarvestCommand::run(const QStringList& arguments) {
    HarvestOutput::Options output;
    bool noScripts = false;
    bool scroll = false;
    bool verbose = false;
    int parallel = tlinksys::defaultParallel();
    LinkFollowing::Settings follow;
    bool optionsDone = false;
    bool addressGiven = false;
    CommandCookies cookies;
    QString cookieError;
    QStringList lines;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (!optionsDone && argument == QLatin1String("--")) {
            optionsDone = true;
        } else if (!optionsDone && argument == QLatin1String("--json")) {
            output.json = true;
        } else if (!optionsDone && cookies.take(arguments, &i, &cookieError)) {
            if (!cookieError.isEmpty())
                return usageError(cookieError);
        } else if (!optionsDone && argument == QLatin1String("--verbose")) {
            verbose = true;
        } else if (!optionsDone && argument == QLatin1String("--no-scripts")) {
            noScripts = true;
        } else if (!optionsDone && argument == QLatin1String("--scroll")) {
            scroll = true;
        } else if (!optionsDone && argument == QLatin1String("--new-only")) {
            output.newOnly = true;
        } else if (!optionsDone && argument == QLatin1String("--probe")) {
            output.probe = true;
        } else if (!optionsDone && argument == QLatin1String("--largest")) {
            output.largest = true;
        } else if (!optionsDone &&
                   (isOption(argument, "--min-width") || isOption(argument, "--min-height"))) {
            const QString name = argument.section(QLatin1Char('='), 0, 0);
            QString value;
            if (!optionValue(arguments, i, &value))
                return usageError(QStringLiteral("%1 needs a number").arg(name));
            bool ok = false;
            const qint64 pixels = value.toLongLong(&ok);
            if (!ok || pixels < 0)
                return usageError(QStringLiteral("%1 takes a number of pixels, not \"%2\"").arg(name, value));
            (name == QLatin1String("--min-width") ? output.minWidth : output.minHeight) = pixels;
        } else if (!optionsDone && isOption(argument, "--parallel")) {
            QString value;
            if (!optionValue(arguments, i, &value))
                return usageError(QStringLiteral("--parallel needs a number"));
            bool ok = false;
            parallel = value.toInt(&ok);
            if (!ok || parallel < 1 || parallel > WorkLimits::MostPagesAtOnce)
                return usageError(QStringLiteral("--parallel takes a number from 1 to %1, not \"%2\"")
                                      .arg(WorkLimits::MostPagesAtOnce)
                                      .arg(value));
        } else if (!optionsDone && argument == QLatin1String("--span-hosts")) {
            follow.spanHosts = true;
        } else if (!optionsDone && argument == QLatin1String("--ignore-robots")) {
            follow.obeyRobots = false;
        } else if (!optionsDone && isOption(argument, "--follow-match")) {
            QString value;
            if (!optionValue(arguments, i, &value) || value.isEmpty())
                return usageError(QStringLiteral("--follow-match needs a text"));
            follow.match.append(value);
        } else if (!optionsDone && (isOption(argument, "--follow") || isOption(argument, "--max-pages"))) {
            const QString name = argument.section(QLatin1Char('='), 0, 0);
            const bool depth = name == QLatin1String("--follow");
            const int least = depth ? 0 : 1;
            const int most = depth ? LinkFollowing::MostDepth : LinkFollowing::MostMaxPages;
            QString value;
            if (!optionValue(arguments, i, &value))
                return usageError(QStringLiteral("%1 needs a number").arg(name));
            bool ok = false;
            const int number = value.toInt(&ok);
            if (!ok || number < least || number > most)
                return usageError(QStringLiteral("%1 takes a number from %2 to %3, not \"%4\"")
                                      .arg(name)
                                      .arg(least)
                                      .arg(most)
                                      .arg(value));
            (depth ? follow.depth : follow.maxPages) = number;
        } else if (!optionsDone && isOption(argument, "--delay")) {
            QString value;
            if (!optionValue(arguments, i, &value))
                return usageError(QStringLiteral("--delay needs a number of seconds"));
            bool ok = false;
            const double seconds = value.toDouble(&ok);
            if (!ok || !(seconds >= 0) || seconds > LinkFollowing::MostDelaySeconds)
                return usageError(QStringLiteral("--delay takes seconds from 0 to %1, not \"%2\"")
                                      .arg(LinkFollowing::MostDelaySeconds)
                                      .arg(value));
            follow.delaySeconds = seconds;
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
    if (cookies.any() && !cookies.read())
        return 2;
    // Each address is loaded once, where it first stands, as the window does.
    qsizetype repeats = 0;
    lines = AddressInput::distinct(lines, &repeats);

    // Standard error carries the failures, one a line, for scripts to read: the engine's own
    // messages stay out of it unless asked for.
    if (!verbose)
        EngineNoise::quietToolkitMessages();
    struct RestoreHandler {
        ~RestoreHandler() { EngineNoise::restoreToolkitMessages(); }
    } restoreHandler;

    // One identity for all the hidden pages: the window's, and that of `nepirika download`.
    HarvestProfile identity;
    // Pages loaded with their scripts are laid out in the screen of a browser window.
    tlinksys harvester(WindowViewport::browsersFor(identity.profile(), noScripts, scroll), parallel);
    harvester.setNoScripts(noScripts);
    harvester.setScrollToEnd(scroll);
    harvester.setFollowing(follow);
    harvester.setRobotsUserAgent(identity.userAgent());
    // A thumbnail's set reaches into the page its link leads to.
    output.setsAcrossPages = follow.depth > 0;

    // Probes present the identity of the pages' browser: its user agent and cookies.
    output.network.userAgent = identity.userAgent();
    output.network.cookieJar = identity.cookieJar();
    output.network.parallel = WorkLimits::MostTransfersAtOnce;
    // What the download history has saved: marked in --json, or left out with --new-only.
    std::unique_ptr<DownloadHistory> history;
    if (output.json || output.newOnly) {
        history = std::make_unique<DownloadHistory>(HistoryLocation::defaultFile());
        output.savedLookup = [&history](const QStringList& urls) {
            QHash<QString, QString> paths;
            const QHash<QString, HistoryEntry> saved = history->savedFor(urls);
            for (auto it = saved.cbegin(); it != saved.cend(); ++it)
                paths.insert(it.key(), it->path);
            const QString aside = history->takeSetAside();
            if (!aside.isEmpty())
                writeOut(stderr,
                         QStringLiteral("nepirika harvest: ") + HistoryCommand::setAsideMessage(aside));
            return paths;
        };
    }
    HarvestOutput printer(
        output, [](const QString& line) { writeOut(stdout, line, false); }, []() { std::fflush(stdout); });
    qsizetype printed = 0;
    int failures = 0;
    auto printNew = [&]() {
        QList<tURLData> records;
        for (; printed < harvester.List.Count(); ++printed)
            records.append(harvester.List.Items(printed));
        printer.addPage(records);
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
        printer.finish();
    });
    QObject::connect(&printer, &HarvestOutput::done, &harvester, [&]() {
        if (printer.unsized() > 0)
            writeOut(stderr, unsizedNote(printer.unsized()));
        if (output.newOnly)
            writeOut(stderr, savedNote(printer.savedLeftOut()));
        QCoreApplication::exit(failures == 0 ? 0 : 1);
    });

    // The engine takes the log-in's cookies before its first request.
    if (cookies.any())
        cookies.reportRefused(identity.addCookies(cookies.cookies()));
    if (repeats > 0)
        writeOut(stderr, repeatsNote(repeats));
    harvester.LoadAll(lines);
    return QCoreApplication::exec();
}
