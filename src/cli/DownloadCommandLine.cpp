#include "DownloadCommandLine.h"

#include "AddressInput.h"
#include "BrowserIdentity.h"
#include "CommandHelp.h"
#include "CommandLanguage.h"
#include "CommandOutput.h"
#include "DownloadBatch.h"
#include "DownloadQueue.h"
#include "DownloadQueueKeeper.h"
#include "EngineNoise.h"
#include "RecordFormat.h"
#include "TerminationSignals.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <cstdio>
#include <unistd.h>

namespace {

constexpr int ExitOk = 0;
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;
constexpr int ExitInterrupted = 130;

int usageError(const QString& message) {
    CommandOutput::write(
        stderr, QStringLiteral("nepirika download: %1\n%2").arg(message, DownloadCommandLine::usage()));
    return ExitUsage;
}

struct Arguments {
    QString dir = QStringLiteral("DL");
    bool continueKept = false;
    bool verbose = false;
    int jobs = DownloadOptions().parallel;
    int retries = DownloadOptions().retries;
    QStringList addresses;
    bool help = false;
    QString error;
};

// The number after an option ("--jobs 8" or "--jobs=8"), within [low, high]; false with the error set.
bool numberOption(const QStringList& arguments, qsizetype* i, const QString& name, int low, int high,
                  int* value, QString* error) {
    const QString& arg = arguments.at(*i);
    QString text;
    if (arg == name) {
        if (*i + 1 >= arguments.size()) {
            *error = QStringLiteral("%1 needs a number").arg(name);
            return false;
        }
        text = arguments.at(++*i);
    } else {
        text = arg.mid(name.size() + 1);
    }
    bool ok = false;
    const int number = text.toInt(&ok);
    if (!ok || number < low || number > high) {
        *error = QStringLiteral("%1 takes a number from %2 to %3, not \"%4\"")
                     .arg(name)
                     .arg(low)
                     .arg(high)
                     .arg(text);
        return false;
    }
    *value = number;
    return true;
}

bool isOption(const QString& arg, const QString& name) {
    return arg == name || arg.startsWith(name + u'=');
}

Arguments parse(const QStringList& arguments) {
    Arguments parsed;
    bool options = true;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& arg = arguments.at(i);
        if (options && isOption(arg, QStringLiteral("--jobs"))) {
            if (!numberOption(arguments, &i, QStringLiteral("--jobs"), 1, WorkLimits::MostTransfersAtOnce,
                              &parsed.jobs, &parsed.error))
                return parsed;
        } else if (options && isOption(arg, QStringLiteral("--retries"))) {
            if (!numberOption(arguments, &i, QStringLiteral("--retries"), 0, WorkLimits::MostRetries,
                              &parsed.retries, &parsed.error))
                return parsed;
        } else if (options && arg == u"--continue") {
            parsed.continueKept = true;
        } else if (options && arg == u"--verbose") {
            parsed.verbose = true;
        } else if (options && arg == u"--") {
            options = false;
        } else if (options && (arg == u"-h" || arg == u"--help")) {
            parsed.help = true;
        } else if (options && arg == u"--dir") {
            if (i + 1 >= arguments.size()) {
                parsed.error = QStringLiteral("--dir needs a folder");
                return parsed;
            }
            parsed.dir = arguments.at(++i);
        } else if (options && arg.startsWith(QLatin1String("--dir="))) {
            parsed.dir = arg.mid(6);
        } else if (options && arg.startsWith(u'-') && arg.size() > 1) {
            parsed.error = QStringLiteral("unknown option %1").arg(arg);
            return parsed;
        } else {
            parsed.addresses.append(arg);
        }
    }
    if (parsed.dir.isEmpty())
        parsed.error = QStringLiteral("--dir needs a folder");
    else if (parsed.continueKept && !parsed.addresses.isEmpty())
        parsed.error = QStringLiteral("--continue takes no address: it continues what was kept for --dir");
    return parsed;
}

// Prints the results in the order of the addresses as soon as each and all before it are known,
// and keeps the progress line on a terminal up to date.
class ResultPrinter {
public:
    explicit ResultPrinter(const QList<DownloadItem>& items)
        : m_items(items)
        , m_results(items.size())
        , m_known(items.size(), false)
        , m_progress(::isatty(STDERR_FILENO) == 1) {}

    void add(int index, const DownloadResult& result) {
        m_results[index] = result;
        m_known[index] = true;
        clearProgress();
        while (m_next < m_items.size() && m_known[m_next]) {
            const DownloadResult& r = m_results[m_next];
            const QString address = CommandOutput::oneLine(m_items[m_next].url);
            if (r.succeeded())
                CommandOutput::write(
                    stdout, QStringLiteral("ok\t%1\t%2\n").arg(address, CommandOutput::oneLine(r.path)));
            else
                CommandOutput::write(
                    stdout,
                    QStringLiteral("failed\t%1\t%2\n").arg(address, CommandOutput::oneLine(r.message)));
            ++m_next;
        }
    }

    void progress(int done, int total, const QStringList& current, qint64 bytes) {
        if (!m_progress)
            return;
        QString line =
            QStringLiteral("[%1/%2] %3").arg(done).arg(total).arg(QLocale::c().formattedDataSize(bytes));
        if (!current.isEmpty())
            line += u' ' + current.front();
        if (line.size() > 200)
            line = line.left(199) + u'…';
        CommandOutput::write(stderr, QStringLiteral("\r\033[K") + line);
        m_lineShown = true;
    }

    void clearProgress() {
        if (m_lineShown)
            CommandOutput::write(stderr, QStringLiteral("\r\033[K"));
        m_lineShown = false;
    }

private:
    QList<DownloadItem> m_items;
    QList<DownloadResult> m_results;
    QList<bool> m_known;
    qsizetype m_next = 0;
    bool m_progress;
    bool m_lineShown = false;
};

QList<DownloadItem> itemsFromInput(const QStringList& addresses) {
    QList<RecordFormat::Entry> entries;
    for (const QString& address : addresses) {
        const QString trimmed = address.trimmed();
        if (!trimmed.isEmpty())
            entries.append(RecordFormat::readText(trimmed));
    }
    if (addresses.isEmpty()) {
        QFile in;
        if (in.open(stdin, QIODevice::ReadOnly))
            entries = RecordFormat::readText(QString::fromUtf8(in.readAll()));
    }
    QList<DownloadItem> items;
    for (const RecordFormat::Entry& entry : std::as_const(entries)) {
        DownloadItem item;
        // A record's line (`nepirika harvest`, its --json lines, a saved CSV) gives its address, and
        // the page it was found on when the line says it (sent as Referer); any other line is an
        // address.
        item.url = entry.record.URL;
        item.referer = entry.record.Source;
        // The page's encoding, which names the file when the address's bytes are no UTF-8.
        item.charset = entry.record.Charset;
        items.append(item);
    }
    return items;
}

// As an address bar takes it: "example.com/a.jpg" is fetched over http.
void resolveAddresses(QList<DownloadItem>* items) {
    for (DownloadItem& item : *items) {
        item.address = AddressInput::toUrl(item.url);
        if (!item.address.isValid())
            item.address = AddressInput::asWritten(item.url);
    }
}

QString continueNote(const QString& dir) {
    if (CommandLanguage::isJapanese())
        return QStringLiteral(
                   "nepirika download: 残りは nepirika download --continue --dir %1 で続けられます\n")
            .arg(dir);
    return QStringLiteral(
               "nepirika download: continue the rest with: nepirika download --continue --dir %1\n")
        .arg(dir);
}

// The batch kept for dir, settled against the folder: its unfinished items and their positions.
// Returns an exit status when there is nothing to run, else -1.
int continuedItems(const QString& dir, DownloadQueue* queue, QList<DownloadItem>* items,
                   QList<int>* positions) {
    const bool japanese = CommandLanguage::isJapanese();
    const QString file = DownloadQueue::fileFor(dir);
    if (!DownloadQueue::Lock(file).held()) {
        CommandOutput::write(stderr,
                             japanese ? QStringLiteral("nepirika download: フォルダ「%1」へのダウンロードは"
                                                       "ほかで実行中です\n")
                                            .arg(dir)
                                      : QStringLiteral("nepirika download: a download into the folder "
                                                       "\"%1\" is running elsewhere\n")
                                            .arg(dir));
        return ExitUsage;
    }
    QString error;
    switch (DownloadQueue::read(file, queue, &error)) {
    case DownloadQueue::ReadStatus::Missing:
        CommandOutput::write(stderr, japanese ? QStringLiteral("nepirika download: フォルダ「%1」に続きの"
                                                               "ダウンロードはありません\n")
                                                    .arg(dir)
                                              : QStringLiteral("nepirika download: no unfinished download "
                                                               "is kept for the folder \"%1\"\n")
                                                    .arg(dir));
        return ExitUsage;
    case DownloadQueue::ReadStatus::Damaged:
        CommandOutput::write(stderr, QStringLiteral("nepirika download: %1\n").arg(error));
        return ExitUsage;
    case DownloadQueue::ReadStatus::Read:
        break;
    }
    // Kept for another folder under the same key (a folder moved or replaced by a link): the
    // folder given is the one meant.
    queue->folder = QDir::cleanPath(QFileInfo(dir).absoluteFilePath());
    queue->settleClaims();
    *items = DownloadQueueKeeper::itemsToContinue(*queue, positions);
    const qsizetype saved = queue->entries.size() - items->size();
    if (items->isEmpty()) {
        DownloadQueue::remove(file);
        CommandOutput::write(
            stderr, japanese ? QStringLiteral("nepirika download: %1 件すべて保存済みです\n").arg(saved)
                             : QStringLiteral("nepirika download: all %1 were saved already\n").arg(saved));
        return ExitOk;
    }
    QDir().mkpath(queue->folder);
    resolveAddresses(items);
    CommandOutput::write(
        stderr, japanese ? QStringLiteral("nepirika download: 保存済み %1 件、残り %2 件を続けます\n")
                               .arg(saved)
                               .arg(items->size())
                         : QStringLiteral("nepirika download: %1 saved before, continuing "
                                          "with the other %2\n")
                               .arg(saved)
                               .arg(items->size()));
    return -1;
}

} // namespace

QString DownloadCommandLine::usage() {
    const QList<CommandHelp::Option> options = CommandHelp::downloadOptions();
    if (CommandLanguage::isJapanese())
        return QStringLiteral("使い方: nepirika download ") + CommandHelp::synopsis(options, 26) +
               QStringLiteral(
                   " [アドレス...]\n"
                   "  各アドレスをフォルダ（既定: 現在のフォルダの "
                   "DL）にダウンロードし、アドレスからファイル名を\n"
                   "  付けます。使われている名前には番号を付けます。アドレスを指定しないときは標準入力から\n"
                   "  1 行に 1 件ずつ読みます。nepirika harvest "
                   "の行（種類<タブ>アドレス<タブ>ページ）はそのアドレスを、そのページを Referer として、\n"
                   "  nepirika harvest --json の行と結果の CSV の行はそのアドレスを、source のページから\n"
                   "  見つかったものとしてダウンロードします。--json の行は "
                   "charset（そのページの文字コード）で\n"
                   "  "
                   "ファイル名を読みます。ファイル名にクエリは含めません。終わる前に中断されたダウンロードは"
                   "\n"
                   "  --continue で続けられます。\n") +
               CommandHelp::optionLines(options) +
               QStringLiteral(
                   "  アドレスごとに 1 行を出力します:\n"
                   "    ok<タブ>アドレス<タブ>保存先      または      failed<タブ>アドレス<タブ>理由\n"
                   "  終了コード: 0 すべて保存した、1 失敗があった、2 使い方の誤り、130 中断した。\n");
    return QStringLiteral("Usage: nepirika download ") + CommandHelp::synopsis(options, 25) +
           QStringLiteral(
               " [ADDRESS...]\n"
               "  Downloads each address into DIR (default: DL in the current directory), naming each file\n"
               "  after its address (without the query), or as the server names it; a name that is taken\n"
               "  gets a number. Without addresses, they are read from standard input, one a line; a line\n"
               "  of nepirika harvest (kind<TAB>address<TAB>page) gives its address, sent with its page as\n"
               "  Referer (an older kind<TAB>address line without), and a line of nepirika harvest\n"
               "  --json or a row of a saved CSV its address, found on its source page (a JSON line's\n"
               "  charset reads a name that is not UTF-8). A download interrupted before its end can be\n"
               "  continued with --continue.\n") +
           CommandHelp::optionLines(options) +
           QStringLiteral("  Prints one line per address:\n"
                          "    ok<TAB>ADDRESS<TAB>PATH      or      failed<TAB>ADDRESS<TAB>REASON\n"
                          "  Exit status: 0 all saved, 1 some failed, 2 usage error, 130 interrupted.\n");
}

int DownloadCommandLine::run(const QStringList& arguments) {
    const Arguments args = parse(arguments);
    if (!args.error.isEmpty())
        return usageError(args.error);
    if (args.help) {
        CommandOutput::write(stdout, usage());
        return ExitOk;
    }
    if (!args.verbose)
        EngineNoise::quietToolkitMessages();

    QList<DownloadItem> items;
    DownloadQueue queue;
    QList<int> positions;
    if (args.continueKept) {
        const int status = continuedItems(args.dir, &queue, &items, &positions);
        if (status >= 0)
            return status;
    } else {
        items = itemsFromInput(args.addresses);
        if (items.isEmpty())
            return usageError(QStringLiteral("no address given"));
        resolveAddresses(&items);
        // A folder that cannot be made fails every address with the same reason (the batch says why).
        QDir().mkpath(args.dir);
        queue = DownloadQueueKeeper::queueFor(args.dir, items);
        for (qsizetype i = 0; i < items.size(); ++i)
            positions.append(static_cast<int>(i));
    }

    DownloadOptions options;
    // The user agent of `nepirika harvest` and of the window: one browser, from harvest to download.
    options.userAgent = BrowserIdentity::userAgent();
    options.parallel = args.jobs;
    options.maxPerHost = args.jobs;
    options.retries = args.retries;
    DownloadBatch batch(args.dir, items, options);
    // The batch is kept on disk while it runs, so that a killed run can be continued.
    auto* keeper = new DownloadQueueKeeper(&batch, queue, positions, &batch);
    ResultPrinter printer(items);
    bool interrupted = false;
    QObject::connect(&batch, &DownloadBatch::itemFinished, &batch,
                     [&printer](int index, const DownloadResult& result) { printer.add(index, result); });
    QObject::connect(&batch, &DownloadBatch::progress, &batch,
                     [&printer](int done, int total, const QStringList& current, qint64 bytes) {
                         printer.progress(done, total, current, bytes);
                     });
    QObject::connect(&batch, &DownloadBatch::finished, &batch, [&](const DownloadResults& results) {
        printer.clearProgress();
        // An interrupted run keeps what is left for --continue; a run that reached its end is done,
        // its failures printed.
        keeper->finish(interrupted);
        if (!keeper->lastError().isEmpty())
            CommandOutput::write(stderr, QStringLiteral("nepirika download: %1\n").arg(keeper->lastError()));
        else if (interrupted)
            CommandOutput::write(stderr, continueNote(args.dir));
        const bool allSaved = std::all_of(results.cbegin(), results.cend(),
                                          [](const DownloadResult& r) { return r.succeeded(); });
        QCoreApplication::exit(interrupted ? ExitInterrupted : allSaved ? ExitOk : ExitFailed);
    });

    // SIGTERM, SIGHUP and SIGINT cancel the batch: what was unfinished is removed, and the lines
    // for the addresses not saved are still printed.
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::received, &batch, [&] {
        interrupted = true;
        batch.cancel();
    });

    batch.start();
    const int status = QCoreApplication::exec();
    return status;
}
