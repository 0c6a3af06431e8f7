#include "DownloadCommandLine.h"

#include "AddressImport.h"
#include "AddressInput.h"
#include "CommandLanguage.h"
#include "CommandOutput.h"
#include "DownloadBatch.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr int ExitOk = 0;
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;
constexpr int ExitInterrupted = 130;

// Written by the signal handler, read by the event loop: an interrupt cancels the batch cleanly.
int interruptPipe[2] = {-1, -1};

void onInterrupt(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(interruptPipe[1], &byte, 1);
}

int usageError(const QString& message) {
    CommandOutput::write(
        stderr, QStringLiteral("nepirika download: %1\n%2").arg(message, DownloadCommandLine::usage()));
    return ExitUsage;
}

struct Arguments {
    QString dir = QStringLiteral("DL");
    QStringList addresses;
    bool help = false;
    QString error;
};

Arguments parse(const QStringList& arguments) {
    Arguments parsed;
    bool options = true;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& arg = arguments.at(i);
        if (options && arg == u"--") {
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
    if (CommandLanguage::isJapanese())
        return QStringLiteral(
            "使い方: nepirika download [--dir フォルダ] [アドレス...]\n"
            "  各アドレスをフォルダ（既定: 現在のフォルダの DL）にダウンロードし、アドレスからファイル名を\n"
            "  付けます。使われている名前には番号を付けます。アドレスを指定しないときは標準入力から\n"
            "  1 行に 1 件ずつ読みます。nepirika harvest --json の行はその url を、source のページから\n"
            "  見つかったものとしてダウンロードします。アドレスごとに 1 行を出力します:\n"
            "    ok<タブ>アドレス<タブ>保存先      または      failed<タブ>アドレス<タブ>理由\n"
            "  終了コード: 0 すべて保存した、1 失敗があった、2 使い方の誤り。\n");
    return QStringLiteral(
        "Usage: nepirika download [--dir DIR] [ADDRESS...]\n"
        "  Downloads each address into DIR (default: DL in the current directory), naming each file\n"
        "  after its address; a name that is taken gets a number. Without addresses, they are read\n"
        "  from standard input, one a line; a line of nepirika harvest --json gives its url, found on\n"
        "  its source page. Prints one line per address:\n"
        "    ok<TAB>ADDRESS<TAB>PATH      or      failed<TAB>ADDRESS<TAB>REASON\n"
        "  Exit status: 0 all saved, 1 some failed, 2 usage error.\n");
}

int DownloadCommandLine::run(const QStringList& arguments) {
    const Arguments args = parse(arguments);
    if (!args.error.isEmpty())
        return usageError(args.error);
    if (args.help) {
        CommandOutput::write(stdout, usage());
        return ExitOk;
    }
    QStringList lines;
    for (const QString& address : args.addresses) {
        const QString trimmed = address.trimmed();
        if (!trimmed.isEmpty())
            lines.append(trimmed);
    }
    if (args.addresses.isEmpty()) {
        QFile in;
        if (in.open(stdin, QIODevice::ReadOnly))
            lines = AddressInput::lines(QString::fromUtf8(in.readAll()));
    }

    QList<DownloadItem> items;
    for (const QString& line : std::as_const(lines)) {
        DownloadItem item;
        item.url = line;
        // A line of `nepirika harvest --json`: its address, found on its source page (sent as Referer).
        QString source;
        if (AddressImport::parseJsonLine(line, &item.url, &source))
            item.referer = source;
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
    options.userAgent = "Mozilla/5.0 (compatible; nepirika/" NEPIRIKA_VERSION ")";
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

    std::unique_ptr<QSocketNotifier> interruptNotifier;
    if (::pipe(interruptPipe) == 0) {
        interruptNotifier = std::make_unique<QSocketNotifier>(interruptPipe[0], QSocketNotifier::Read);
        QObject::connect(interruptNotifier.get(), &QSocketNotifier::activated, &batch, [&] {
            char byte;
            [[maybe_unused]] const ssize_t n = ::read(interruptPipe[0], &byte, 1);
            interrupted = true;
            batch.cancel();
        });
        std::signal(SIGINT, onInterrupt);
        std::signal(SIGTERM, onInterrupt);
    }

    batch.start();
    const int status = QCoreApplication::exec();

    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    interruptNotifier.reset();
    for (int& fd : interruptPipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    return status;
}
