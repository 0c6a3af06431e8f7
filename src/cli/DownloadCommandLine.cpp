#include "DownloadCommandLine.h"

#include "AddressInput.h"
#include "AppSettings.h"
#include "BrowserCookieJar.h"
#include "BrowserIdentity.h"
#include "CommandCookies.h"
#include "CommandHelp.h"
#include "CommandLanguage.h"
#include "CommandOutput.h"
#include "DownloadBatch.h"
#include "DownloadHistory.h"
#include "DownloadQueue.h"
#include "DownloadQueueKeeper.h"
#include "EngineNoise.h"
#include "HistoryCommand.h"
#include "HistoryDownloadLink.h"
#include "HistoryLocation.h"
#include "HistoryRecorder.h"
#include "HostPauses.h"
#include "NameMask.h"
#include "ProcessFacts.h"
#include "RecordFormat.h"
#include "TerminationSignals.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <cstdio>
#include <memory>
#include <vector>

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
    QString dir = AppSettings::DefaultFilesFolder;
    // --name: empty for today's naming.
    NameMask mask;
    bool continueKept = false;
    // Keeps no record of the batch (for measuring what the record costs).
    bool noRecord = false;
    bool verbose = false;
    bool newOnly = false;
    int jobs = DownloadOptions().parallel;
    int retries = DownloadOptions().retries;
    QStringList addresses;
    CommandCookies cookies;
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
        } else if (options && isOption(arg, QStringLiteral("--name"))) {
            if (arg == u"--name" && i + 1 >= arguments.size()) {
                parsed.error = QStringLiteral("--name needs a mask");
                return parsed;
            }
            const QString text = arg == u"--name" ? arguments.at(++i) : arg.mid(7);
            // A mask that is no mask is named before anything is fetched.
            if (!parsed.mask.parse(text, &parsed.error, CommandLanguage::isJapanese()))
                return parsed;
        } else if (options && parsed.cookies.take(arguments, &i, &parsed.error)) {
            if (!parsed.error.isEmpty())
                return parsed;
        } else if (options && arg == u"--continue") {
            parsed.continueKept = true;
        } else if (options && arg == u"--no-record") {
            parsed.noRecord = true;
        } else if (options && arg == u"--verbose") {
            parsed.verbose = true;
        } else if (options && arg == u"--new-only") {
            parsed.newOnly = true;
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
    else if (parsed.continueKept && !parsed.mask.isEmpty())
        parsed.error = QStringLiteral("--continue takes no --name: the rest is named as the batch was kept");
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
        , m_lines(items.size())
        , m_known(items.size(), false)
        , m_progress(ProcessFacts::standardErrorIsTerminal()) {}

    void add(int index, const DownloadResult& r) {
        const QString address = CommandOutput::oneLine(m_items[index].url);
        if (r.succeeded())
            addLine(index, QStringLiteral("ok\t%1\t%2\n").arg(address, CommandOutput::oneLine(r.path)));
        else
            addLine(index,
                    QStringLiteral("failed\t%1\t%2\n").arg(address, CommandOutput::oneLine(r.message)));
    }

    // Not fetched, or not kept: reason names the earlier file.
    void skip(int index, const QString& reason) {
        addLine(index, QStringLiteral("skipped\t%1\t%2\n")
                           .arg(CommandOutput::oneLine(m_items[index].url), CommandOutput::oneLine(reason)));
    }

    // waiting: the hosts that asked to wait, as HostPauses::waitingText says it.
    void progress(int done, int total, const QStringList& current, qint64 bytes, const QString& waiting) {
        if (!m_progress)
            return;
        QString line =
            QStringLiteral("[%1/%2] %3").arg(done).arg(total).arg(QLocale::c().formattedDataSize(bytes));
        if (!waiting.isEmpty())
            line += u' ' + waiting;
        else if (!current.isEmpty())
            line += u' ' + current.front();
        if (line.size() > 200)
            line = line.left(199) + u'…';
        CommandOutput::write(stderr, QStringLiteral("\r\033[K") + line);
        m_lineShown = true;
    }

    // A host asked to wait: said once on its own line where there is no progress line to show it.
    void paused(const HostPauses::Pause& pause) {
        if (!m_progress)
            CommandOutput::write(stderr, QStringLiteral("nepirika download: %1\n")
                                             .arg(HostPauses::waitingText(pause, CommandLanguage::isJapanese())));
    }

    void clearProgress() {
        if (m_lineShown)
            CommandOutput::write(stderr, QStringLiteral("\r\033[K"));
        m_lineShown = false;
    }

private:
    void addLine(int index, const QString& line) {
        m_lines[index] = line;
        m_known[index] = true;
        clearProgress();
        while (m_next < m_items.size() && m_known[m_next]) {
            CommandOutput::write(stdout, m_lines[m_next]);
            m_lines[m_next].clear();
            ++m_next;
        }
    }

    QList<DownloadItem> m_items;
    QStringList m_lines;
    QList<bool> m_known;
    qsizetype m_next = 0;
    bool m_progress;
    bool m_lineShown = false;
};

QList<DownloadItem> itemsFromInput(const QStringList& addresses, const NameMask& mask) {
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
    const QDate batchDate = QDate::currentDate();
    for (const RecordFormat::Entry& entry : std::as_const(entries)) {
        DownloadItem item;
        // A record's line (`nepirika harvest`, its --json lines, a saved CSV) gives its address, and
        // the page it was found on when the line says it (sent as Referer); any other line is an
        // address.
        item.url = entry.record.URL;
        item.referer = entry.record.Source;
        // The page's encoding, which names the file when the address's bytes are no UTF-8.
        item.charset = entry.record.Charset;
        // What a name mask names it after: the title, alt and size a --json line gives.
        if (!mask.isEmpty())
            item.mask = NameMask::valuesOf(entry.record, static_cast<int>(items.size()) + 1, batchDate);
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

QString savedBefore(const QString& path) {
    if (CommandLanguage::isJapanese())
        return QStringLiteral("保存済み: %1").arg(path);
    return QStringLiteral("saved before as %1").arg(path);
}

QString sameContent(const QString& path) {
    if (CommandLanguage::isJapanese())
        return QStringLiteral("同じ内容のファイルが保存済み: %1").arg(path);
    return QStringLiteral("same content as %1").arg(path);
}

void historyProblem(const QString& message) {
    CommandOutput::write(stderr, QStringLiteral("nepirika download: %1\n").arg(message));
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

// One batch to run: a new one, or one kept for --continue with the lock that it holds until it ends.
struct BatchRun {
    DownloadQueue queue;
    QString file;
    std::unique_ptr<DownloadQueue::Lock> lock;
    QList<DownloadItem> items;
    QList<int> positions;
};

// Every batch kept for dir, settled against the folder: their unfinished items and positions,
// each with its lock held. Returns an exit status when there is nothing to run, else -1.
int continuedBatches(const QString& dir, std::vector<BatchRun>* runs) {
    const bool japanese = CommandLanguage::isJapanese();
    const QStringList files = DownloadQueue::keptFilesFor(dir);
    int busy = 0;
    int damaged = 0;
    for (const QString& file : files) {
        auto lock = std::make_unique<DownloadQueue::Lock>(file);
        if (!lock->held()) {
            ++busy; // continued or run elsewhere right now
            continue;
        }
        DownloadQueue queue;
        QString error;
        const DownloadQueue::ReadStatus status = DownloadQueue::read(file, &queue, &error);
        if (status == DownloadQueue::ReadStatus::Missing)
            continue;
        if (status == DownloadQueue::ReadStatus::Damaged) {
            ++damaged;
            CommandOutput::write(stderr, QStringLiteral("nepirika download: %1\n").arg(error));
            continue;
        }
        // Kept for another folder under the same key (a folder moved or replaced by a link): the
        // folder given is the one meant.
        queue.folder = QDir::cleanPath(QFileInfo(dir).absoluteFilePath());
        queue.settleClaims();
        BatchRun run;
        run.items = DownloadQueueKeeper::itemsToContinue(queue, &run.positions);
        const qsizetype saved = queue.entries.size() - run.items.size();
        if (run.items.isEmpty()) {
            queue.removePartials();
            DownloadQueue::remove(file);
            CommandOutput::write(
                stderr, japanese
                            ? QStringLiteral("nepirika download: %1 件すべて保存済みです\n").arg(saved)
                            : QStringLiteral("nepirika download: all %1 were saved already\n").arg(saved));
            continue;
        }
        resolveAddresses(&run.items);
        CommandOutput::write(
            stderr, japanese ? QStringLiteral("nepirika download: 保存済み %1 件、残り %2 件を続けます\n")
                                   .arg(saved)
                                   .arg(run.items.size())
                             : QStringLiteral("nepirika download: %1 saved before, continuing "
                                              "with the other %2\n")
                                   .arg(saved)
                                   .arg(run.items.size()));
        run.queue = queue;
        run.file = file;
        run.lock = std::move(lock);
        runs->push_back(std::move(run));
    }
    if (!runs->empty())
        return -1;
    if (busy > 0) {
        CommandOutput::write(stderr,
                             japanese ? QStringLiteral("nepirika download: フォルダ「%1」へのダウンロードは"
                                                       "ほかで実行中です\n")
                                            .arg(dir)
                                      : QStringLiteral("nepirika download: a download into the folder "
                                                       "\"%1\" is running elsewhere\n")
                                            .arg(dir));
        return ExitUsage;
    }
    if (damaged > 0)
        return ExitUsage;
    if (!files.isEmpty())
        return ExitOk; // all saved already, as told above
    CommandOutput::write(stderr, japanese ? QStringLiteral("nepirika download: フォルダ「%1」に続きの"
                                                           "ダウンロードはありません\n")
                                                .arg(dir)
                                          : QStringLiteral("nepirika download: no unfinished download "
                                                           "is kept for the folder \"%1\"\n")
                                                .arg(dir));
    return ExitUsage;
}

// Runs one batch to its end, kept on disk while it runs. The exit status of that batch.
int runBatch(const Arguments& args, BatchRun& run, BrowserCookieJar* jar,
             const TerminationSignals& termination, bool* interrupted) {
    QDir().mkpath(run.queue.folder);
    // With --new-only the addresses that the history has saved (their files still there) are not
    // fetched; they are printed in their places.
    const QString historyFile = HistoryLocation::defaultFile();
    const bool record = AppSettings(AppSettings::defaultFile()).recordHistory();
    const QList<DownloadItem> allItems = run.items;
    QList<int> fetched; // the position in allItems of each item of the batch
    QHash<int, QString> savedPaths;
    if (args.newOnly) {
        DownloadHistory history(historyFile);
        QStringList urls;
        for (const DownloadItem& item : std::as_const(run.items))
            urls.append(item.url);
        const QHash<QString, HistoryEntry> saved = history.savedFor(urls);
        const QString aside = history.takeSetAside();
        if (!aside.isEmpty())
            historyProblem(HistoryCommand::setAsideMessage(aside));
        QList<DownloadItem> kept;
        QList<int> keptPositions;
        for (qsizetype i = 0; i < run.items.size(); ++i) {
            const auto it = saved.constFind(run.items.at(i).url);
            if (it != saved.cend()) {
                savedPaths.insert(int(i), it->path);
                continue;
            }
            kept.append(run.items.at(i));
            keptPositions.append(run.positions.value(i, int(i)));
            fetched.append(int(i));
        }
        run.items = kept;
        run.positions = keptPositions;
    } else {
        for (qsizetype i = 0; i < run.items.size(); ++i)
            fetched.append(int(i));
    }

    DownloadOptions options;
    // The user agent of `nepirika harvest` and of the window: one browser, from harvest to download.
    options.userAgent = BrowserIdentity::userAgent();
    options.parallel = args.jobs;
    options.maxPerHost = args.jobs;
    options.retries = args.retries;
    options.nameMask = args.mask;
    options.cookieJar = jar;
    // Every file saved goes into the history (unless the user turned it off), hashed and written on
    // a thread of its own; it is written whole before the command ends.
    HistoryRecorder recorder(historyFile);
    bool historyFailed = false;
    QObject::connect(&recorder, &HistoryRecorder::setAside, &recorder,
                     [](const QString& file) { historyProblem(HistoryCommand::setAsideMessage(file)); });
    QObject::connect(&recorder, &HistoryRecorder::failed, &recorder,
                     [&historyFailed](const QString& message) {
                         if (!std::exchange(historyFailed, true))
                             historyProblem(message);
                     });
    DownloadBatch batch(args.dir, run.items, options);
    // The batch is kept on disk while it runs, so that a killed run can be continued.
    DownloadQueueKeeper* keeper = nullptr;
    if (!args.noRecord) {
        keeper =
            new DownloadQueueKeeper(&batch, run.queue, run.positions, &batch, std::move(run.lock), run.file);
        if (!keeper->lastError().isEmpty())
            CommandOutput::write(stderr, QStringLiteral("nepirika download: %1\n").arg(keeper->lastError()));
        QObject::connect(keeper, &DownloadQueueKeeper::recordFailed, &batch, [](const QString& message) {
            CommandOutput::write(stderr, QStringLiteral("nepirika download: %1\n").arg(message));
        });
    }
    HistoryDownloadLink::Options linkOptions;
    linkOptions.record = record;
    linkOptions.skipSameContent = args.newOnly;
    auto* link = new HistoryDownloadLink(&batch, run.items, &recorder, linkOptions, &batch);
    ResultPrinter printer(allItems);
    for (auto it = savedPaths.cbegin(); it != savedPaths.cend(); ++it)
        printer.skip(it.key(), savedBefore(it.value()));
    QObject::connect(link, &HistoryDownloadLink::itemSettled, &batch,
                     [&](int index, const DownloadResult& result, const HistoryEntry& same) {
                         if (!same.path.isEmpty())
                             printer.skip(fetched.at(index), sameContent(same.path));
                         else
                             printer.add(fetched.at(index), result);
                     });
    QObject::connect(&batch, &DownloadBatch::progress, &batch,
                     [&printer, &batch](int done, int total, const QStringList& current, qint64 bytes) {
                         QStringList waiting;
                         for (const HostPauses::Pause& pause : batch.pausedHosts())
                             waiting.append(HostPauses::waitingText(pause, CommandLanguage::isJapanese()));
                         printer.progress(done, total, current, bytes, waiting.join(QStringLiteral("; ")));
                     });
    QObject::connect(HostPauses::instance(), &HostPauses::paused, &batch,
                     [&printer](const QString& host, qint64 seconds) { printer.paused({host, seconds}); });
    QObject::connect(link, &HistoryDownloadLink::finished, &batch, [&](const DownloadResults& results) {
        printer.clearProgress();
        // An interrupted run keeps what is left for --continue; a run that reached its end is done,
        // its failures printed.
        if (keeper) {
            keeper->finish(*interrupted);
            if (*interrupted && keeper->recorded())
                CommandOutput::write(stderr, continueNote(args.dir));
        }
        const bool allSaved = std::all_of(results.cbegin(), results.cend(),
                                          [](const DownloadResult& r) { return r.succeeded(); });
        QCoreApplication::exit(*interrupted ? ExitInterrupted : allSaved ? ExitOk : ExitFailed);
    });
    // SIGTERM, SIGHUP and SIGINT cancel the batch: what was unfinished is removed, and the lines
    // for the addresses not saved are still printed.
    const QMetaObject::Connection stop =
        QObject::connect(&termination, &TerminationSignals::received, &batch, [&] {
            *interrupted = true;
            batch.cancel();
        });
    batch.start();
    const int status = QCoreApplication::exec();
    QObject::disconnect(stop);
    return status;
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
                   "    （--new-only で飛ばしたものは skipped<タブ>アドレス<タブ>理由）\n"
                   "  保存したファイルは保存の履歴（nepirika history）に記録します。\n"
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
                          "    (or skipped<TAB>ADDRESS<TAB>REASON for what --new-only skipped)\n"
                          "  Every file saved is recorded in the download history (see nepirika history).\n"
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
    // The log-in, read before anything is fetched: each cookie sent where a browser sends it.
    CommandCookies cookies = args.cookies;
    if (cookies.any() && !cookies.read())
        return ExitUsage;
    BrowserCookieJar jar;
    cookies.fill(&jar);

    std::vector<BatchRun> runs;
    if (args.continueKept) {
        const int status = continuedBatches(args.dir, &runs);
        if (status >= 0)
            return status;
    } else {
        BatchRun run;
        run.items = itemsFromInput(args.addresses, args.mask);
        if (args.mask.namesFilesAlike() && run.items.size() > 1)
            CommandOutput::write(
                stderr,
                CommandLanguage::isJapanese()
                    ? QStringLiteral("nepirika download: 保存名のマスクではどのファイルも同じ名前になり、"
                                     "番号が付きます\n")
                    : QStringLiteral("nepirika download: the name mask gives the files one name; they "
                                     "are numbered\n"));
        if (run.items.isEmpty())
            return usageError(QStringLiteral("no address given"));
        resolveAddresses(&run.items);
        // A folder that cannot be made fails every address with the same reason (the batch says why).
        QDir().mkpath(args.dir);
        run.queue = DownloadQueueKeeper::queueFor(args.dir, run.items);
        for (qsizetype i = 0; i < run.items.size(); ++i)
            run.positions.append(static_cast<int>(i));
        runs.push_back(std::move(run));
    }

    // One batch after the other (several only with --continue, each kept batch of the folder).
    TerminationSignals termination;
    bool interrupted = false;
    int status = ExitOk;
    for (BatchRun& run : runs) {
        const int ran = runBatch(args, run, &jar, termination, &interrupted);
        if (ran != ExitOk)
            status = ran;
        if (interrupted)
            return ExitInterrupted;
    }
    return status;
}
