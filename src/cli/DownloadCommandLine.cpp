#include "DownloadCommandLine.h"

#include "AddressInput.h"
#include "BrowserIdentity.h"
#include "CommandLanguage.h"
#include "CommandOutput.h"
#include "DownloadBatch.h"
#include "RecordFormat.h"
#include "TerminationSignals.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
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

} // namespace

QString DownloadCommandLine::usage() {
    QString text;
    if (CommandLanguage::isJapanese())
        text = QStringLiteral(
            "使い方: nepirika download [--dir フォルダ] [--jobs N] [--retries N] [アドレス...]\n"
            "  各アドレスをフォルダ（既定: 現在のフォルダの DL）にダウンロードし、アドレスからファイル名を\n"
            "  付けます。使われている名前には番号を付けます。アドレスを指定しないときは標準入力から\n"
            "  1 行に 1 件ずつ読みます。nepirika harvest の行（種類<タブ>アドレス）はそのアドレスを、\n"
            "  nepirika harvest --json の行と結果の CSV の行はそのアドレスを、source のページから\n"
            "  見つかったものとしてダウンロードします。--json の行は charset（そのページの文字コード）で\n"
            "  ファイル名を読みます。ファイル名にクエリは含めません。\n"
            "  --jobs N      同時に転送する数、1〜%1（既定 %2）\n"
            "  --retries N   一時的な失敗のあとに再試行する回数、0〜%3（既定 %4、0 で再試行なし）\n"
            "  アドレスごとに 1 行を出力します:\n"
            "    ok<タブ>アドレス<タブ>保存先      または      failed<タブ>アドレス<タブ>理由\n"
            "  終了コード: 0 すべて保存した、1 失敗があった、2 使い方の誤り、130 中断した。\n");
    else
        text = QStringLiteral(
            "Usage: nepirika download [--dir DIR] [--jobs N] [--retries N] [ADDRESS...]\n"
            "  Downloads each address into DIR (default: DL in the current directory), naming each file\n"
            "  after its address (without the query), or as the server names it; a name that is taken\n"
            "  gets a number. Without addresses, they are read from standard input, one a line; a line\n"
            "  of nepirika harvest (kind<TAB>address) gives its address, and a line of nepirika harvest\n"
            "  --json or a row of a saved CSV its address, found on its source page (a JSON line's\n"
            "  charset reads a name that is not UTF-8).\n"
            "  --jobs N      transfers at once, 1 to %1 (default %2)\n"
            "  --retries N   tries again after a transient failure, 0 to %3 (default %4; 0: none)\n"
            "  Prints one line per address:\n"
            "    ok<TAB>ADDRESS<TAB>PATH      or      failed<TAB>ADDRESS<TAB>REASON\n"
            "  Exit status: 0 all saved, 1 some failed, 2 usage error, 130 interrupted.\n");
    return text.arg(WorkLimits::MostTransfersAtOnce)
        .arg(WorkLimits::DefaultTransfersAtOnce)
        .arg(WorkLimits::MostRetries)
        .arg(WorkLimits::DefaultRetries);
}

int DownloadCommandLine::run(const QStringList& arguments) {
    const Arguments args = parse(arguments);
    if (!args.error.isEmpty())
        return usageError(args.error);
    if (args.help) {
        CommandOutput::write(stdout, usage());
        return ExitOk;
    }
    QList<RecordFormat::Entry> entries;
    for (const QString& address : args.addresses) {
        const QString trimmed = address.trimmed();
        if (!trimmed.isEmpty())
            entries.append(RecordFormat::readText(trimmed));
    }
    if (args.addresses.isEmpty()) {
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
        // As an address bar takes it: "example.com/a.jpg" is fetched over http.
        item.address = AddressInput::toUrl(item.url);
        if (!item.address.isValid())
            item.address = AddressInput::asWritten(item.url);
        items.append(item);
    }
    if (items.isEmpty())
        return usageError(QStringLiteral("no address given"));

    // A folder that cannot be made fails every address with the same reason (the batch says why).
    QDir().mkpath(args.dir);

    DownloadOptions options;
    // The user agent of `nepirika harvest` and of the window: one browser, from harvest to download.
    options.userAgent = BrowserIdentity::userAgent();
    options.parallel = args.jobs;
    options.maxPerHost = args.jobs;
    options.retries = args.retries;
    DownloadBatch batch(args.dir, items, options);
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
