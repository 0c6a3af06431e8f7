// "nepirika harvest" run as a separate process, as scripts run it, against pages on 127.0.0.1.

#include "ProgramRun.h"
#include "TestHttpServer.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTcpServer>
#include <QTest>

#include <unistd.h>

namespace {

struct Outcome {
    int exitCode = -1;
    QStringList out;
    QStringList err;
    bool finished = false;
};

} // namespace

class TestHarvestCommand : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void printsKindTabAddressInListOrder();
    void jsonLines();
    void addressesFromStandardInput();
    void failuresGoToStandardErrorAndExitOne();
    void sameOutputWhateverTheParallelPages_data();
    void sameOutputWhateverTheParallelPages();
    void eachPageIsPrintedOnceItAndThoseBeforeAreDone();
    void noScripts();
    void usageErrors_data();
    void usageErrors();
    void helpIsNoError();
    void sandboxTurnedOffOnlyForRoot();

private:
    Outcome harvest(const QStringList& arguments, const QByteArray& input = {}, bool sandboxVariable = true);
    QString u(const QString& path) const { return m_server.urlText(path); }

    TestHttpServer m_server;
    QString m_binary;
};

void TestHarvestCommand::initTestCase() {
    m_binary = ProgramRun::builtProgram();
    // The build makes the executable before this test; ctest names it.
    QVERIFY2(!m_binary.isEmpty() && QFileInfo(m_binary).isExecutable(),
             qPrintable(QStringLiteral("no nepirika executable at \"%1\"").arg(m_binary)));
    QVERIFY(m_server.start());
    m_server.route(QStringLiteral("/one.html"), TestHttpResponse::html(R"HTML(<!doctype html>
<a href="a.html">a</a><a href="javascript:void(0)">s</a><a href="mailto:x@example.invalid">m</a>
<img src="pic.png"><embed src="m.swf"><a href="日本.html">j</a>)HTML"));
    m_server.route(QStringLiteral("/two.html"), TestHttpResponse::html(R"HTML(<!doctype html>
<a href="a.html">a</a><a href="b.html">b</a><img src="pic.png">)HTML"));
    m_server.route(QStringLiteral("/gone.html"), TestHttpResponse::error(404, "<p>gone</p>"));
    m_server.route(QStringLiteral("/late.html"), [](const TestHttpRequest&) {
        TestHttpResponse r =
            TestHttpResponse::html(R"HTML(<a href="late-link.html">l</a><img src="pic.png">)HTML");
        r.delayMs = 2500;
        return r;
    });
    m_server.route(QStringLiteral("/scripted.html"), TestHttpResponse::html(R"HTML(<!doctype html>
<a href="static.html">s</a><script>document.write('<a href="written.html">w</a>');</script>)HTML"));
}

Outcome TestHarvestCommand::harvest(const QStringList& arguments, const QByteArray& input,
                                    bool sandboxVariable) {
    ProgramRun program;
    program.binary = m_binary;
    program.arguments = QStringList{QStringLiteral("harvest")} + arguments;
    program.environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    if (sandboxVariable)
        program.environment.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));
    else
        program.environment.remove(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"));
    program.input = input;
    const ProgramRun::Outcome ran = program.run();
    Outcome o;
    o.finished = ran.finished;
    o.exitCode = ran.exitCode;
    o.out = ran.outLines();
    o.err = ran.errLines();
    return o;
}

void TestHarvestCommand::printsKindTabAddressInListOrder() {
    const Outcome o = harvest({u("/one.html"), u("/two.html")});
    QVERIFY(o.finished);
    QCOMPARE(o.exitCode, 0);
    QCOMPARE(o.out, (QStringList{
                        "page\t" + u("/a.html"),
                        QStringLiteral("script\tjavascript:void(0)"),
                        "page\t" + u("/%E6%97%A5%E6%9C%AC.html"),
                        "image\t" + u("/pic.png"),
                        "embed\t" + u("/m.swf"),
                        "page\t" + u("/b.html"),
                    }));
    // Nothing on standard error looks like a failure.
    QVERIFY2(o.err.filter(QStringLiteral("\t")).isEmpty(), qPrintable(o.err.join(QLatin1Char('\n'))));
}

void TestHarvestCommand::jsonLines() {
    const Outcome o = harvest({QStringLiteral("--json"), u("/one.html"), u("/two.html")});
    QVERIFY(o.finished);
    QCOMPARE(o.exitCode, 0);
    QCOMPARE(o.out.size(), 6);
    QStringList seen;
    for (const QString& line : o.out) {
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(line.toUtf8(), &error);
        QVERIFY2(error.error == QJsonParseError::NoError && doc.isObject(), qPrintable(line));
        const QJsonObject obj = doc.object();
        QCOMPARE(obj.size(), 5);
        seen.append(obj.value("kind").toString() + ' ' + obj.value("url").toString() + ' ' +
                    obj.value("source").toString() + ' ' + obj.value("via").toString() + ' ' +
                    obj.value("charset").toString());
    }
    QCOMPARE(seen.first(), "page " + u("/a.html") + ' ' + u("/one.html") + " a@href UTF-8");
    QCOMPARE(seen.last(), "page " + u("/b.html") + ' ' + u("/two.html") + " a@href UTF-8");
    QCOMPARE(seen.at(3), "image " + u("/pic.png") + ' ' + u("/one.html") + " img@src UTF-8");
    QCOMPARE(seen.at(4), "embed " + u("/m.swf") + ' ' + u("/one.html") + " embed@src UTF-8");
}

void TestHarvestCommand::addressesFromStandardInput() {
    // The input box's rules: blanks trimmed, blank lines skipped, CR LF or LF, no scheme needed.
    QString hostPort = u("/").mid(QStringLiteral("http://").size());
    hostPort.chop(1);
    const QByteArray input =
        "\r\n   " + u("/one.html").toUtf8() + "  \r\n\n\t\n" + hostPort.toUtf8() + "/two.html\n";
    const Outcome o = harvest({}, input);
    QVERIFY(o.finished);
    QCOMPARE(o.exitCode, 0);
    QCOMPARE(o.out.size(), 6);
    QCOMPARE(o.out.last(), "page\t" + u("/b.html"));
}

void TestHarvestCommand::failuresGoToStandardErrorAndExitOne() {
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const QString closed = QStringLiteral("http://127.0.0.1:%1/").arg(probe.serverPort());
    probe.close();

    const Outcome o = harvest({u("/gone.html"), closed, u("/two.html")});
    QVERIFY(o.finished);
    QCOMPARE(o.exitCode, 1);
    QCOMPARE(o.out,
             (QStringList{"page\t" + u("/a.html"), "page\t" + u("/b.html"), "image\t" + u("/pic.png")}));
    const QStringList failures = o.err.filter(QStringLiteral("\t"));
    QCOMPARE(failures, (QStringList{u("/gone.html") + QStringLiteral("\tHTTP 404"),
                                    closed + QStringLiteral("\t接続を拒否されました")}));
}

void TestHarvestCommand::sameOutputWhateverTheParallelPages_data() {
    QTest::addColumn<QStringList>("options");
    QTest::newRow("default") << QStringList{};
    QTest::newRow("one at a time") << QStringList{QStringLiteral("--parallel"), QStringLiteral("1")};
    QTest::newRow("three") << QStringList{QStringLiteral("--parallel=3")};
    QTest::newRow("more than pages") << QStringList{QStringLiteral("--parallel"), QStringLiteral("16")};
    // The pages are read side by side in one shared reader page.
    QTest::newRow("without scripts, three")
        << QStringList{QStringLiteral("--no-scripts"), QStringLiteral("--parallel=3")};
}

void TestHarvestCommand::sameOutputWhateverTheParallelPages() {
    QFETCH(QStringList, options);
    // The slow first page is done last, yet its records come first, and it is the first finder of
    // what the later pages repeat.
    const Outcome o = harvest(options + QStringList{QStringLiteral("--json"), u("/late.html"),
                                                    u("/gone.html"), u("/one.html"), u("/two.html")});
    QVERIFY(o.finished);
    QCOMPARE(o.exitCode, 1);
    QStringList seen;
    for (const QString& line : o.out) {
        const QJsonObject obj = QJsonDocument::fromJson(line.toUtf8()).object();
        seen.append(obj.value("kind").toString() + ' ' + obj.value("url").toString() + ' ' +
                    obj.value("source").toString());
    }
    QCOMPARE(seen, (QStringList{
                       "page " + u("/late-link.html") + ' ' + u("/late.html"),
                       "image " + u("/pic.png") + ' ' + u("/late.html"),
                       "page " + u("/a.html") + ' ' + u("/one.html"),
                       "script javascript:void(0) " + u("/one.html"),
                       "page " + u("/%E6%97%A5%E6%9C%AC.html") + ' ' + u("/one.html"),
                       "embed " + u("/m.swf") + ' ' + u("/one.html"),
                       "page " + u("/b.html") + ' ' + u("/two.html"),
                   }));
    QCOMPARE(o.err.filter(QStringLiteral("\t")), QStringList{u("/gone.html") + QStringLiteral("\tHTTP 404")});
}

void TestHarvestCommand::eachPageIsPrintedOnceItAndThoseBeforeAreDone() {
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));
    program.setProcessEnvironment(environment);
    program.start(m_binary, {QStringLiteral("harvest"), u("/two.html"), u("/late.html")});
    QVERIFY(program.waitForStarted());
    // The first page's records are out while the second page's server still keeps its answer.
    QByteArray out;
    QElapsedTimer clock;
    clock.start();
    while (!out.contains("pic.png") && clock.elapsed() < 20000 && program.state() == QProcess::Running) {
        program.waitForReadyRead(100);
        out += program.readAllStandardOutput();
    }
    QVERIFY2(out.contains("pic.png\n"), out.constData());
    QCOMPARE(program.state(), QProcess::Running);
    QVERIFY(!out.contains("late-link"));
    QVERIFY(program.waitForFinished(30000));
    out += program.readAllStandardOutput();
    QCOMPARE(QString::fromUtf8(out).split(QLatin1Char('\n'), Qt::SkipEmptyParts),
             (QStringList{"page\t" + u("/a.html"), "page\t" + u("/b.html"), "image\t" + u("/pic.png"),
                          "page\t" + u("/late-link.html")}));
}

void TestHarvestCommand::noScripts() {
    const Outcome with = harvest({u("/scripted.html")});
    QCOMPARE(with.out, (QStringList{"page\t" + u("/static.html"), "page\t" + u("/written.html")}));
    const Outcome without = harvest({QStringLiteral("--no-scripts"), u("/scripted.html")});
    QVERIFY(without.finished);
    QCOMPARE(without.exitCode, 0);
    QCOMPARE(without.out, QStringList{"page\t" + u("/static.html")});
}

void TestHarvestCommand::usageErrors_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("input");
    QTest::newRow("unknown option") << QStringList{QStringLiteral("--bogus"),
                                                   QStringLiteral("http://x.invalid/")}
                                    << QByteArray();
    QTest::newRow("nothing on standard input") << QStringList{} << QByteArray("\n  \n");
    QTest::newRow("only blank addresses") << QStringList{QStringLiteral("  ")} << QByteArray();
    for (const char* bad : {"0", "x", "33", "-2", ""})
        QTest::addRow("--parallel \"%s\"", bad)
            << QStringList{QStringLiteral("--parallel=") + QLatin1String(bad),
                           QStringLiteral("http://x.invalid/")}
            << QByteArray();
    QTest::newRow("--parallel without its number")
        << QStringList{QStringLiteral("--parallel")} << QByteArray();
}

void TestHarvestCommand::usageErrors() {
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, input);
    const Outcome o = harvest(arguments, input);
    QVERIFY(o.finished);
    QCOMPARE(o.exitCode, 2);
    QVERIFY(o.out.isEmpty());
    QVERIFY2(o.err.join(QLatin1Char('\n')).contains(QStringLiteral("Usage: nepirika harvest")),
             qPrintable(o.err.join(QLatin1Char('\n'))));
}

void TestHarvestCommand::helpIsNoError() {
    const Outcome o = harvest({QStringLiteral("--help")});
    QVERIFY(o.finished);
    QCOMPARE(o.exitCode, 0);
    QVERIFY(!o.out.isEmpty());
    QVERIFY(o.out.first().startsWith(QStringLiteral("Usage: nepirika harvest")));
}

void TestHarvestCommand::sandboxTurnedOffOnlyForRoot() {
    const QString note = QStringLiteral("sandbox is turned off");
    // Without the variable: as root the engine could not start with its sandbox, so the program
    // turns it off and says so; a normal user keeps it, and no note.
    const Outcome o = harvest({u("/two.html")}, {}, false);
    QVERIFY(o.finished);
    QCOMPARE(o.exitCode, 0);
    QCOMPARE(o.out.size(), 3);
    QCOMPARE(o.err.join(QLatin1Char('\n')).contains(note), ::geteuid() == 0);
    // The variable set by whoever runs it: nothing to say.
    const Outcome quiet = harvest({u("/two.html")});
    QVERIFY(quiet.finished);
    QVERIFY(!quiet.err.join(QLatin1Char('\n')).contains(note));
}

QTEST_GUILESS_MAIN(TestHarvestCommand)
#include "tst_harvestcommand.moc"
