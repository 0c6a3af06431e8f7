#include "ProgramRun.h"
#include "TestHttpServer.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <csignal>
#include <memory>

namespace {

struct Outcome {
    int exitCode = -1;
    QStringList lines;
    QString errors;
};

QStringList entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

// The entries without the hidden partial files that a killed batch keeps to continue from.
QStringList finalEntries(const QString& folder) {
    QStringList found = entries(folder);
    found.removeIf([](const QString& name) {
        return name.startsWith(QStringLiteral(".nepirika-")) && name.endsWith(QStringLiteral(".part"));
    });
    return found;
}

// A file that the server sends in parts when asked for the rest of the same version (Range with
// If-Range naming its ETag), trickling while `slow` is set.
TestHttpServer::Handler rangedFile(const QByteArray& body, const QByteArray& etag,
                                   std::shared_ptr<std::atomic<bool>> slow) {
    return [body, etag, slow](const TestHttpRequest& request) {
        TestHttpResponse response = TestHttpResponse::withType("application/octet-stream", body);
        response.headers.append(qMakePair(QByteArray("ETag"), etag));
        response.headers.append(qMakePair(QByteArray("Accept-Ranges"), QByteArray("bytes")));
        if (slow->load())
            response.bytesPerSecond = 32 * 1024;
        const QByteArray range = request.header("range");
        if (range.startsWith("bytes=") && range.endsWith('-') && request.header("if-range") == etag) {
            const qint64 from = range.mid(6).chopped(1).toLongLong();
            response.status = 206;
            response.body = body.mid(from);
            response.headers.append(
                qMakePair(QByteArray("Content-Range"), "bytes " + QByteArray::number(from) + '-' +
                                                           QByteArray::number(body.size() - 1) + '/' +
                                                           QByteArray::number(body.size())));
        }
        return response;
    };
}

} // namespace

// The built program's "download" command, run as a user runs it.
class TestDownloadCli : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void addressesFromArguments();
    void addressesFromStandardInput();
    void harvestJsonLinesFromStandardInput();
    void namedByMask();
    void pageOfAPlainLineIsTheReferer_data();
    void pageOfAPlainLineIsTheReferer();
    void usageErrors_data();
    void usageErrors();
    void interruptLeavesNothing_data();
    void interruptLeavesNothing();
    void jobsAndRetries();
    void continueAfterKill_data();
    void continueAfterKill();
    void keptBatchesOfOneFolder_data();
    void keptBatchesOfOneFolder();

private:
    Outcome run(const QStringList& arguments, const QString& workingDirectory, const QByteArray& input = {});

    QString m_binary;
    TestHttpServer m_server;
    // The user's data folder of the runs, where unfinished batches are kept.
    QTemporaryDir m_dataHome;
};

void TestDownloadCli::initTestCase() {
    m_binary = ProgramRun::builtProgram();
    // The build makes the executable before this test; ctest names it.
    QVERIFY2(!m_binary.isEmpty() && QFileInfo(m_binary).isExecutable(),
             qPrintable(QStringLiteral("no nepirika executable at \"%1\"").arg(m_binary)));
    QVERIFY(m_server.start());
    qputenv("XDG_DATA_HOME", m_dataHome.path().toUtf8());
    m_server.route(QStringLiteral("/pics/a.jpg"), TestHttpResponse::withType("image/jpeg", "AAAA"));
    m_server.route(QStringLiteral("/other/a.jpg"), TestHttpResponse::withType("image/jpeg", "BBBB"));
    m_server.route(QStringLiteral("/%E5%86%99%E7%9C%9F.png"), TestHttpResponse::withType("image/png", "PNG"));
    // Older Japanese servers: EUC-JP bytes (ｼﾌｿｿ when read as Shift_JIS) in an address and in a
    // plain Content-Disposition filename.
    m_server.route(QStringLiteral("/old/%BC%CC%BF%BF.jpg"), TestHttpResponse::withType("image/jpeg", "OLD"));
    TestHttpResponse named = TestHttpResponse::withType("image/jpeg", "CGI");
    named.headers.append(
        qMakePair(QByteArray("Content-Disposition"), QByteArray("attachment; filename=\"\xbc\xcc\xbf\xbf"
                                                                "5.jpg\"")));
    m_server.route(QStringLiteral("/old/get.cgi"), named);
}

Outcome TestDownloadCli::run(const QStringList& arguments, const QString& workingDirectory,
                             const QByteArray& input) {
    ProgramRun program;
    program.binary = m_binary;
    program.arguments = QStringList{QStringLiteral("download")} + arguments;
    program.workingDirectory = workingDirectory;
    program.input = input;
    const ProgramRun::Outcome ran = program.run();
    Outcome outcome;
    if (!ran.finished)
        return outcome;
    outcome.exitCode = ran.exitCode;
    outcome.lines = QString::fromUtf8(ran.out).split(u'\n', Qt::SkipEmptyParts);
    outcome.errors = QString::fromUtf8(ran.err);
    return outcome;
}

void TestDownloadCli::addressesFromArguments() {
    QTemporaryDir work;
    const QString folder = work.filePath(QStringLiteral("saved"));
    const QString a = m_server.urlText(QStringLiteral("/pics/a.jpg"));
    const QString b = m_server.urlText(QStringLiteral("/other/a.jpg"));
    const QString missing = m_server.urlText(QStringLiteral("/missing.gif"));
    const Outcome outcome = run({QStringLiteral("--dir"), folder, a, missing, b}, work.path());
    QCOMPARE(outcome.exitCode, 1);
    QCOMPARE(outcome.lines.size(), 3);
    // One line per address, in the order given.
    QCOMPARE(outcome.lines[0], QStringLiteral("ok\t%1\t%2/a.jpg").arg(a, folder));
    QVERIFY2(outcome.lines[1].startsWith(QStringLiteral("failed\t%1\t").arg(missing)),
             qPrintable(outcome.lines[1]));
    QVERIFY(outcome.lines[1].contains(QStringLiteral("404")));
    QCOMPARE(outcome.lines[2], QStringLiteral("ok\t%1\t%2/a (2).jpg").arg(b, folder));
    QCOMPARE(entries(folder), (QStringList{QStringLiteral("a (2).jpg"), QStringLiteral("a.jpg")}));
    QFile second(folder + QStringLiteral("/a (2).jpg"));
    QVERIFY(second.open(QIODevice::ReadOnly));
    QCOMPARE(second.readAll(), QByteArray("BBBB"));
    // Standard error is no terminal here: no progress line.
    QCOMPARE(outcome.errors, QString());
}

void TestDownloadCli::addressesFromStandardInput() {
    QTemporaryDir work;
    const QString photo = m_server.urlText(QStringLiteral("/%E5%86%99%E7%9C%9F.png"));
    // Blank lines are skipped; an address without scheme is taken as an address bar takes it.
    const QByteArray input =
        "\n" + photo.toUtf8() + "\r\n  \n127.0.0.1:" + QByteArray::number(m_server.port()) + "/pics/a.jpg\n";
    const Outcome outcome = run({}, work.path(), input);
    QCOMPARE(outcome.exitCode, 0);
    QCOMPARE(outcome.lines.size(), 2);
    QCOMPARE(outcome.lines[0], QStringLiteral("ok\t%1\tDL/写真.png").arg(photo));
    QVERIFY2(outcome.lines[1].endsWith(QStringLiteral("\tDL/a.jpg")), qPrintable(outcome.lines[1]));
    QCOMPARE(entries(work.filePath(QStringLiteral("DL"))),
             (QStringList{QStringLiteral("a.jpg"), QStringLiteral("写真.png")}));
}

void TestDownloadCli::harvestJsonLinesFromStandardInput() {
    QTemporaryDir work;
    const QString a = m_server.urlText(QStringLiteral("/pics/a.jpg"));
    const QString page = m_server.urlText(QStringLiteral("/gallery.html"));
    const QString b = m_server.urlText(QStringLiteral("/other/a.jpg"));
    // What `nepirika harvest --json` prints: the url is fetched, with its source page as Referer;
    // and what plain `nepirika harvest` prints: the address after the kind, which names no page.
    // A JSON line's charset reads the names whose bytes are no UTF-8: without it, these bytes would
    // be guessed as the EUC-JP 写真.
    const QString old = m_server.urlText(QStringLiteral("/old/%BC%CC%BF%BF.jpg"));
    const QString cgi = m_server.urlText(QStringLiteral("/old/get.cgi"));
    const QByteArray input = "{\"kind\":\"image\",\"url\":\"" + a.toUtf8() + "\",\"source\":\"" +
                             page.toUtf8() + "\"}\nimage\t" + b.toUtf8() + "\n" +
                             "{\"kind\":\"image\",\"url\":\"" + old.toUtf8() +
                             "\",\"charset\":\"Shift_JIS\"}\n" + "{\"kind\":\"image\",\"url\":\"" +
                             cgi.toUtf8() + "\",\"charset\":\"Shift_JIS\"}\n";
    m_server.clearLog();
    const Outcome outcome = run({}, work.path(), input);
    QCOMPARE(outcome.exitCode, 0);
    QCOMPARE(outcome.lines, (QStringList{QStringLiteral("ok\t%1\tDL/a.jpg").arg(a),
                                         QStringLiteral("ok\t%1\tDL/a (2).jpg").arg(b),
                                         QStringLiteral("ok\t%1\tDL/ｼﾌｿｿ.jpg").arg(old),
                                         QStringLiteral("ok\t%1\tDL/ｼﾌｿｿ5.jpg").arg(cgi)}));
    const QList<TestHttpRequest> requests = m_server.requestsFor(QStringLiteral("/pics/a.jpg"));
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.first().header("referer"), page.toUtf8());
    QCOMPARE(m_server.requestsFor(QStringLiteral("/other/a.jpg")).value(0).header("referer"), QByteArray());
}

// --name: folders from the mask, values made safe (a title's "/" makes no folder), the type's
// extension on a name that has none, the CGI's own name for {name}, numbers in input order.
void TestDownloadCli::namedByMask() {
    QTemporaryDir work;
    const QString a = m_server.urlText(QStringLiteral("/pics/a.jpg"));
    const QString b = m_server.urlText(QStringLiteral("/other/a.jpg"));
    const QString cgi = m_server.urlText(QStringLiteral("/old/get.cgi"));
    const QString page = m_server.urlText(QStringLiteral("/gallery.html"));
    const QByteArray input = "{\"kind\":\"image\",\"url\":\"" + a.toUtf8() + "\",\"source\":\"" +
                             page.toUtf8() + "\",\"title\":\"旅/2024\",\"alt\":\"猫\"}\n" +
                             "{\"kind\":\"image\",\"url\":\"" + b.toUtf8() +
                             "\",\"title\":\"旅/2024\",\"alt\":\"\"}\nimage\t" + cgi.toUtf8() + "\n";
    const Outcome outcome =
        run({QStringLiteral("--name"), QStringLiteral("{title}/{n:03} {alt}")}, work.path(), input);
    QCOMPARE(outcome.exitCode, 0);
    QCOMPARE(outcome.lines, (QStringList{QStringLiteral("ok\t%1\tDL/旅_2024/001 猫.jpg").arg(a),
                                         QStringLiteral("ok\t%1\tDL/旅_2024/002.jpg").arg(b),
                                         QStringLiteral("ok\t%1\tDL/_/003.jpg").arg(cgi)}));
    // Without the page's charset, the server's EUC-JP bytes read as EUC-JP.
    const Outcome again = run({QStringLiteral("--name={name}.{ext}"), cgi, cgi}, work.path());
    QCOMPARE(again.lines, (QStringList{QStringLiteral("ok\t%1\tDL/写真5.jpg").arg(cgi),
                                       QStringLiteral("ok\t%1\tDL/写真5 (2).jpg").arg(cgi)}));
    QStringList expected{QStringLiteral("_"), QStringLiteral("写真5 (2).jpg"), QStringLiteral("写真5.jpg"),
                         QStringLiteral("旅_2024")};
    QStringList found = entries(work.path() + QStringLiteral("/DL"));
    expected.sort();
    found.sort();
    QCOMPARE(found, expected);
}

void TestDownloadCli::pageOfAPlainLineIsTheReferer_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("referer");
    const QString a = m_server.urlText(QStringLiteral("/pics/a.jpg"));
    const QString page = m_server.urlText(QStringLiteral("/gallery.html"));
    QTest::newRow("kind, address and page") << "image\t" + a + "\t" + page << page;
    QTest::newRow("an empty page column") << "image\t" + a + "\t" << QString();
    QTest::newRow("kind and address, as older versions wrote") << "image\t" + a << QString();
    QTest::newRow("a plain address") << a << QString();
    QTest::newRow("blanks around the columns") << "  image\t" + a + " \t " + page + "  " << page;
}

void TestDownloadCli::pageOfAPlainLineIsTheReferer() {
    QFETCH(QString, line);
    QFETCH(QString, referer);
    QTemporaryDir work;
    m_server.clearLog();
    const Outcome outcome = run({}, work.path(), line.toUtf8() + '\n');
    QCOMPARE(outcome.exitCode, 0);
    QCOMPARE(
        outcome.lines,
        QStringList{QStringLiteral("ok\t%1\tDL/a.jpg").arg(m_server.urlText(QStringLiteral("/pics/a.jpg")))});
    const QList<TestHttpRequest> requests = m_server.requestsFor(QStringLiteral("/pics/a.jpg"));
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.first().header("referer"), referer.toUtf8());
}

void TestDownloadCli::usageErrors_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("dir without folder") << QStringList{QStringLiteral("--dir")};
    QTest::newRow("unknown option") << QStringList{QStringLiteral("--bogus"), QStringLiteral("http://x/")};
    QTest::newRow("empty dir") << QStringList{QStringLiteral("--dir="), QStringLiteral("http://x/")};
    QTest::newRow("only blank addresses") << QStringList{QStringLiteral("  ")};
    QTest::newRow("nothing on standard input") << QStringList{};
    QTest::newRow("jobs without number") << QStringList{QStringLiteral("--jobs")};
    QTest::newRow("no jobs") << QStringList{QStringLiteral("--jobs=0"), QStringLiteral("http://x/")};
    QTest::newRow("too many jobs") << QStringList{QStringLiteral("--jobs"), QStringLiteral("17"),
                                                  QStringLiteral("http://x/")};
    QTest::newRow("jobs not a number")
        << QStringList{QStringLiteral("--jobs=many"), QStringLiteral("http://x/")};
    QTest::newRow("continue with an address")
        << QStringList{QStringLiteral("--continue"), QStringLiteral("http://x/")};
    // A mask that is no mask is named before anything is fetched.
    QTest::newRow("unknown token") << QStringList{QStringLiteral("--name={titel}"),
                                                  QStringLiteral("http://x/")};
    QTest::newRow("mask only a folder")
        << QStringList{QStringLiteral("--name"), QStringLiteral("{title}/"), QStringLiteral("http://x/")};
    QTest::newRow("unbalanced brace")
        << QStringList{QStringLiteral("--name={n"), QStringLiteral("http://x/")};
    QTest::newRow("negative retries")
        << QStringList{QStringLiteral("--retries=-1"), QStringLiteral("http://x/")};
}

void TestDownloadCli::usageErrors() {
    QFETCH(QStringList, arguments);
    QTemporaryDir work;
    const Outcome outcome = run(arguments, work.path());
    QCOMPARE(outcome.exitCode, 2);
    QVERIFY(outcome.lines.isEmpty());
    QVERIFY2(outcome.errors.contains(QStringLiteral("Usage: nepirika download")), qPrintable(outcome.errors));
    QVERIFY(entries(work.path()).isEmpty());
}

void TestDownloadCli::interruptLeavesNothing_data() {
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGHUP") << int(SIGHUP);
    QTest::newRow("SIGINT") << int(SIGINT);
    // No chance to clean up at all: the unfinished file never had a name.
    QTest::newRow("SIGKILL") << int(SIGKILL);
}

void TestDownloadCli::interruptLeavesNothing() {
    QFETCH(int, signalNumber);
    TestHttpResponse slow =
        TestHttpResponse::withType("application/octet-stream", QByteArray(1024 * 1024, 'z'));
    slow.bytesPerSecond = 50 * 1024;
    m_server.route(QStringLiteral("/slow.bin"), slow);
    m_server.route(QStringLiteral("/small.bin"), TestHttpResponse::withType("application/octet-stream", "s"));
    QTemporaryDir work;
    const QString folder = work.filePath(QStringLiteral("DL"));
    QVERIFY(QDir().mkpath(folder));
    QProcess process;
    process.setWorkingDirectory(work.path());
    m_server.clearLog();
    process.start(m_binary, {QStringLiteral("download"), m_server.urlText(QStringLiteral("/slow.bin")),
                             m_server.urlText(QStringLiteral("/small.bin"))});
    QVERIFY(process.waitForStarted(10000));
    // Under way: the small file saved, part of the large one arrived (under no final name).
    const QStringList saved{QStringLiteral("small.bin")};
    QTRY_COMPARE_WITH_TIMEOUT(finalEntries(folder), saved, 10000);
    QTest::qWait(300);
    QCOMPARE(finalEntries(folder), saved);
    ::kill(static_cast<pid_t>(process.processId()), signalNumber);
    QVERIFY(process.waitForFinished(10000));
    if (signalNumber == SIGKILL) {
        QCOMPARE(process.exitStatus(), QProcess::CrashExit);
    } else {
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 130);
        const QStringList lines =
            QString::fromUtf8(process.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines[0].startsWith(QStringLiteral("failed\t")));
        QVERIFY(lines[1].startsWith(QStringLiteral("ok\t")));
    }
    // Nothing under a final name; after SIGKILL the bytes that arrived are kept under a hidden
    // name tied to the batch and the item, for --continue.
    QCOMPARE(signalNumber == SIGKILL ? finalEntries(folder) : entries(folder), saved);
}

void TestDownloadCli::jobsAndRetries() {
    // Fails twice with 503 before it answers; the query is no part of the name.
    auto calls = std::make_shared<std::atomic<int>>(0);
    m_server.route(QStringLiteral("/flaky/pic1.jpg"), [calls](const TestHttpRequest&) {
        if (calls->fetch_add(1) < 2) {
            TestHttpResponse busy = TestHttpResponse::error(503, "busy");
            busy.headers.append(qMakePair(QByteArray("Retry-After"), QByteArray("0")));
            return busy;
        }
        return TestHttpResponse::withType("image/jpeg", "JPEG");
    });
    const QString flaky = m_server.urlText(QStringLiteral("/flaky/pic1.jpg?v=2"));
    QTemporaryDir work;
    const Outcome refused =
        run({QStringLiteral("--retries=0"), QStringLiteral("--jobs=1"), flaky}, work.path());
    QCOMPARE(refused.exitCode, 1);
    QCOMPARE(refused.lines.size(), 1);
    QVERIFY2(refused.lines[0].contains(QStringLiteral("503")), qPrintable(refused.lines[0]));
    QCOMPARE(calls->load(), 1);

    calls->store(0);
    const Outcome saved = run({QStringLiteral("--jobs"), QStringLiteral("16"), QStringLiteral("--retries"),
                               QStringLiteral("2"), flaky},
                              work.path());
    QCOMPARE(saved.exitCode, 0);
    QCOMPARE(saved.lines, QStringList{QStringLiteral("ok\t%1\tDL/pic1.jpg").arg(flaky)});
    QCOMPARE(calls->load(), 3);
}

void TestDownloadCli::continueAfterKill_data() {
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGKILL") << int(SIGKILL);
    QTest::newRow("SIGTERM") << int(SIGTERM);
}

// A batch stopped in the middle, even by SIGKILL, is continued with --continue: every file once,
// none half-written, none overwritten, nothing fetched again that was saved.
void TestDownloadCli::continueAfterKill() {
    QFETCH(int, signalNumber);
    const QByteArray large(512 * 1024, 'L');
    TestHttpResponse slow = TestHttpResponse::withType("application/octet-stream", large);
    slow.bytesPerSecond = 32 * 1024;
    m_server.route(QStringLiteral("/q/slow.bin"), slow);
    for (const char* name : {"a", "b", "c"})
        m_server.route(QStringLiteral("/q/%1.bin").arg(QLatin1String(name)),
                       TestHttpResponse::withType("application/octet-stream", QByteArray(name).toUpper()));
    m_server.route(QStringLiteral("/r/a.bin"), TestHttpResponse::withType("application/octet-stream", "R"));
    const QString page = m_server.urlText(QStringLiteral("/page.html"));
    auto line = [&](const QString& path) {
        return QStringLiteral(R"({"kind":"image","url":"%1","source":"%2"})")
                   .arg(m_server.urlText(path), page)
                   .toUtf8() +
               '\n';
    };
    const QByteArray input = line(QStringLiteral("/q/a.bin")) + line(QStringLiteral("/q/b.bin")) +
                             line(QStringLiteral("/q/slow.bin")) + line(QStringLiteral("/q/c.bin")) +
                             line(QStringLiteral("/r/a.bin"));
    QTemporaryDir work;
    const QString folder = work.filePath(QStringLiteral("DL"));
    m_server.clearLog();
    QProcess process;
    process.setWorkingDirectory(work.path());
    process.start(m_binary, {QStringLiteral("download"), QStringLiteral("--jobs=1")});
    QVERIFY(process.waitForStarted(10000));
    process.write(input);
    process.closeWriteChannel();
    // Two saved, the third on its way.
    const QStringList firstTwo{QStringLiteral("a.bin"), QStringLiteral("b.bin")};
    QTRY_COMPARE_WITH_TIMEOUT(finalEntries(folder), firstTwo, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(m_server.requestsFor(QStringLiteral("/q/slow.bin")).size(), 1, 10000);
    QTest::qWait(300);
    ::kill(static_cast<pid_t>(process.processId()), signalNumber);
    QVERIFY(process.waitForFinished(10000));
    if (signalNumber != SIGKILL) {
        QCOMPARE(process.exitCode(), 130);
        QVERIFY(QString::fromUtf8(process.readAllStandardError()).contains(QStringLiteral("--continue")));
    }

    // The rest, now served at once.
    m_server.route(QStringLiteral("/q/slow.bin"),
                   TestHttpResponse::withType("application/octet-stream", large));
    ProgramRun again;
    again.binary = m_binary;
    again.workingDirectory = work.path();
    again.environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    again.arguments = {QStringLiteral("download"), QStringLiteral("--continue")};
    const ProgramRun::Outcome continued = again.run();
    QVERIFY(continued.finished);
    QCOMPARE(continued.exitCode, 0);
    QCOMPARE(continued.outLines(),
             (QStringList{
                 QStringLiteral("ok\t%1\tDL/slow.bin").arg(m_server.urlText(QStringLiteral("/q/slow.bin"))),
                 QStringLiteral("ok\t%1\tDL/c.bin").arg(m_server.urlText(QStringLiteral("/q/c.bin"))),
                 QStringLiteral("ok\t%1\tDL/a (2).bin").arg(m_server.urlText(QStringLiteral("/r/a.bin")))}));
    const QStringList all{QStringLiteral("a (2).bin"), QStringLiteral("a.bin"), QStringLiteral("b.bin"),
                          QStringLiteral("c.bin"), QStringLiteral("slow.bin")};
    QCOMPARE(entries(folder), all);
    const QList<QByteArray> contents{"R", "A", "B", "C", large};
    for (qsizetype i = 0; i < all.size(); ++i) {
        QFile file(QDir(folder).filePath(all[i]));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY2(file.readAll() == contents[i], qPrintable(all[i]));
    }
    QCOMPARE(m_server.requestsFor(QStringLiteral("/q/a.bin")).size(), 1);
    QCOMPARE(m_server.requestsFor(QStringLiteral("/q/b.bin")).size(), 1);
    // The page it was found on still goes with it.
    QCOMPARE(m_server.requestsFor(QStringLiteral("/q/c.bin")).value(0).header("referer"), page.toUtf8());

    // Done with: nothing is kept any more.
    const ProgramRun::Outcome none = again.run();
    QCOMPARE(none.exitCode, 2);
    QVERIFY2(QString::fromUtf8(none.err).contains(QStringLiteral("no unfinished download")), none.err);
}

void TestDownloadCli::keptBatchesOfOneFolder_data() {
    QTest::addColumn<bool>("atOnce");
    QTest::addColumn<bool>("recordWritable");
    // A later batch into the same folder, run to its end, takes nothing from the killed one.
    QTest::newRow("a later batch") << false << true;
    // Two batches into one folder at the same time, both killed: both are kept.
    QTest::newRow("two at once") << true << true;
    // A record that cannot be written is said at once, and the interruption promises nothing.
    QTest::newRow("record not writable") << false << false;
}

// Killed batches into one folder are each kept and all continued by one --continue, each large
// file from the bytes it had.
void TestDownloadCli::keptBatchesOfOneFolder() {
    QFETCH(bool, atOnce);
    QFETCH(bool, recordWritable);
    QTemporaryDir work;
    const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-');
    auto slow = std::make_shared<std::atomic<bool>>(true);
    QList<QByteArray> bodies;
    for (int batch = 0; batch < 2; ++batch) {
        QByteArray body(400 * 1024, Qt::Uninitialized);
        for (qsizetype i = 0; i < body.size(); ++i)
            body[i] = char('a' + (i * 7 + batch) % 26);
        bodies.append(body);
        m_server.route(QStringLiteral("/%1/big%2.bin").arg(tag).arg(batch),
                       rangedFile(body, "\"v" + QByteArray::number(batch) + "\"", slow));
        m_server.route(
            QStringLiteral("/%1/small%2.bin").arg(tag).arg(batch),
            TestHttpResponse::withType("application/octet-stream", "S" + QByteArray::number(batch)));
    }
    auto url = [&](const QString& name) {
        return m_server.urlText(QStringLiteral("/%1/%2").arg(tag, name));
    };
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    QTemporaryDir dataHome;
    if (!recordWritable) {
        // Where the records would go is a plain file.
        QFile blocker(dataHome.filePath(QStringLiteral("nepirika")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
    }
    environment.insert(QStringLiteral("XDG_DATA_HOME"), dataHome.path());
    const QString folder = work.filePath(QStringLiteral("DL"));
    m_server.clearLog();
    QList<QProcess*> running;
    const int batches = atOnce ? 2 : 1;
    for (int batch = 0; batch < batches; ++batch) {
        auto* process = new QProcess(this);
        process->setProcessEnvironment(environment);
        process->setWorkingDirectory(work.path());
        process->start(m_binary, {QStringLiteral("download"), QStringLiteral("--jobs=1"),
                                  url(QStringLiteral("small%1.bin").arg(batch)),
                                  url(QStringLiteral("big%1.bin").arg(batch))});
        QVERIFY(process->waitForStarted(10000));
        running.append(process);
    }
    // Each small file saved, each large one on its way with some of its bytes in.
    for (int batch = 0; batch < batches; ++batch)
        QTRY_VERIFY_WITH_TIMEOUT(finalEntries(folder).contains(QStringLiteral("small%1.bin").arg(batch)),
                                 10000);
    // ... and its version recorded with its name (what lets it continue from its bytes), and some
    // of its bytes in its partial file.
    const auto versionsRecorded = [&] {
        int recorded = 0;
        const QDir queues(dataHome.filePath(QStringLiteral("nepirika/queues")));
        for (const QString& name : queues.entryList({QStringLiteral("*.json")}, QDir::Files)) {
            QFile record(queues.filePath(name));
            if (record.open(QIODevice::ReadOnly) && record.readAll().contains("\"validator\""))
                ++recorded;
        }
        return recorded;
    };
    const auto partialsStarted = [&] {
        int started = 0;
        const QDir dir(folder);
        for (const QString& name :
             dir.entryList({QStringLiteral(".nepirika-*.part")}, QDir::Files | QDir::Hidden))
            started += QFileInfo(dir.filePath(name)).size() > 0 ? 1 : 0;
        return started;
    };
    if (recordWritable) {
        QTRY_COMPARE_WITH_TIMEOUT(versionsRecorded(), batches, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(partialsStarted(), batches, 20000);
    } else {
        QTest::qWait(500);
    }
    const int signalNumber = recordWritable ? SIGKILL : SIGTERM;
    for (QProcess* process : running) {
        ::kill(static_cast<pid_t>(process->processId()), signalNumber);
        QVERIFY(process->waitForFinished(10000));
    }
    if (!recordWritable) {
        const QString errors = QString::fromUtf8(running[0]->readAllStandardError());
        QVERIFY2(errors.contains(QStringLiteral("中断したときは続けられません")), qPrintable(errors));
        QVERIFY2(!errors.contains(QStringLiteral("--continue")), qPrintable(errors));
        qDeleteAll(running);
        return;
    }
    qDeleteAll(running);
    ProgramRun program;
    program.binary = m_binary;
    program.environment = environment;
    program.workingDirectory = work.path();
    if (!atOnce) {
        // Another batch into the same folder, to its end.
        program.arguments = {QStringLiteral("download"), url(QStringLiteral("small1.bin"))};
        const ProgramRun::Outcome other = program.run();
        QCOMPARE(other.exitCode, 0);
    }
    slow->store(false);
    program.arguments = {QStringLiteral("download"), QStringLiteral("--continue")};
    const ProgramRun::Outcome continued = program.run();
    QVERIFY(continued.finished);
    QCOMPARE(continued.exitCode, 0);
    for (int batch = 0; batch < batches; ++batch) {
        QVERIFY2(continued.outLines().contains(QStringLiteral("ok\t%1\tDL/big%2.bin")
                                                   .arg(url(QStringLiteral("big%1.bin").arg(batch)))
                                                   .arg(batch)),
                 continued.out);
        QFile saved(QDir(folder).filePath(QStringLiteral("big%1.bin").arg(batch)));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QVERIFY(saved.readAll() == bodies[batch]);
        // Continued from its bytes: the second request asked only for the rest of that version.
        const QList<TestHttpRequest> asked =
            m_server.requestsFor(QStringLiteral("/%1/big%2.bin").arg(tag).arg(batch));
        QCOMPARE(asked.size(), 2);
        QVERIFY2(asked[1].header("range").startsWith("bytes=") && asked[1].header("range") != "bytes=0-",
                 asked[1].header("range"));
        QCOMPARE(asked[1].header("if-range"), "\"v" + QByteArray::number(batch) + "\"");
    }
    // Nothing partial is left, and nothing is kept any more.
    QCOMPARE(entries(folder).filter(QStringLiteral(".part")), QStringList());
    const ProgramRun::Outcome none = program.run();
    QCOMPARE(none.exitCode, 2);
    // Neither a record nor its lock is left behind.
    QCOMPARE(QDir(dataHome.filePath(QStringLiteral("nepirika/queues"))).entryList(QDir::Files),
             QStringList());
}

QTEST_GUILESS_MAIN(TestDownloadCli)
#include "tst_downloadcli.moc"
