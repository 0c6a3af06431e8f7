// "nepirika harvest" following links and taking the pictures behind thumbnails, run as its own
// process against small sites on 127.0.0.1 (and 127.0.0.2 as another host).

#include "ProgramRun.h"
#include "TestHttpServer.h"

#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <memory>

namespace {

QByteArray png(quint32 w, quint32 h) {
    QByteArray out("\x89PNG\r\n\x1A\n", 8);
    auto be32 = [&out](quint32 v) {
        for (int shift = 24; shift >= 0; shift -= 8)
            out.append(char(v >> shift));
    };
    be32(13);
    out.append("IHDR");
    be32(w);
    be32(h);
    return out + QByteArray(200, '\0');
}

// A page with its own picture (so that it shows in the output as a source) and these links.
TestHttpResponse page(const QString& name, const QStringList& links) {
    QByteArray body = "<!doctype html><meta charset=utf-8><img src=\"/pic/" + name.toUtf8() + ".png\">";
    for (const QString& link : links)
        body += "<a href=\"" + link.toUtf8() + "\">x</a>";
    return TestHttpResponse::html(body);
}

struct Run {
    bool finished = false;
    int exitCode = -1;
    QStringList out;
    QString err;
};

} // namespace

class TestFollow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void following_data();
    void following();
    void linkedImages_data();
    void linkedImages();

private:
    Run harvest(const QStringList& arguments) const;
    // The site, with this robots.txt ("" for none) on the first host.
    void serveSite(TestHttpServer& server, const QString& otherHost, const QByteArray& robots);

    QString m_binary;
    TestHttpServer m_other;
    TestHttpServer m_gallery;
};

void TestFollow::initTestCase() {
    m_binary = ProgramRun::builtProgram();
    QVERIFY2(!m_binary.isEmpty() && QFileInfo(m_binary).isExecutable(), qPrintable(m_binary));
    QVERIFY(m_other.start(0, QStringLiteral("127.0.0.2")));
    m_other.route(QStringLiteral("/far.html"), page(QStringLiteral("far"), {QStringLiteral("near.html")}));
    m_other.route(QStringLiteral("/near.html"), page(QStringLiteral("near"), {}));
    m_other.route(QStringLiteral("/robots.txt"),
                  TestHttpResponse::withType("text/plain", "User-agent: *\nDisallow: /near\n"));

    // Thumbnails: a link straight to the file, and a link to a page that holds it.
    QVERIFY(m_gallery.start());
    m_gallery.route(QStringLiteral("/direct.html"), TestHttpResponse::html(R"HTML(<!doctype html>
<a href="/full/1.jpg"><img src="/th/1.png"></a>
<a href="/full/2.webp?v=1#top"><img src="/th/2.png" srcset="/th/2.png 1x, /th/2b.png 2x"></a>
<a type="image/png" href="/show?id=3">three</a>
<a href="/about.html">about</a>)HTML"));
    m_gallery.route(QStringLiteral("/index.html"), TestHttpResponse::html(R"HTML(<!doctype html>
<a href="/d/1.html"><img src="/th/d1.png"></a><a href="/d/2.html"><img src="/th/d2.png"></a>)HTML"));
    for (const char* n : {"1", "2"})
        m_gallery.route(QStringLiteral("/d/%1.html").arg(n),
                        TestHttpResponse::html(QByteArray("<img src=\"/full/d") + n + ".png\">"));
    m_gallery.route(QStringLiteral("/full/1.jpg"), TestHttpResponse::withType("image/png", png(800, 600)));
    m_gallery.route(QStringLiteral("/full/2.webp"), TestHttpResponse::withType("image/png", png(20, 20)));
    m_gallery.route(QStringLiteral("/th/1.png"), TestHttpResponse::withType("image/png", png(80, 60)));
    m_gallery.route(QStringLiteral("/th/2.png"), TestHttpResponse::withType("image/png", png(40, 40)));
    m_gallery.route(QStringLiteral("/th/2b.png"), TestHttpResponse::withType("image/png", png(80, 80)));
    m_gallery.route(QStringLiteral("/show"), TestHttpResponse::withType("image/png", png(300, 300)));
    for (const char* n : {"d1", "d2"})
        m_gallery.route(QStringLiteral("/th/%1.png").arg(n),
                        TestHttpResponse::withType("image/png", png(64, 48)));
    for (const char* n : {"d1", "d2"})
        m_gallery.route(QStringLiteral("/full/%1.png").arg(n),
                        TestHttpResponse::withType("image/png", png(4000, 3000)));
}

Run TestFollow::harvest(const QStringList& arguments) const {
    ProgramRun program;
    program.binary = m_binary;
    program.arguments = QStringList{QStringLiteral("harvest"), QStringLiteral("--json")} + arguments;
    program.environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program.environment.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));
    program.timeoutMs = 150000;
    const ProgramRun::Outcome ran = program.run();
    return {ran.finished, ran.exitCode, ran.outLines(), QString::fromUtf8(ran.err)};
}

void TestFollow::serveSite(TestHttpServer& server, const QString& otherHost, const QByteArray& robots) {
    // index → p1, p2 (twice, with a fragment), itself, script/mail/data links, a missing page, a
    // file, a picture without an extension, a private page and another host; p1 → p3 and back;
    // p3 → p4; p2 → a page that moves to the other host.
    server.route(QStringLiteral("/index.html"),
                 page(QStringLiteral("index"),
                      {QStringLiteral("p1.html"), QStringLiteral("p2.html#part"), QStringLiteral("p2.html"),
                       QStringLiteral("index.html"), QStringLiteral("javascript:go()"),
                       QStringLiteral("mailto:a@example.invalid"), QStringLiteral("data:text/html,x"),
                       QStringLiteral("missing.html"), QStringLiteral("archive"), QStringLiteral("photo"),
                       QStringLiteral("private/secret.html"), otherHost + QStringLiteral("/far.html")}));
    // The pages one link away take a while, so that several would load at once if allowed.
    auto slow = [](TestHttpResponse r) {
        r.delayMs = 300;
        return r;
    };
    server.route(
        QStringLiteral("/p1.html"),
        slow(page(QStringLiteral("p1"), {QStringLiteral("p3.html"), QStringLiteral("index.html#top")})));
    server.route(QStringLiteral("/p2.html"),
                 slow(page(QStringLiteral("p2"), {QStringLiteral("p1.html"), QStringLiteral("moves.html")})));
    server.route(QStringLiteral("/p3.html"), page(QStringLiteral("p3"), {QStringLiteral("p4.html")}));
    server.route(QStringLiteral("/p4.html"), page(QStringLiteral("p4"), {}));
    server.route(QStringLiteral("/private/secret.html"), slow(page(QStringLiteral("secret"), {})));
    server.route(QStringLiteral("/moves.html"),
                 TestHttpResponse::redirect(302, (otherHost + QStringLiteral("/near.html")).toUtf8()));
    server.route(QStringLiteral("/archive"),
                 TestHttpResponse::withType("application/zip", QByteArray(5000, 'z')));
    server.route(QStringLiteral("/photo"), TestHttpResponse::withType("image/png", png(10, 10)));
    if (robots == "404")
        server.route(QStringLiteral("/robots.txt"), TestHttpResponse::error(404));
    else if (!robots.isEmpty())
        server.route(QStringLiteral("/robots.txt"), TestHttpResponse::withType("text/plain", robots));
}

void TestFollow::following_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("robots");
    // The pages whose records come out, in order, as "name depth" (name: the file name).
    QTest::addColumn<QStringList>("pages");
    // Texts that standard error holds (empty: no failure line at all), and the exit status.
    QTest::addColumn<QStringList>("errors");
    QTest::addColumn<int>("exitCode");

    const QStringList missing{QStringLiteral("missing.html\tHTTP 404（リンク元: ")};
    QTest::newRow("not following") << QStringList{} << QByteArray() << QStringList{"index.html 0"}
                                   << QStringList{} << 0;
    // Once each, fragments and loops aside; no script, mail or data link; the file and the other
    // host not; the picture without an extension as a picture of the page that links it.
    QTest::newRow("one link away") << QStringList{"--follow", "1"} << QByteArray("404")
                                   << QStringList{"index.html 0", "p1.html 1", "p2.html 1", "photo 1",
                                                  "secret.html 1"}
                                   << missing << 1;
    QTest::newRow("two away, breadth first, the move to another host not taken")
        << QStringList{"--follow=2", "--parallel", "1"} << QByteArray()
        << QStringList{"index.html 0", "p1.html 1", "p2.html 1", "photo 1", "secret.html 1", "p3.html 2"}
        << missing << 1;
    QTest::newRow("two away, four at a time: the same")
        << QStringList{"--follow=2", "--parallel", "4"} << QByteArray()
        << QStringList{"index.html 0", "p1.html 1", "p2.html 1", "photo 1", "secret.html 1", "p3.html 2"}
        << missing << 1;
    QTest::newRow("three away") << QStringList{"--follow", "3", "--ignore-robots"} << QByteArray()
                                << QStringList{"index.html 0",  "p1.html 1", "p2.html 1", "photo 1",
                                               "secret.html 1", "p3.html 2", "p4.html 3"}
                                << missing << 1;
    // The other host's own robots.txt keeps near.html out, also when a redirect leads there.
    QTest::newRow("across hosts") << QStringList{"--follow", "2", "--span-hosts"} << QByteArray()
                                  << QStringList{"index.html 0",  "p1.html 1",  "p2.html 1", "photo 1",
                                                 "secret.html 1", "far.html 1", "p3.html 2"}
                                  << missing << 1;
    QTest::newRow("narrowed, capitals ignored")
        << QStringList{"--follow", "2", "--follow-match", "P1", "--follow-match=SECRET"} << QByteArray()
        << QStringList{"index.html 0", "p1.html 1", "secret.html 1"} << QStringList{} << 0;
    // robots.txt: longest match wins, Allow on a tie; our own group over "*".
    QTest::newRow("robots: disallowed, a longer allow wins")
        << QStringList{"--follow", "1"}
        << QByteArray("User-agent: *\nDisallow: /p\nAllow: /p1\nDisallow: /private/\n")
        << QStringList{"index.html 0", "p1.html 1"} << missing << 1;
    QTest::newRow("robots: our own group only")
        << QStringList{"--follow", "1"}
        << QByteArray("User-agent: *\nDisallow: /\n\nUser-agent: Nepirika\nDisallow: /p2\n")
        << QStringList{"index.html 0", "p1.html 1", "photo 1", "secret.html 1"} << missing << 1;
    QTest::newRow("robots: ignored") << QStringList{"--follow", "1", "--ignore-robots"}
                                     << QByteArray("User-agent: *\nDisallow: /\n")
                                     << QStringList{"index.html 0", "p1.html 1", "p2.html 1", "photo 1",
                                                    "secret.html 1"}
                                     << missing << 1;
    QByteArray garbage;
    for (int i = 0; i < 4000; ++i)
        garbage.append(char((i * 7919) % 251));
    QTest::newRow("robots: garbage allows all")
        << QStringList{"--follow", "1"} << garbage
        << QStringList{"index.html 0", "p1.html 1", "p2.html 1", "photo 1", "secret.html 1"} << missing << 1;
    QTest::newRow("robots: too large allows all")
        << QStringList{"--follow", "1"}
        << QByteArray("User-agent: *\nDisallow: /\n") + QByteArray(600 * 1024, '#')
        << QStringList{"index.html 0", "p1.html 1", "p2.html 1", "photo 1", "secret.html 1"} << missing << 1;
    QTest::newRow("at most three pages")
        << QStringList{"--follow", "2", "--max-pages", "3"} << QByteArray()
        << QStringList{"index.html 0", "p1.html 1", "p2.html 1"}
        << QStringList{QStringLiteral("missing.html\tページ数の上限 3 に達しました")} << 1;
    QTest::newRow("without scripts") << QStringList{"--follow", "1", "--no-scripts", "--delay", "0.1"}
                                     << QByteArray()
                                     << QStringList{"index.html 0", "p1.html 1", "p2.html 1", "photo 1",
                                                    "secret.html 1"}
                                     << missing << 1;
}

void TestFollow::following() {
    QFETCH(QStringList, options);
    QFETCH(QByteArray, robots);
    QFETCH(QStringList, pages);
    QFETCH(QStringList, errors);
    QFETCH(int, exitCode);

    TestHttpServer site;
    QVERIFY(site.start());
    const QString other = m_other.urlText(QString());
    serveSite(site, other, robots);
    const Run run = harvest(options + QStringList{site.urlText(QStringLiteral("/index.html"))});
    QVERIFY2(run.finished, qPrintable(run.err));

    // The pages in the order their records came, each with its depth.
    QStringList seen;
    for (const QString& line : run.out) {
        const QJsonObject record = QJsonDocument::fromJson(line.toUtf8()).object();
        // A record of a page and the picture that page gave for a link have their own depth.
        const QString page =
            record.value("via").toString() == u"a@href" && record.value("kind").toString() == u"image"
                ? record.value("url").toString()
                : record.value("source").toString();
        const QString name = QUrl(page).fileName() + ' ' + QString::number(record.value("depth").toInt());
        if (seen.isEmpty() || seen.last() != name)
            seen.append(name);
    }
    seen.removeIf([](const QString& s) { return s.startsWith(QLatin1String("robots.txt")); });
    if (seen != pages)
        qWarning().noquote() << seen.join(QStringLiteral(", ")) << run.err;
    QCOMPARE(seen, pages);
    for (const QString& text : errors)
        QVERIFY2(run.err.contains(text), qPrintable(run.err));
    if (errors.isEmpty())
        QVERIFY2(!run.err.contains(QLatin1Char('\t')), qPrintable(run.err));
    QCOMPARE(run.exitCode, exitCode);
    // Every page once; a robots.txt once a host; a file's link not harvested as a page.
    for (const char* path : {"/index.html", "/p1.html", "/p2.html", "/p3.html", "/robots.txt"})
        QVERIFY2(site.requestsFor(QString::fromLatin1(path)).size() <= 1, path);
    QVERIFY2(run.err.indexOf(QStringLiteral("archive")) < 0, qPrintable(run.err));
    // Without scripts only documents are asked for: no more than two of the one host at once.
    if (options.contains(QStringLiteral("--no-scripts")))
        QVERIFY2(site.maxConcurrent() <= 2, qPrintable(QString::number(site.maxConcurrent())));
    if (!options.contains(QStringLiteral("--follow")) &&
        !options.join(' ').contains(QStringLiteral("--follow=")))
        QCOMPARE(site.requestsFor(QStringLiteral("/robots.txt")).size(), 0);
}

void TestFollow::linkedImages_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("page");
    // The pictures printed, in order, each with its via when it is found behind a link.
    QTest::addColumn<QStringList>("pictures");

    const QStringList all{"/full/1.jpg a@href", "/th/1.png",  "/full/2.webp?v=1 a@href",
                          "/th/2.png",          "/th/2b.png", "/show?id=3 a@href"};
    QTest::newRow("each linked file is a picture too") << QStringList{} << "/direct.html" << all;
    QTest::newRow("without scripts") << QStringList{"--no-scripts"} << "/direct.html" << all;
    // Without sizes, the linked file wins over its thumbnail and the thumbnail's own candidates.
    QTest::newRow("largest, not probed")
        << QStringList{"--largest"} << "/direct.html"
        << QStringList{"/full/1.jpg a@href", "/full/2.webp?v=1 a@href", "/show?id=3 a@href"};
    // With sizes, the largest of each set, whichever it is.
    QTest::newRow("largest, probed") << QStringList{"--largest", "--probe"} << "/direct.html"
                                     << QStringList{"/full/1.jpg a@href", "/th/2b.png", "/show?id=3 a@href"};
    // A thumbnail that links to a page: that page's picture stands for it.
    QTest::newRow("detail pages, largest, probed")
        << QStringList{"--follow", "1", "--largest", "--probe"} << "/index.html"
        << QStringList{"/full/d1.png", "/full/d2.png"};
    QTest::newRow("detail pages, all")
        << QStringList{"--follow", "1", "--parallel", "1"} << "/index.html"
        << QStringList{"/th/d1.png", "/th/d2.png", "/full/d1.png", "/full/d2.png"};
}

void TestFollow::linkedImages() {
    QFETCH(QStringList, options);
    QFETCH(QString, page);
    QFETCH(QStringList, pictures);

    const Run run = harvest(options + QStringList{m_gallery.urlText(page)});
    QVERIFY2(run.finished, qPrintable(run.err));
    QCOMPARE(run.exitCode, 0);
    QStringList seen;
    QHash<QString, int> sets;
    bool linkStaysAPage = false;
    for (const QString& line : run.out) {
        const QJsonObject record = QJsonDocument::fromJson(line.toUtf8()).object();
        const QString url = record.value("url").toString();
        const QString path = m_gallery.url(QStringLiteral("/"))
                                 .resolved(QUrl(url))
                                 .toString(QUrl::RemoveScheme | QUrl::RemoveAuthority);
        if (record.value("kind").toString() == u"page" && path.startsWith(QLatin1String("/full/1.jpg")))
            linkStaysAPage = true;
        if (record.value("kind").toString() != u"image")
            continue;
        const QString via = record.value("via").toString();
        seen.append(via == u"a@href" ? path + QStringLiteral(" a@href") : path);
        sets.insert(path, record.value("set").toInt());
    }
    QCOMPARE(seen, pictures);
    if (page == u"/direct.html") {
        QVERIFY(linkStaysAPage);
        if (sets.contains(QStringLiteral("/th/1.png"))) {
            // The linked file joins the set of the thumbnail it wraps; a link around nothing has none.
            QVERIFY(sets.value(QStringLiteral("/full/1.jpg")) > 0);
            QCOMPARE(sets.value(QStringLiteral("/full/1.jpg")), sets.value(QStringLiteral("/th/1.png")));
            QCOMPARE(sets.value(QStringLiteral("/full/2.webp?v=1")),
                     sets.value(QStringLiteral("/th/2b.png")));
            QVERIFY(sets.value(QStringLiteral("/full/1.jpg")) != sets.value(QStringLiteral("/th/2.png")));
            QCOMPARE(sets.value(QStringLiteral("/show?id=3")), 0);
        }
    }
}

QTEST_GUILESS_MAIN(TestFollow)
#include "tst_follow.moc"
