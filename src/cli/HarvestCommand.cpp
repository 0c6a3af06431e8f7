#include "HarvestCommand.h"

#include "AddressInput.h"
#include "CommandLanguage.h"
#include "CommandOutput.h"
#include "HarvestOutput.h"
#include "HarvestProfile.h"
#include "PageScroller.h"
#include "TWebBrowser.h"
#include "WindowViewport.h"
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

QString unsizedNote(int count) {
    if (CommandLanguage::isJapanese())
        return QStringLiteral("nepirika harvest: 大きさを読み取れなかった画像 %1 件を除きました").arg(count);
    return QStringLiteral("nepirika harvest: left out %1 image(s) whose size could not be read").arg(count);
}

} // namespace

QString HarvestCommand::usage() {
    if (CommandLanguage::isJapanese())
        return QStringLiteral(
                   "使い方: nepirika harvest [--json] [--parallel N] [--no-scripts] [--scroll] [--probe]\n"
                   "                         [--largest] [--min-width N] [--min-height N] [アドレス...]\n"
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
                   "  --scroll        読み込んだ各ページを 1 画面ずつ最後までスクロールしてから集める\n"
                   "                  （1 ページ %3 画面・%4 秒まで。それでも伸びるページはそこで打ち切る）\n"
                   "  --probe         各画像の先頭だけを取得し、--json に "
                   "\"width\"、\"height\"（ピクセル）、\n"
                   "                  \"bytes\"（ファイル全体の大きさ）、\"type\"（内容から読んだ MIME "
                   "タイプ）を加える。\n"
                   "                  読めなかった画像は \"probe_error\" "
                   "に理由を示す（終了コードは変わらない）\n"
                   "  --largest       srcset・picture の組ごとに最大の候補だけを出力する（取得したときは\n"
                   "                  ピクセル数、ほかは w、次に x の記述子で比べる）\n"
                   "  --min-width N   幅が N ピクセル以上の画像だけを出力する（--probe を含む）\n"
                   "  --min-height N  高さが N ピクセル以上の画像だけを出力する（--probe を含む）。\n"
                   "                  大きさを読めなかった画像は除き、その数を標準エラーに出力する\n"
                   "--json の画像には、ページに書かれた \"set\"（同じ組の候補に共通の番号）、\"descriptor\"\n"
                   "（\"1280w\"、\"2x\"）、\"element_width\"、\"element_height\"（要素の width・height "
                   "属性）も付く。\n"
                   "読み込めなかったページは標準エラーに出力します（アドレス、タブ、理由）。\n"
                   "終了コード: 0 すべて読み込めた、1 読み込めないページがあった、2 使い方の誤り。")
            .arg(WorkLimits::MostPagesAtOnce)
            .arg(WorkLimits::DefaultPagesAtOnce)
            .arg(PageScroller::MostScreens)
            .arg(PageScroller::MostMs / 1000);
    return QStringLiteral(
               "Usage: nepirika harvest [--json] [--parallel N] [--no-scripts] [--scroll] [--probe]\n"
               "                        [--largest] [--min-width N] [--min-height N] [ADDRESS...]\n"
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
               "  --scroll        scroll each loaded page to its end, a screen at a time, before\n"
               "                  collecting (at most %3 screens and %4 s a page; a page that is\n"
               "                  still growing then is collected as it stands, with a note)\n"
               "  --probe         fetch the start of each image and add to its --json record \"width\"\n"
               "                  and \"height\" (pixels), \"bytes\" (the whole file's size) and \"type\"\n"
               "                  (the MIME type read from the content); an image whose facts could\n"
               "                  not be read says why in \"probe_error\" (the exit status stays)\n"
               "  --largest       keep only the largest candidate of each srcset or picture set (by\n"
               "                  pixel size when probed, else by the w, then the x descriptor)\n"
               "  --min-width N   keep only images at least N pixels wide (implies --probe)\n"
               "  --min-height N  keep only images at least N pixels high (implies --probe); images\n"
               "                  whose size could not be read are left out and counted on standard error\n"
               "An image's --json record also carries what the page says of it: \"set\" (the number\n"
               "its srcset or picture candidates share), \"descriptor\" (\"1280w\", \"2x\"), and\n"
               "\"element_width\", \"element_height\" (its element's width and height attributes).\n"
               "Failures go to standard error (address, a tab, the reason).\n"
               "Exit status: 0 every page loaded, 1 at least one page failed, 2 usage error.")
        .arg(WorkLimits::MostPagesAtOnce)
        .arg(WorkLimits::DefaultPagesAtOnce)
        .arg(PageScroller::MostScreens)
        .arg(PageScroller::MostMs / 1000);
}

int HarvestCommand::run(const QStringList& arguments) {
    HarvestOutput::Options output;
    bool noScripts = false;
    bool scroll = false;
    int parallel = tlinksys::defaultParallel();
    bool optionsDone = false;
    bool addressGiven = false;
    QStringList lines;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (!optionsDone && argument == QLatin1String("--")) {
            optionsDone = true;
        } else if (!optionsDone && argument == QLatin1String("--json")) {
            output.json = true;
        } else if (!optionsDone && argument == QLatin1String("--no-scripts")) {
            noScripts = true;
        } else if (!optionsDone && argument == QLatin1String("--scroll")) {
            scroll = true;
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
    // Pages whose scripts run see the screen of a browser window; read without them, they need none.
    tlinksys harvester(noScripts ? tlinksys::browsersOn(identity.profile())
                                 : WindowViewport::browsersOn(identity.profile()),
                       parallel);
    harvester.setNoScripts(noScripts);
    harvester.setScrollToEnd(scroll);

    // Probes present the identity of the pages' browser: its user agent and cookies.
    output.network.userAgent = identity.userAgent();
    output.network.cookieJar = identity.cookieJar();
    output.network.parallel = WorkLimits::MostTransfersAtOnce;
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
        QCoreApplication::exit(failures == 0 ? 0 : 1);
    });

    harvester.LoadAll(lines);
    return QCoreApplication::exec();
}
