// "nepirika harvest" run as a separate process, as scripts run it, against pages on 127.0.0.1.

#include "ProgramRun.h"
#include "TestHttpServer.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTest>

#include <unistd.h>

namespace {

QByteArray chars(std::initializer_list<int> bytes) {
    QByteArray out;
    for (int b : bytes)
        out.append(char(b));
    return out;
}

struct Outcome {
    int exitCode = -1;
    QStringList out;
    QStringList err;
    bool finished = false;
};

QByteArray png(quint32 w, quint32 h) {
    auto be32 = [](quint32 v) {
        return chars({char(v >> 24), char(v >> 16), char(v >> 8), char(v)});
    };
    return QByteArray("\x89PNG\r\n\x1A\n", 8) + be32(13) + "IHDR" + be32(w) + be32(h) + QByteArray(200, '\0');
}

} // namespace

class TestHarvestCommand : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void printsKindTabAddressInListOrder();
    void jsonLines();
    void addressesFromStandardInput();
    void repeatedLinesLoadOnce_data();
    void repeatedLinesLoadOnce();
    void failuresGoToStandardErrorAndExitOne();
    void sameOutputWhateverTheParallelPages_data();
    void sameOutputWhateverTheParallelPages();
    void eachPageIsPrintedOnceItAndThoseBeforeAreDone();
    void noScripts();
    void imageSets_data();
    void imageSets();
    void titlesAndAlts_data();
    void titlesAndAlts();
    void usageErrors_data();
    void usageErrors();
    void helpIsNoError();
    void sandboxTurnedOffOnlyForRoot();
    void engineMessagesOnlyWhenVerbose_data();
    void engineMessagesOnlyWhenVerbose();

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
    // Three image sets: an <img> with srcset, a <picture> with its source, a lone <img>.
    m_server.route(QStringLiteral("/pictures.html"), TestHttpResponse::html(R"HTML(<!doctype html>
<img src="small.png" srcset="small.png 480w, big.png  1280w, mid.png 800w" width="640" height="480">
<picture><source srcset="p-2x.png 2x, p-1x.png"><img src="p.png" width="300"></picture>
<img src="lone.png" height="16">)HTML"));
    const QList<std::tuple<QString, quint32, quint32>> images{
        {"/small.png", 480, 360}, {"/big.png", 1280, 960}, {"/mid.png", 800, 600},
        {"/p-1x.png", 600, 400},  {"/p.png", 300, 200},    {"/lone.png", 16, 16}};
    for (const auto& [path, w, h] : images)
        m_server.route(path, TestHttpResponse::withType("image/png", png(w, h)));
    // Titles and alternative texts: the page's, a frame's own, one read as Shift_JIS, a long one.
    m_server.route(QStringLiteral("/named.html"), TestHttpResponse::html(R"HTML(<!doctype html>
<title>写真 &amp;
 旅</title><img src="a.png" alt="代替"><img src="b.png" title="題"><img src="c.png" alt=" " title="空のalt">
<a href="big.html"><img src="thumb.png" alt="サムネ"></a>
<picture><source srcset="p.webp"><img src="p.png" alt="絵"></picture>
<iframe srcdoc="<title>枠</title><img src=f.png alt=枠の画像>"></iframe>)HTML"));
    m_server.route(QStringLiteral("/sjis.html"),
                   TestHttpResponse::withType("text/html; charset=Shift_JIS",
                                              "<title>" + chars({0x93, 0xfa, 0x96, 0x7b, 0x8c, 0xea}) +
                                                  "</title><img src=\"s.png\" alt=\"" + chars({0x94, 0x4c}) +
                                                  "\">"));
    m_server.route(QStringLiteral("/long.html"),
                   TestHttpResponse::html("<title>&#x202E;" + QString(1999, QChar(0x3042)).toUtf8() +
                                          "</title><img src=\"l.png\">"));
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
    // Each line ends with the page the address was found on.
    const QString one = QLatin1Char('\t') + u("/one.html");
    QCOMPARE(o.out, (QStringList{
                        "page\t" + u("/a.html") + one,
                        QStringLiteral("script\tjavascript:void(0)") + one,
                        "page\t" + u("/%E6%97%A5%E6%9C%AC.html") + one,
                        "image\t" + u("/pic.png") + one,
                        "embed\t" + u("/m.swf") + one,
                        "page\t" + u("/b.html") + QLatin1Char('\t') + u("/two.html"),
                    }));
    // Nothing on standard error looks like a failure.
    QVERIFY2(o.err.filter(QStringLiteral("\t")).isEmpty(), qPrintable(o.err.join(QLatin1Char('\n'))));
}

void TestHarvestCommand::repeatedLinesLoadOnce_data() {
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<int>("loads");
    QTest::addColumn<int>("skipped");
    const QString two = u("/two.html");
    const QString bare = two.mid(two.indexOf(QLatin1String("://")) + 3);
    QTest::newRow("three identical lines") << QStringList{two, two, two} << 1 << 2;
    QTest::newRow("with and without its scheme") << QStringList{two, bare} << 1 << 1;
    QTest::newRow("blanks around a repeat") << QStringList{two, "  " + two + " ", u("/one.html")} << 2 << 1;
    QTest::newRow("no repeat") << QStringList{two, u("/one.html")} << 2 << 0;
}

void TestHarvestCommand::repeatedLinesLoadOnce() {
    QFETCH(QStringList, lines);
    QFETCH(int, loads);
    QFETCH(int, skipped);
    m_server.clearLog();
    const Outcome o = harvest({}, lines.join(QLatin1Char('\n')).toUtf8() + '\n');
    QVERIFY(o.finished);
    QCOMPARE(o.exitCode, 0);
    QCOMPARE(int(m_server.requestsFor(QStringLiteral("/two.html")).size()), 1);
    QCOMPARE(int(m_server.requestsFor(QStringLiteral("/two.html")).size() +
                 m_server.requestsFor(QStringLiteral("/one.html")).size()),
             loads);
    // The records of one load: "b.html" once.
    QCOMPARE(o.out.filter(u("/b.html")).size(), 1);
    const QStringList notes = o.err.filter(QStringLiteral("repeated"));
    if (skipped == 0) {
        QVERIFY2(notes.isEmpty(), qPrintable(o.err.join(QLatin1Char('\n'))));
    } else {
        QCOMPARE(notes.size(), 1);
        QVERIFY2(notes.first().contains(QStringLiteral(" %1 ").arg(skipped)), qPrintable(notes.first()));
    }
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
        // An image also names its set (the candidates of its <img>) and its alternative text; each
        // record the page's title and the name it is saved under.
        QCOMPARE(obj.size(), obj.value("kind").toString() == "image" ? 9 : 7);
        seen.append(obj.value("kind").toString() + ' ' + obj.value("url").toString() + ' ' +
                    obj.value("source").toString() + ' ' + obj.value("via").toString() + ' ' +
                    obj.value("charset").toString());
    }
    QCOMPARE(seen.first(), "page " + u("/a.html") + ' ' + u("/one.html") + " a@href UTF-8");
    QCOMPARE(seen.last(), "page " + u("/b.html") + ' ' + u("/two.html") + " a@href UTF-8");
    QCOMPARE(seen.at(3), "image " + u("/pic.png") + ' ' + u("/one.html") + " img@src UTF-8");
    QCOMPARE(seen.at(4), "embed " + u("/m.swf") + ' ' + u("/one.html") + " embed@src UTF-8");
    QCOMPARE(QJsonDocument::fromJson(o.out.at(2).toUtf8()).object().value("name").toString(),
             QStringLiteral("日本.html"));
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
    QCOMPARE(o.out.last(), "page\t" + u("/b.html") + "\thttp://" + hostPort + "/two.html");
}

void TestHarvestCommand::failuresGoToStandardErrorAndExitOne() {
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const QString closed = QStringLiteral("http://127.0.0.1:%1/").arg(probe.serverPort());
    probe.close();

    const Outcome o = harvest({u("/gone.html"), closed, u("/two.html")});
    QVERIFY(o.finished);
    QCOMPARE(o.exitCode, 1);
    const QString two = QLatin1Char('\t') + u("/two.html");
    QCOMPARE(o.out, (QStringList{"page\t" + u("/a.html") + two, "page\t" + u("/b.html") + two,
                                 "image\t" + u("/pic.png") + two}));
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
    QVERIFY2(out.contains("pic.png\t"), out.constData());
    QCOMPARE(program.state(), QProcess::Running);
    QVERIFY(!out.contains("late-link"));
    QVERIFY(program.waitForFinished(30000));
    out += program.readAllStandardOutput();
    QCOMPARE(QString::fromUtf8(out).split(QLatin1Char('\n'), Qt::SkipEmptyParts),
             (QStringList{"page\t" + u("/a.html") + '\t' + u("/two.html"),
                          "page\t" + u("/b.html") + '\t' + u("/two.html"),
                          "image\t" + u("/pic.png") + '\t' + u("/two.html"),
                          "page\t" + u("/late-link.html") + '\t' + u("/late.html")}));
}

void TestHarvestCommand::noScripts() {
    const Outcome with = harvest({u("/scripted.html")});
    const QString page = QLatin1Char('\t') + u("/scripted.html");
    QCOMPARE(with.out,
             (QStringList{"page\t" + u("/static.html") + page, "page\t" + u("/written.html") + page}));
    const Outcome without = harvest({QStringLiteral("--no-scripts"), u("/scripted.html")});
    QVERIFY(without.finished);
    QCOMPARE(without.exitCode, 0);
    QCOMPARE(without.out, QStringList{"page\t" + u("/static.html") + page});
}

void TestHarvestCommand::imageSets_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<int>("leftOut");
    const QString e404 = QStringLiteral(" !サーバーがエラーを返しました (HTTP 404 Not Found)");
    QTest::newRow("what the page says") << QStringList{}
                                        << QStringList{"small.png set=1 e=640x480",
                                                       "big.png set=1 d=1280w e=640x480",
                                                       "mid.png set=1 d=800w e=640x480",
                                                       "p-2x.png set=2 d=2x",
                                                       "p-1x.png set=2",
                                                       "p.png set=2 e=300x?",
                                                       "lone.png set=3 e=?x16"}
                                        << 0;
    QTest::newRow("what the page says, read without scripts")
        << QStringList{"--no-scripts"}
        << QStringList{"small.png set=1 e=640x480",
                       "big.png set=1 d=1280w e=640x480",
                       "mid.png set=1 d=800w e=640x480",
                       "p-2x.png set=2 d=2x",
                       "p-1x.png set=2",
                       "p.png set=2 e=300x?",
                       "lone.png set=3 e=?x16"}
        << 0;
    QTest::newRow("--largest by descriptor")
        << QStringList{"--largest"}
        << QStringList{"big.png set=1 d=1280w e=640x480", "p-2x.png set=2 d=2x", "lone.png set=3 e=?x16"}
        << 0;
    QTest::newRow("--probe") << QStringList{"--probe"}
                             << QStringList{"small.png set=1 e=640x480 480x360 224 image/png",
                                            "big.png set=1 d=1280w e=640x480 1280x960 224 image/png",
                                            "mid.png set=1 d=800w e=640x480 800x600 224 image/png",
                                            "p-2x.png set=2 d=2x" + e404,
                                            "p-1x.png set=2 600x400 224 image/png",
                                            "p.png set=2 e=300x? 300x200 224 image/png",
                                            "lone.png set=3 e=?x16 16x16 224 image/png"}
                             << 0;
    // The 2x candidate is missing: by size read, the 1x one is the largest of its set.
    QTest::newRow("--largest by size read")
        << QStringList{"--largest", "--probe"}
        << QStringList{"big.png set=1 d=1280w e=640x480 1280x960 224 image/png",
                       "p-1x.png set=2 600x400 224 image/png", "lone.png set=3 e=?x16 16x16 224 image/png"}
        << 0;
    QTest::newRow("--min-width") << QStringList{"--min-width", "600"}
                                 << QStringList{"big.png set=1 d=1280w e=640x480 1280x960 224 image/png",
                                                "mid.png set=1 d=800w e=640x480 800x600 224 image/png",
                                                "p-1x.png set=2 600x400 224 image/png"}
                                 << 1;
    // The unreadable 2x candidate is not the largest of its set: not counted as left out for its size.
    QTest::newRow("--min-width and --min-height")
        << QStringList{"--min-width=600", "--min-height=500", "--largest"}
        << QStringList{"big.png set=1 d=1280w e=640x480 1280x960 224 image/png"} << 0;
}

void TestHarvestCommand::imageSets() {
    QFETCH(QStringList, options);
    QFETCH(QStringList, expected);
    QFETCH(int, leftOut);
    const Outcome o = harvest(options + QStringList{QStringLiteral("--json"), u("/pictures.html")});
    QVERIFY(o.finished);
    QCOMPARE(o.exitCode, 0);
    QStringList seen;
    for (const QString& line : o.out) {
        const QJsonObject obj = QJsonDocument::fromJson(line.toUtf8()).object();
        QString s = obj.value("url").toString().section(QLatin1Char('/'), -1);
        if (obj.contains("set"))
            s += QStringLiteral(" set=%1").arg(obj.value("set").toInt());
        if (obj.contains("descriptor"))
            s += " d=" + obj.value("descriptor").toString();
        auto dim = [&obj](const char* key) {
            return obj.contains(key) ? QString::number(obj.value(key).toInt()) : QStringLiteral("?");
        };
        if (obj.contains("element_width") || obj.contains("element_height"))
            s += " e=" + dim("element_width") + 'x' + dim("element_height");
        if (obj.contains("width"))
            s += QStringLiteral(" %1x%2 %3 ")
                     .arg(obj.value("width").toInt())
                     .arg(obj.value("height").toInt())
                     .arg(obj.value("bytes").toInt()) +
                 obj.value("type").toString();
        if (obj.contains("probe_error"))
            s += " !" + obj.value("probe_error").toString();
        seen.append(s);
    }
    QCOMPARE(seen, expected);
    // The images whose size could not be read are counted (in the words of the user's language).
    const QStringList notes =
        o.err.filter(QRegularExpression(QStringLiteral("^nepirika harvest: .* %1 ").arg(leftOut)));
    QCOMPARE(notes.size(), leftOut ? 1 : 0);
}

void TestHarvestCommand::titlesAndAlts_data() {
    QTest::addColumn<QStringList>("options");
    QTest::newRow("with scripts") << QStringList{};
    QTest::newRow("without scripts") << QStringList{QStringLiteral("--no-scripts")};
}

// Every record carries its document's title; an image its alt, else its title attribute (the alt of
// its <picture>'s <img> for a <source>), empty when it has neither.
void TestHarvestCommand::titlesAndAlts() {
    QFETCH(QStringList, options);
    const Outcome o = harvest(
        options + QStringList{QStringLiteral("--json"), u("/named.html"), u("/sjis.html"), u("/long.html")});
    QVERIFY(o.finished);
    QCOMPARE(o.exitCode, 0);
    QStringList seen;
    for (const QString& line : o.out) {
        const QJsonObject obj = QJsonDocument::fromJson(line.toUtf8()).object();
        QVERIFY2(obj.value("title").isString(), qPrintable(line));
        QString s = obj.value("kind").toString() + ' ' + obj.value("url").toString().section(u'/', -1) +
                    " [" + obj.value("title").toString().left(3) + ']';
        if (obj.contains("alt"))
            s += " alt=" + obj.value("alt").toString();
        seen.append(s);
        if (obj.value("url").toString().endsWith("/l.png"))
            QCOMPARE(obj.value("title").toString(), QChar(0x202E) + QString(1999, QChar(0x3042)));
    }
    QCOMPARE(seen, (QStringList{"page big.html [写真 ]", "image a.png [写真 ] alt=代替",
                                "image b.png [写真 ] alt=題", "image c.png [写真 ] alt=空のalt",
                                "image thumb.png [写真 ] alt=サムネ", "image p.webp [写真 ] alt=絵",
                                "image p.png [写真 ] alt=絵", "image f.png [枠] alt=枠の画像",
                                "image s.png [日本語] alt=猫", "image l.png [\u202Eああ] alt="}));
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
    QTest::newRow("--min-width not a number")
        << QStringList{QStringLiteral("--min-width=wide"), QStringLiteral("http://x.invalid/")}
        << QByteArray();
    QTest::newRow("--min-height without its number")
        << QStringList{QStringLiteral("--min-height")} << QByteArray();
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

void TestHarvestCommand::engineMessagesOnlyWhenVerbose_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("engineMessages");
    QTest::newRow("quiet") << QStringList() << false;
    QTest::newRow("verbose") << QStringList{QStringLiteral("--verbose")} << true;
}

// Standard error holds the failures, one a line, for scripts; the engine's own start-up dumps and
// log lines only when asked for.
void TestHarvestCommand::engineMessagesOnlyWhenVerbose() {
    QFETCH(QStringList, options);
    QFETCH(bool, engineMessages);
    const Outcome o = harvest(options + QStringList{u("/two.html"), u("/gone.html")});
    QVERIFY(o.finished);
    QCOMPARE(o.exitCode, 1);
    QCOMPARE(o.out.size(), 3);
    QCOMPARE(o.err.filter(QStringLiteral("\t")), QStringList{u("/gone.html") + QStringLiteral("\tHTTP 404")});
    const QStringList others = o.err.filter(QRegularExpression(QStringLiteral("^[^\t]+$")));
    QVERIFY2(others.isEmpty() != engineMessages, qPrintable(others.join(u'\n')));
}

QTEST_GUILESS_MAIN(TestHarvestCommand)
#include "tst_harvestcommand.moc"
