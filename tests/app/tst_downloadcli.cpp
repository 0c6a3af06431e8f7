#include "ProgramRun.h"
#include "TestHttpServer.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

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

} // namespace

// The built program's "download" command, run as a user runs it.
class TestDownloadCli : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void addressesFromArguments();
    void addressesFromStandardInput();
    void harvestJsonLinesFromStandardInput();
    void pageOfAPlainLineIsTheReferer_data();
    void pageOfAPlainLineIsTheReferer();
    void usageErrors_data();
    void usageErrors();
    void interruptLeavesNothing_data();
    void interruptLeavesNothing();
    void jobsAndRetries();
    void continueAfterKill_data();
    void continueAfterKill();

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
    // Under way: the small file saved, part of the large one arrived (under no name at all).
    const QStringList saved{QStringLiteral("small.bin")};
    QTRY_COMPARE_WITH_TIMEOUT(entries(folder), saved, 10000);
    QTest::qWait(300);
    QCOMPARE(entries(folder), saved);
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
    QCOMPARE(entries(folder), saved);
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
    QTRY_COMPARE_WITH_TIMEOUT(entries(folder), firstTwo, 10000);
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

QTEST_GUILESS_MAIN(TestDownloadCli)
#include "tst_downloadcli.moc"
