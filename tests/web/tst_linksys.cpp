// The page harvester with the real engine: pages served on 127.0.0.1, harvested one after another.

#include "PageScript.h"
#include "TWebBrowser.h"
#include "TestHttpServer.h"
#include "WebEngineSetup.h"
#include "tlinksys.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QSignalSpy>
#include <QStringEncoder>
#include <QTcpServer>
#include <QTest>
#include <QWebEnginePage>

#include <csignal>
#include <functional>
#include <memory>
#include <set>

namespace {

// One analysis in one given browser (the harvester connects itself to it).
struct Harvest {
    TWebBrowser browser;
    std::unique_ptr<tlinksys> harvester = std::make_unique<tlinksys>(&browser);
    struct Page {
        QString address;
        bool ok;
        QString reason;
        qsizetype recordsAfter;
    };
    QList<Page> pages;
    QList<int> startedIndexes;
    QList<bool> finishes;

    Harvest() { watch(); }
    // Up to parallel pages at a time, on the profile of browser.
    explicit Harvest(int parallel) {
        harvester = std::make_unique<tlinksys>(tlinksys::browsersOn(browser.profile()), parallel);
        watch();
    }
    void watch() {
        QObject::connect(harvester.get(), &tlinksys::pageStarted, harvester.get(),
                         [this](int index, int, const QString&) { startedIndexes.append(index); });
        QObject::connect(harvester.get(), &tlinksys::pageFinished, harvester.get(),
                         [this](const QString& address, bool ok, const QString& reason) {
                             pages.append({address, ok, reason, harvester->List.Count()});
                         });
        QObject::connect(harvester.get(), &tlinksys::finished, harvester.get(),
                         [this](bool cancelled) { finishes.append(cancelled); });
    }
    // Runs the analysis to its end.
    bool run(const QStringList& lines, int timeoutMs = 30000) {
        harvester->LoadAll(lines);
        if (harvester->Busy != 1)
            return false;
        QElapsedTimer clock;
        clock.start();
        while (finishes.isEmpty() && clock.elapsed() < timeoutMs)
            QTest::qWait(20);
        return !finishes.isEmpty();
    }
    // Every browser the harvester loads into.
    QList<TWebBrowser*> browsers() const {
        QList<TWebBrowser*> all = harvester->findChildren<TWebBrowser*>();
        if (all.isEmpty())
            all.append(const_cast<TWebBrowser*>(&browser));
        return all;
    }
    // "kind url source" for each record, then "address ok reason" for each page, in order.
    QStringList outcome() const {
        QStringList out;
        for (const tURLData& r : harvester->List.records())
            out.append(tURLData::kindName(r.Kind) + QLatin1Char(' ') + r.URL + QLatin1Char(' ') + r.Source);
        for (const Page& p : pages)
            out.append(QStringLiteral("%1 %2 %3").arg(p.address).arg(p.ok).arg(p.reason));
        return out;
    }
    // "kind url" for each record, list order.
    QStringList records() const {
        QStringList out;
        for (const tURLData& r : harvester->List.records())
            out.append(tURLData::kindName(r.Kind) + QLatin1Char(' ') + r.URL);
        return out;
    }
};

} // namespace

class TestLinkSys : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void pageWithNoLinksAddsNothing();
    void recordsInHarvestOrderWithDuplicatesSkippedPerKind();
    void addressesResolvedAsTheEngineDoes();
    void scriptAndMailLinks();
    void addressesAreComparedExactly();
    void emptySourcesAddNothingAndThePageIsNotChanged();
    void scriptGeneratedLinks();
    void shiftJisPage();
    void failedPagesAreReportedAndTheRestGoesOn();
    void invalidLineIsAFailure();
    void pageThatNeverCompletes_data();
    void pageThatNeverCompletes();
    void addressTheEngineDeclines();
    void scriptThatNeverEnds_data();
    void scriptThatNeverEnds();
    void completionWhileIdleOrCollectingChangesNothing();
    void cancelMidAnalysis();
    void destroyedWhileLoading();
    void browserGoneMidAnalysis();
    void rudePageStillHarvests();
    void pageThatMovesOnByItself();
    void samePageWithAFragment();
    void abandonedLoadOfThePageBeforeIsNotTheNextPages();
    void parallelRunsGiveTheSameOutcome_data();
    void parallelRunsGiveTheSameOutcome();
    void cancelDuringAParallelRun();
    void noScriptMode_data();
    void noScriptMode();
    void aPageThatMovesAndFailsSaysWhere_data();
    void aPageThatMovesAndFailsSaysWhere();

private:
    // Kills the renderer of the page that shows path, as a crash would end it. The engine may ask
    // for the page's script before the program hears that the page is shown: it tries again.
    void killRendererShowing(const QString& path, int tries);
    QStringList parallelFixture();
    QStringList m_sequentialOutcome;
    // The browsers of the run under way, for the crashing page.
    std::function<QList<TWebBrowser*>()> m_crashTarget;

    TestHttpServer m_server;
    QString u(const QString& path) const { return m_server.urlText(path); }
};

void TestLinkSys::initTestCase() {
    QVERIFY(m_server.start());
}

void TestLinkSys::pageWithNoLinksAddsNothing() {
    m_server.route(QStringLiteral("/empty.html"), TestHttpResponse::html("<p>nothing to see</p>"));
    Harvest h;
    QVERIFY(h.run({u(QStringLiteral("/empty.html"))}));
    QCOMPARE(h.harvester->List.Count(), 0);
    QCOMPARE(h.pages.size(), 1);
    QVERIFY(h.pages.first().ok);
    QCOMPARE(h.finishes, QList<bool>{false});
    QCOMPARE(h.harvester->Busy, 0);
}

void TestLinkSys::recordsInHarvestOrderWithDuplicatesSkippedPerKind() {
    m_server.route(QStringLiteral("/p1.html"), TestHttpResponse::html(R"HTML(<!doctype html>
<img src="shared.png">
<a href="a.html">a</a>
<embed src="clip.swf">
<a href="shared.png">the picture as a link</a>
<a href="javascript:go()">go</a>
<a href="a.html">a again</a>
<img src="shared.png"><img src="only1.png">
<a href="b.html">b</a>
)HTML"));
    m_server.route(QStringLiteral("/p2.html"), TestHttpResponse::html(R"HTML(<!doctype html>
<img src="shared.png"><img src="only2.png">
<a href="b.html">b</a><a href="c.html">c</a><a href="javascript:go()">go</a>
<embed src="clip.swf"><embed src="shared.png">
)HTML"));
    Harvest h;
    QVERIFY(h.run({u("/p1.html"), u("/p2.html")}));
    const QStringList expected{
        "page " + u("/a.html"),      "page " + u("/shared.png"),  QStringLiteral("script javascript:go()"),
        "page " + u("/b.html"),      "image " + u("/shared.png"), "image " + u("/only1.png"),
        "embed " + u("/clip.swf"),   "image " + u("/only2.png"),  "page " + u("/c.html"),
        "embed " + u("/shared.png"),
    };
    // Per page: links, then images, then embeds.
    const QStringList p2InOrder{"page " + u("/c.html"), "image " + u("/only2.png"),
                                "embed " + u("/shared.png")};
    QStringList got = h.records();
    QCOMPARE(got.mid(0, 7), expected.mid(0, 7));
    QCOMPARE(got.mid(7), p2InOrder);
    QCOMPARE(h.pages.size(), 2);
    QVERIFY(h.pages.at(0).ok && h.pages.at(1).ok);
    QCOMPARE(h.pages.at(0).recordsAfter, 7);
    QCOMPARE(h.startedIndexes, (QList<int>{1, 2}));
    // Where each record was first found, and what every record carries.
    const auto& records = h.harvester->List.records();
    for (int i = 0; i < 7; ++i)
        QCOMPARE(records.at(size_t(i)).Source, u("/p1.html"));
    for (size_t i = 7; i < records.size(); ++i)
        QCOMPARE(records.at(i).Source, u("/p2.html"));
    for (const tURLData& r : records) {
        QCOMPARE(r.StatusText, QStringLiteral("取得不能"));
        QCOMPARE(r.Level, 0);
    }
    QVERIFY(h.harvester->FindURL(u("/shared.png"), tURLData::KindImage));
    QVERIFY(h.harvester->FindURL(u("/shared.png"), tURLData::KindPage));
    QVERIFY(!h.harvester->FindURL(u("/only1.png"), tURLData::KindPage));
}

void TestLinkSys::addressesResolvedAsTheEngineDoes() {
    m_server.route(QStringLiteral("/dir/sub/page.html"), TestHttpResponse::html(R"HTML(<!doctype html>
<a href="/root.html">root</a>
<a href="../up.html">up</a>
<a href="./same/../here.html">here</a>
<a href="">self</a>
<a href="https://example.invalid/x?y=1#z">other host</a>
<a href="ftp://files.example.invalid/pub/f.zip">ftp</a>
<a href="news:comp.lang.c">news</a>
<a href="HTTP://Example.Invalid/Case">case</a>
<img src="img/a.gif"><img src="/img/b.gif">
)HTML"));
    m_server.route(QStringLiteral("/based.html"), TestHttpResponse::html(R"HTML(<!doctype html>
<head><base href="/elsewhere/deep/"></head>
<a href="x.html">x</a><a href="../y.html">y</a><img src="i.png">
)HTML"));
    m_server.route(QStringLiteral("/moved"), TestHttpResponse::redirect(302, "/dir/target.html"));
    m_server.route(QStringLiteral("/dir/target.html"),
                   TestHttpResponse::html(R"HTML(<a href="t.html">t</a>)HTML"));
    Harvest h;
    QVERIFY(h.run({u("/dir/sub/page.html"), u("/based.html"), u("/moved")}));
    QCOMPARE(h.records(), (QStringList{
                              "page " + u("/root.html"),
                              "page " + u("/dir/up.html"),
                              "page " + u("/dir/sub/here.html"),
                              "page " + u("/dir/sub/page.html"),
                              QStringLiteral("page https://example.invalid/x?y=1#z"),
                              QStringLiteral("page ftp://files.example.invalid/pub/f.zip"),
                              QStringLiteral("page news:comp.lang.c"),
                              QStringLiteral("page http://example.invalid/Case"),
                              "image " + u("/dir/sub/img/a.gif"),
                              "image " + u("/img/b.gif"),
                              "page " + u("/elsewhere/deep/x.html"),
                              "page " + u("/elsewhere/y.html"),
                              "image " + u("/elsewhere/deep/i.png"),
                              "page " + u("/dir/t.html"),
                          }));
    // After a redirect the records name the page where they were really found.
    QCOMPARE(h.harvester->List.records().back().Source, u("/dir/target.html"));
}

void TestLinkSys::scriptAndMailLinks() {
    m_server.route(QStringLiteral("/links.html"), TestHttpResponse::html(R"HTML(<!doctype html>
<a href="javascript:void(0)">1</a>
<a href="JavaScript:alert('x')">2</a>
<a href="mailto:someone@example.invalid">3</a>
<a href="MAILTO:Other@example.invalid">4</a>
<a href="mailto.html">5</a>
<a href="/x/mailto/list.html">6</a>
<a href="http://example.invalid/?to=mailto:x">7</a>
)HTML"));
    Harvest h;
    QVERIFY(h.run({u("/links.html")}));
    QCOMPARE(h.records(), (QStringList{
                              QStringLiteral("script javascript:void(0)"),
                              QStringLiteral("script javascript:alert('x')"),
                              "page " + u("/mailto.html"),
                              "page " + u("/x/mailto/list.html"),
                              QStringLiteral("page http://example.invalid/?to=mailto:x"),
                          }));
}

void TestLinkSys::addressesAreComparedExactly() {
    // Letter case in the path, a trailing slash, a query or a fragment make another address.
    m_server.route(QStringLiteral("/exact.html"), TestHttpResponse::html(R"HTML(
<a href="/A.html">1</a><a href="/a.html">2</a><a href="/dir">3</a><a href="/dir/">4</a>
<a href="/a.html?">5</a><a href="/a.html#top">6</a><a href="/a.html">again</a>)HTML"));
    Harvest h;
    QVERIFY(h.run({u("/exact.html")}));
    QCOMPARE(h.records(),
             (QStringList{"page " + u("/A.html"), "page " + u("/a.html"), "page " + u("/dir"),
                          "page " + u("/dir/"), "page " + u("/a.html?"), "page " + u("/a.html#top")}));
}

void TestLinkSys::emptySourcesAddNothingAndThePageIsNotChanged() {
    m_server.route(QStringLiteral("/img/page.html"), TestHttpResponse::html(R"HTML(<!doctype html>
<img id=a src=""><img id=b><img id=c src="  "><img id=d src="pic.png">
<embed id=e><embed id=f src=""><embed id=g src="../m.swf">
)HTML"));
    Harvest h;
    QVERIFY(h.run({u("/img/page.html")}));
    QCOMPARE(h.records(), (QStringList{"image " + u("/img/pic.png"), "embed " + u("/m.swf")}));

    // The harvester reads the page; the page's own attributes stay as they were written.
    const QVariant value = evaluateInPage(
        h.browser.page(), QStringLiteral("['a','b','c','d','e','f','g'].map(function (id) {"
                                         " var v = document.getElementById(id).getAttribute('src');"
                                         " return v === null ? '(none)' : v; }).join('|')"));
    QCOMPARE(value.toString(), QStringLiteral("|(none)|  |pic.png|(none)||../m.swf"));
}

void TestLinkSys::scriptGeneratedLinks() {
    m_server.route(QStringLiteral("/gen.html"), TestHttpResponse::html(R"HTML(<!doctype html>
<a href="static.html">s</a>
<script>document.write('<a href="written.html">w</a>');</script>
<div id=box></div>
<script>
var a = document.createElement('a'); a.href = 'created.html'; document.getElementById('box').appendChild(a);
window.addEventListener('load', function () {
  var b = document.createElement('a'); b.href = 'onload.html'; document.body.appendChild(b);
  var i = new Image(); i.src = 'onload.png'; document.body.appendChild(i);
});
</script>
)HTML"));
    Harvest h;
    QVERIFY(h.run({u("/gen.html")}));
    QCOMPARE(h.records(), (QStringList{"page " + u("/static.html"), "page " + u("/written.html"),
                                       "page " + u("/created.html"), "page " + u("/onload.html"),
                                       "image " + u("/onload.png")}));
}

void TestLinkSys::shiftJisPage() {
    const QString html = QStringLiteral("<html><head><title>日本語</title></head><body>"
                                        "<a href=\"日本語.html\">ページ</a>"
                                        "<a href=\"検索?q=東京\">検索</a>"
                                        "<img src=\"画像/写真.jpg\">"
                                        "</body></html>");
    QStringEncoder sjis("Shift_JIS");
    QVERIFY(sjis.isValid());
    const QByteArray body = sjis.encode(html);
    m_server.route(QStringLiteral("/sjis.html"),
                   TestHttpResponse::withType("text/html; charset=Shift_JIS", body));
    Harvest h;
    QVERIFY(h.run({u("/sjis.html")}));
    // Paths are percent-encoded UTF-8; the query keeps the document's encoding, as browsers do.
    QCOMPARE(h.records(), (QStringList{
                              "page " + u("/%E6%97%A5%E6%9C%AC%E8%AA%9E.html"),
                              "page " + u("/%E6%A4%9C%E7%B4%A2?q=%93%8C%8B%9E"),
                              "image " + u("/%E7%94%BB%E5%83%8F/%E5%86%99%E7%9C%9F.jpg"),
                          }));
}

void TestLinkSys::failedPagesAreReportedAndTheRestGoesOn() {
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const QString closedPort = QStringLiteral("http://127.0.0.1:%1/gone.html").arg(probe.serverPort());
    probe.close();

    m_server.route(QStringLiteral("/ok1.html"),
                   TestHttpResponse::html(R"HTML(<a href="one.html">1</a>)HTML"));
    m_server.route(QStringLiteral("/ok2.html"),
                   TestHttpResponse::html(R"HTML(<a href="two.html">2</a>)HTML"));
    m_server.route(QStringLiteral("/missing.html"),
                   TestHttpResponse::error(404, R"HTML(<h1>Not found</h1><a href="home.html">home</a>)HTML"));
    m_server.route(QStringLiteral("/bare404"), TestHttpResponse::error(404, QByteArray()));
    Harvest h;
    QVERIFY(h.run({u("/ok1.html"), u("/missing.html"), closedPort, u("/bare404"), u("/ok2.html")}));
    QCOMPARE(h.records(), (QStringList{"page " + u("/one.html"), "page " + u("/two.html")}));
    QCOMPARE(h.pages.size(), 5);
    QVERIFY(h.pages.at(0).ok);
    QCOMPARE(h.pages.at(1).address, u("/missing.html"));
    QVERIFY(!h.pages.at(1).ok);
    QCOMPARE(h.pages.at(1).reason, QStringLiteral("HTTP 404"));
    QCOMPARE(h.pages.at(2).address, closedPort);
    QVERIFY(!h.pages.at(2).ok);
    QCOMPARE(h.pages.at(2).reason, QStringLiteral("接続を拒否されました"));
    QVERIFY(!h.pages.at(3).ok);
    QCOMPARE(h.pages.at(3).reason, QStringLiteral("HTTP 404"));
    QVERIFY(h.pages.at(4).ok);
    QCOMPARE(h.finishes, QList<bool>{false});
}

void TestLinkSys::invalidLineIsAFailure() {
    m_server.route(QStringLiteral("/fine.html"), TestHttpResponse::html(R"HTML(<a href="f.html">f</a>)HTML"));
    Harvest h;
    // Blank lines and surrounding blanks follow the input box's rules.
    QVERIFY(h.run({QStringLiteral(":23"), QStringLiteral("a b c"), QString(), QStringLiteral("  \t "),
                   QStringLiteral("  ") + u("/fine.html") + QStringLiteral("　"),
                   QStringLiteral("javascript:location='/fine.html?js'"),
                   QStringLiteral("mailto:x@example.invalid")}));
    // ":23" is refused as an address without its host, with the rule's own reason.
    QCOMPARE(h.pages.size(), 5);
    const auto refused = h.pages.takeFirst();
    QVERIFY(!refused.ok);
    QCOMPARE(refused.reason, QStringLiteral("アドレスとして読めません（「:」の前にホスト名がありません）"));
    QCOMPARE(h.pages.size(), 4);
    QCOMPARE(h.pages.at(0).address, QStringLiteral("a b c"));
    QVERIFY(!h.pages.at(0).ok);
    QCOMPARE(h.pages.at(0).reason, QStringLiteral("アドレスとして読めません"));
    QVERIFY(h.pages.at(1).ok);
    QCOMPARE(h.pages.at(1).address, u("/fine.html"));
    for (int i : {2, 3}) {
        QVERIFY(!h.pages.at(i).ok);
        QVERIFY2(h.pages.at(i).reason.startsWith(QStringLiteral("ページのアドレスではありません")),
                 qPrintable(h.pages.at(i).reason));
    }
    QVERIFY(m_server.requestsFor(QStringLiteral("/fine.html?js")).isEmpty());
    QCOMPARE(h.records(), QStringList{"page " + u("/f.html")});
}

void TestLinkSys::pageThatNeverCompletes_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("partial");
    QTest::newRow("no answer at all") << QStringLiteral("/hang") << false;
    QTest::newRow("body trickles") << QStringLiteral("/trickle.html") << true;
}

void TestLinkSys::pageThatNeverCompletes() {
    QFETCH(QString, path);
    QFETCH(bool, partial);
    TestHttpResponse hang;
    hang.hang = true;
    m_server.route(QStringLiteral("/hang"), hang);
    TestHttpResponse trickle =
        TestHttpResponse::html("<!doctype html><a href=\"early.html\">e</a>" + QByteArray(200000, ' ') +
                               "<a href=\"late.html\">l</a>");
    trickle.bytesPerSecond = 2000;
    m_server.route(QStringLiteral("/trickle.html"), trickle);
    m_server.route(QStringLiteral("/next.html"), TestHttpResponse::html(R"HTML(<a href="n.html">n</a>)HTML"));

    Harvest h;
    h.harvester->setPageTimeout(1500);
    QElapsedTimer clock;
    clock.start();
    // The page before makes sure that its document is not taken for the stuck one.
    QVERIFY(h.run({u("/next.html"), u(path), u("/next.html")}));
    QVERIFY(clock.elapsed() < 15000);
    QCOMPARE(h.pages.size(), 3);
    QVERIFY(h.pages.at(0).ok);
    QVERIFY(!h.pages.at(1).ok);
    QVERIFY2(h.pages.at(1).reason.startsWith(QStringLiteral("時間切れ")), qPrintable(h.pages.at(1).reason));
    QVERIFY(h.pages.at(2).ok);
    if (partial)
        QCOMPARE(h.records(), (QStringList{"page " + u("/n.html"), "page " + u("/early.html")}));
    else
        QCOMPARE(h.records(), QStringList{"page " + u("/n.html")});
}

// The engine starts no load for some addresses and says nothing: when the time is up, the reason
// says so instead of blaming a server that was never asked.
void TestLinkSys::addressTheEngineDeclines() {
    m_server.route(QStringLiteral("/next.html"), TestHttpResponse::html(R"HTML(<a href="n.html">n</a>)HTML"));
    Harvest h;
    h.harvester->setPageTimeout(1500);
    QVERIFY(h.run({u("/next.html"), u("/nul%00byte.html"), u("/next.html")}));
    QCOMPARE(h.pages.size(), 3);
    QVERIFY(h.pages.at(0).ok);
    QVERIFY(!h.pages.at(1).ok);
    QCOMPARE(h.pages.at(1).reason, QStringLiteral("ブラウザがこのアドレスを読み込みませんでした"));
    QVERIFY(h.pages.at(2).ok);
    QCOMPARE(h.records(), QStringList{"page " + u("/n.html")});
}

void TestLinkSys::scriptThatNeverEnds_data() {
    QTest::addColumn<QByteArray>("page");
    // Spins while the page is parsed: the load never completes, and the page bound stops it.
    QTest::newRow("while parsing") << QByteArray(
        R"HTML(<a href="before.html">b</a><script>while (true) {}</script>)HTML");
    // Spins once the page has loaded: collecting the addresses is what meets the bound.
    QTest::newRow("after load") << QByteArray(R"HTML(<a href="before.html">b</a>
<script>window.addEventListener('load', function () { setTimeout(function () { for (;;) {} }, 0); });</script>)HTML");
}

void TestLinkSys::scriptThatNeverEnds() {
    QFETCH(QByteArray, page);
    m_server.route(QStringLiteral("/spin.html"), TestHttpResponse::html(page));
    m_server.route(QStringLiteral("/after.html"),
                   TestHttpResponse::html(R"HTML(<a href="a.html">a</a>)HTML"));
    Harvest h;
    h.harvester->setPageTimeout(1500);
    h.harvester->setCollectTimeout(1000);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(h.run({u("/spin.html"), u("/after.html")}));
    QVERIFY(clock.elapsed() < 15000);
    QCOMPARE(h.pages.size(), 2);
    QVERIFY(!h.pages.at(0).ok);
    QVERIFY2(h.pages.at(0).reason.startsWith(QStringLiteral("時間切れ")), qPrintable(h.pages.at(0).reason));
    QVERIFY2(h.pages.at(1).ok, qPrintable(h.pages.at(1).reason));
    QCOMPARE(h.records(), QStringList{"page " + u("/a.html")});
}

void TestLinkSys::completionWhileIdleOrCollectingChangesNothing() {
    m_server.route(QStringLiteral("/idle.html"), TestHttpResponse::html(R"HTML(<a href="i.html">i</a>)HTML"));
    Harvest h;
    // Idle: nothing happens, not even for a successful completion.
    h.harvester->HarvestDocument(&h.browser, true, {});
    h.harvester->HarvestDocument(&h.browser, false, QStringLiteral("x"));
    QTest::qWait(100);
    QCOMPARE(h.harvester->Busy, 0);
    QVERIFY(h.pages.isEmpty());
    QVERIFY(h.finishes.isEmpty());

    // Only the first completion after a navigation counts: a late failure report (a frame, a
    // page-initiated load) cannot turn a harvested page into a failed one.
    QObject::connect(&h.browser, &TWebBrowser::DocumentComplete, h.harvester.get(),
                     [&h]() { h.harvester->HarvestDocument(&h.browser, false, QStringLiteral("late")); });
    QVERIFY(h.run({u("/idle.html")}));
    QCOMPARE(h.pages.size(), 1);
    QVERIFY(h.pages.first().ok);
    QCOMPARE(h.records(), QStringList{"page " + u("/i.html")});

    h.browser.Navigate(m_server.url(QStringLiteral("/idle.html")));
    QTest::qWait(500);
    QCOMPARE(h.pages.size(), 1);
    QCOMPARE(h.harvester->List.Count(), 1);
    QCOMPARE(h.finishes.size(), 1);
}

void TestLinkSys::cancelMidAnalysis() {
    TestHttpResponse hang;
    hang.hang = true;
    m_server.route(QStringLiteral("/stuck"), hang);
    m_server.route(QStringLiteral("/c1.html"), TestHttpResponse::html(R"HTML(<a href="one.html">1</a>)HTML"));
    m_server.route(QStringLiteral("/c3.html"),
                   TestHttpResponse::html(R"HTML(<a href="three.html">3</a>)HTML"));
    Harvest h;
    QObject::connect(h.harvester.get(), &tlinksys::pageStarted, h.harvester.get(), [&h](int index) {
        if (index == 2)
            QTimer::singleShot(300, h.harvester.get(), [&h]() { h.harvester->Cancel(); });
    });
    QVERIFY(h.run({u("/c1.html"), u("/stuck"), u("/c3.html")}));
    QCOMPARE(h.finishes, QList<bool>{true});
    QCOMPARE(h.startedIndexes, (QList<int>{1, 2}));
    QCOMPARE(h.harvester->Busy, 0);
    QCOMPARE(h.records(), QStringList{"page " + u("/one.html")});
    QTest::qWait(300);
    QCOMPARE(h.finishes.size(), 1);
    QVERIFY(m_server.requestsFor(QStringLiteral("/c3.html")).isEmpty());

    // The same harvester takes a new analysis after a cancel.
    h.finishes.clear();
    QVERIFY(h.run({u("/c3.html")}));
    QCOMPARE(h.finishes, QList<bool>{false});
    QCOMPARE(h.records(), (QStringList{"page " + u("/one.html"), "page " + u("/three.html")}));
}

void TestLinkSys::destroyedWhileLoading() {
    m_server.route(QStringLiteral("/slow.html"), [](const TestHttpRequest&) {
        TestHttpResponse r = TestHttpResponse::html(R"HTML(<a href="s.html">s</a>)HTML");
        r.delayMs = 400;
        return r;
    });
    m_server.route(QStringLiteral("/spin2.html"),
                   TestHttpResponse::html(R"HTML(<script>window.addEventListener('load', function () {
setTimeout(function () { for (;;) {} }, 0); });</script>)HTML"));
    Harvest h;
    // Gone while the page loads.
    h.harvester->LoadAll({u("/slow.html")});
    QTest::qWait(100);
    h.harvester.reset();
    QTest::qWait(800);
    // Gone while the addresses are being collected from a page whose script never ends.
    h.harvester = std::make_unique<tlinksys>(&h.browser);
    h.harvester->setCollectTimeout(500);
    h.watch();
    QSignalSpy collecting(&h.browser, &TWebBrowser::DocumentComplete);
    h.harvester->LoadAll({u("/spin2.html")});
    QVERIFY(collecting.wait(10000));
    h.harvester.reset();
    QTest::qWait(1200);
    // The browser is still usable.
    h.harvester = std::make_unique<tlinksys>(&h.browser);
    h.watch();
    QVERIFY(h.run({u("/slow.html")}));
    QCOMPARE(h.records(), QStringList{"page " + u("/s.html")});
}

void TestLinkSys::browserGoneMidAnalysis() {
    TestHttpResponse hang;
    hang.hang = true;
    m_server.route(QStringLiteral("/stuck2"), hang);
    m_server.route(QStringLiteral("/g1.html"), TestHttpResponse::html(R"HTML(<a href="g.html">g</a>)HTML"));
    auto browser = std::make_unique<TWebBrowser>();
    tlinksys harvester(browser.get());
    QSignalSpy finished(&harvester, &tlinksys::finished);
    QSignalSpy started(&harvester, &tlinksys::pageStarted);
    harvester.LoadAll({u("/g1.html"), u("/stuck2"), u("/g1.html")});
    QTRY_COMPARE(started.size(), 2);
    browser.reset();
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.first().at(0).toBool(), true);
    QCOMPARE(harvester.Busy, 0);
    QCOMPARE(harvester.List.Count(), 1);
    QTest::qWait(200);
    QCOMPARE(started.size(), 2);
}

void TestLinkSys::rudePageStillHarvests() {
    m_server.route(QStringLiteral("/opened.html"), TestHttpResponse::html("<p>opened</p>"));
    m_server.route(QStringLiteral("/rude2.html"), TestHttpResponse::html(R"HTML(<!doctype html>
<a href="kept.html">k</a>
<script>
window.open('/opened.html', '_blank');
alert('look at me');
location = 'file:///etc/passwd';
</script>)HTML"));
    Harvest h;
    QVERIFY(h.run({u("/rude2.html")}));
    QVERIFY(h.pages.first().ok);
    QCOMPARE(h.records(), QStringList{"page " + u("/kept.html")});
    QTest::qWait(300);
    QVERIFY(m_server.requestsFor(QStringLiteral("/opened.html")).isEmpty());
    QCOMPARE(h.browser.LocationURL(), m_server.url(QStringLiteral("/rude2.html")));
}

void TestLinkSys::pageThatMovesOnByItself() {
    m_server.route(
        QStringLiteral("/jump.html"),
        TestHttpResponse::html(
            R"HTML(<script>location.replace('landing.html');</script><a href="old.html">o</a>)HTML"));
    m_server.route(QStringLiteral("/landing.html"),
                   TestHttpResponse::html(R"HTML(<a href="land.html">l</a>)HTML"));
    m_server.route(
        QStringLiteral("/refresh.html"),
        TestHttpResponse::html(
            R"HTML(<meta http-equiv="refresh" content="0; url=landing.html"><a href="before-refresh.html">b</a>)HTML"));
    Harvest h;
    QVERIFY(h.run({u("/jump.html"), u("/refresh.html")}));
    QCOMPARE(h.pages.size(), 2);
    QVERIFY(h.pages.at(0).ok && h.pages.at(1).ok);
    // A script that moves on at once: the page it lands on is harvested, and named as the source.
    // A timed refresh: the page as it completed, before the refresh.
    QCOMPARE(h.records(), (QStringList{"page " + u("/land.html"), "page " + u("/before-refresh.html")}));
    QCOMPARE(h.harvester->List.records().front().Source, u("/landing.html"));
}

void TestLinkSys::aPageThatMovesAndFailsSaysWhere_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("move"); // the page's script; "302": a redirect; empty: an error
    QTest::addColumn<QString>("reason");
    const QString there =
        QStringLiteral("https://127.0.0.1:{port}/安全.html に移動した後に失敗: 接続を拒否されました");
    QTest::newRow("script to https") << "/moves.html"
                                     << QByteArray("<script>location.replace('{target}');</script>") << there;
    QTest::newRow("redirect to https") << "/redirects" << QByteArray("302") << there;
    QTest::newRow("no move: the reason alone") << "/stays" << QByteArray() << "HTTP 404";
}

void TestLinkSys::aPageThatMovesAndFailsSaysWhere() {
    QFETCH(QString, path);
    QFETCH(QByteArray, move);
    QFETCH(QString, reason);
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const QByteArray port = QByteArray::number(probe.serverPort());
    probe.close();
    const QByteArray target = "https://127.0.0.1:" + port + "/%E5%AE%89%E5%85%A8.html";
    m_server.route(path, move == "302"    ? TestHttpResponse::redirect(302, target)
                         : move.isEmpty() ? TestHttpResponse::error(404)
                                          : TestHttpResponse::html(move.replace("{target}", target)));
    Harvest h;
    QVERIFY(h.run({u(path)}));
    QCOMPARE(h.pages.size(), 1);
    QVERIFY(!h.pages.at(0).ok);
    QCOMPARE(h.pages.at(0).reason, reason.replace(QStringLiteral("{port}"), QString::fromLatin1(port)));
}

void TestLinkSys::samePageWithAFragment() {
    m_server.route(QStringLiteral("/frag.html"),
                   TestHttpResponse::html(R"HTML(<a href="f1.html">1</a><p id=x>x</p>)HTML"));
    m_server.route(QStringLiteral("/frag2.html"),
                   TestHttpResponse::html(R"HTML(<a href="f2.html">2</a>)HTML"));
    Harvest h;
    h.harvester->setPageTimeout(5000);
    QElapsedTimer clock;
    clock.start();
    // The engine only scrolls for the second line: it is still a page loaded, not a time-out.
    QVERIFY(h.run({u("/frag.html"), u("/frag.html#x"), u("/frag2.html#y"), u("/frag.html")}));
    QVERIFY(clock.elapsed() < 5000);
    QCOMPARE(h.pages.size(), 4);
    for (const auto& p : std::as_const(h.pages))
        QVERIFY2(p.ok, qPrintable(p.address + QLatin1Char(' ') + p.reason));
    QCOMPARE(h.records(), (QStringList{"page " + u("/f1.html"), "page " + u("/f2.html")}));
}

void TestLinkSys::abandonedLoadOfThePageBeforeIsNotTheNextPages() {
    // The page moves on by itself once loaded, towards a slow address; the next line's navigation
    // abandons that load. Its end is not the end of the next page.
    m_server.route(
        QStringLiteral("/mover.html"),
        TestHttpResponse::html(
            R"HTML(<meta http-equiv="refresh" content="0; url=/slow-target"><a href="m.html">m</a>)HTML"));
    m_server.route(QStringLiteral("/slow-target"), [](const TestHttpRequest&) {
        TestHttpResponse r = TestHttpResponse::html("<a href=\"t.html\">t</a>");
        r.delayMs = 1500;
        return r;
    });
    m_server.route(QStringLiteral("/next2.html"), [](const TestHttpRequest&) {
        TestHttpResponse r = TestHttpResponse::html("<a href=\"n2.html\">n</a>");
        r.delayMs = 300;
        return r;
    });
    Harvest h;
    // The refresh is started before the harvest of the page ends.
    QObject::connect(&h.browser, &TWebBrowser::DocumentComplete, h.harvester.get(),
                     [](bool) { QTest::qWait(100); });
    QVERIFY(h.run({u("/mover.html"), u("/next2.html")}));
    QCOMPARE(h.pages.size(), 2);
    QVERIFY2(h.pages.at(0).ok, qPrintable(h.pages.at(0).reason));
    QVERIFY2(h.pages.at(1).ok, qPrintable(h.pages.at(1).reason));
    QVERIFY(h.records().contains("page " + u("/n2.html")));
}

void TestLinkSys::killRendererShowing(const QString& path, int tries) {
    if (!m_crashTarget)
        return;
    for (TWebBrowser* b : m_crashTarget())
        if (b->page()->url().path() == path && b->page()->renderProcessPid() > 0) {
            ::kill(pid_t(b->page()->renderProcessPid()), SIGKILL);
            return;
        }
    if (tries > 0)
        QTimer::singleShot(20, this, [this, path, tries]() { killRendererShowing(path, tries - 1); });
}

// Pages that finish out of input order: a slow page whose addresses recur on later fast ones (the
// first finder is the earlier page all the same), a page that times out, one whose renderer
// crashes mid-load, an HTTP error and a line that is no address.
QStringList TestLinkSys::parallelFixture() {
    m_server.route(QStringLiteral("/par/slow.html"), [](const TestHttpRequest&) {
        TestHttpResponse r = TestHttpResponse::html(
            R"HTML(<a href="shared.html">s</a><img src="shared.png"><a href="slow-only.html">o</a>)HTML");
        r.delayMs = 700;
        return r;
    });
    m_server.route(QStringLiteral("/par/fast.html"),
                   TestHttpResponse::html(
                       R"HTML(<a href="fast.html">f</a><a href="shared.html">s</a>
<img src="shared.png"><img src="fast.png"><a href="shared.png">as a link</a>)HTML"));
    m_server.route(QStringLiteral("/par/first.html"),
                   TestHttpResponse::html(R"HTML(<a href="first.html">1</a><img src="fast.png">)HTML"));
    TestHttpResponse hang;
    hang.hang = true;
    m_server.route(QStringLiteral("/par/hang"), hang);
    m_server.route(
        QStringLiteral("/par/crash.html"),
        TestHttpResponse::html(R"HTML(<a href="before-crash.html">b</a><script src="crash.js"></script>
<a href="after-crash.html">a</a>)HTML"));
    // The crashing page's script is asked for while the page loads: its renderer is killed then.
    m_server.route(QStringLiteral("/par/crash.js"), [this](const TestHttpRequest&) {
        QMetaObject::invokeMethod(
            this, [this]() { killRendererShowing(QStringLiteral("/par/crash.html"), 50); },
            Qt::QueuedConnection);
        TestHttpResponse r;
        r.hang = true;
        return r;
    });
    // A renderer stuck in a script: its page is replaced before it loads anything else.
    m_server.route(
        QStringLiteral("/par/spin.html"),
        TestHttpResponse::html(R"HTML(<a href="spin.html">s</a><script>while (true) {}</script>)HTML"));
    m_server.route(QStringLiteral("/par/missing.html"),
                   TestHttpResponse::error(404, "<a href=\"no.html\">n</a>"));
    return {u("/par/first.html"), u("/par/slow.html"),     u("/par/hang"),         u("/par/fast.html"),
            u("/par/crash.html"), QStringLiteral("a b c"), u("/par/missing.html"), u("/par/fast.html?again"),
            u("/par/first.html"), u("/par/spin.html")};
}

void TestLinkSys::parallelRunsGiveTheSameOutcome_data() {
    QTest::addColumn<int>("parallel");
    // 0: the harvester in one given browser, as before pages loaded side by side.
    QTest::newRow("one given browser") << 0;
    QTest::newRow("1 at a time") << 1;
    QTest::newRow("2 at a time") << 2;
    QTest::newRow("4 at a time") << 4;
    QTest::newRow("8 at a time, more than pages") << 8;
}

void TestLinkSys::parallelRunsGiveTheSameOutcome() {
    QFETCH(int, parallel);
    const QStringList lines = parallelFixture();
    auto run = parallel == 0 ? std::make_unique<Harvest>() : std::make_unique<Harvest>(parallel);
    Harvest& h = *run;
    // Room for several renderers starting at once on a busy machine; the hanging page still ends.
    h.harvester->setPageTimeout(6000);
    h.harvester->setCollectTimeout(6000);
    m_crashTarget = [&h]() {
        return h.browsers();
    };
    const bool ran = h.run(lines, 60000);
    m_crashTarget = nullptr;
    QVERIFY(ran);

    QCOMPARE(h.finishes, QList<bool>{false});
    QCOMPARE(h.startedIndexes, (QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    QCOMPARE(h.pages.size(), lines.size());
    // Records after each page: nothing of a later page comes before an earlier one is done.
    QList<qsizetype> after;
    for (const auto& p : std::as_const(h.pages))
        after.append(p.recordsAfter);
    QCOMPARE(after, (QList<qsizetype>{2, 5, 5, 7, 7, 7, 7, 7, 7, 7}));
    QCOMPARE(h.records().mid(0, 5),
             (QStringList{"page " + u("/par/first.html"), "image " + u("/par/fast.png"),
                          "page " + u("/par/shared.html"), "page " + u("/par/slow-only.html"),
                          "image " + u("/par/shared.png")}));
    QCOMPARE(h.harvester->List.Items(3).Source, u("/par/slow.html"));
    QCOMPARE(h.pages.at(2).reason, QStringLiteral("時間切れ: 6 秒たっても応答がありません"));
    QCOMPARE(h.pages.at(4).reason, QStringLiteral("ページの処理が異常終了しました"));
    QCOMPARE(h.pages.at(6).reason, QStringLiteral("HTTP 404"));
    QVERIFY2(h.pages.at(9).reason.startsWith(QStringLiteral("時間切れ")), qPrintable(h.pages.at(9).reason));

    const QStringList outcome = h.outcome();
    if (parallel == 0)
        m_sequentialOutcome = outcome;
    else if (!m_sequentialOutcome.isEmpty())
        QCOMPARE(outcome, m_sequentialOutcome);

    // At most the given number of pages, each used for page after page, and a renderer each.
    const QList<TWebBrowser*> browsers = h.browsers();
    QVERIFY(browsers.size() <= std::max(parallel, 1));
    std::set<qint64> renderers;
    for (TWebBrowser* b : browsers)
        if (b->page()->renderProcessPid() > 0)
            renderers.insert(b->page()->renderProcessPid());
    QVERIFY(int(renderers.size()) <= std::max(parallel, 1));
    for (TWebBrowser* b : browsers)
        QVERIFY(b->profile() == h.browser.profile());
}

void TestLinkSys::cancelDuringAParallelRun() {
    TestHttpResponse hang;
    hang.hang = true;
    m_server.route(QStringLiteral("/pc/stuck"), hang);
    for (int i = 1; i <= 8; ++i)
        m_server.route(QStringLiteral("/pc/%1.html").arg(i),
                       TestHttpResponse::html(QStringLiteral("<a href=\"l%1.html\">l</a>").arg(i).toUtf8()));
    Harvest h(3);
    QStringList lines{u("/pc/1.html"), u("/pc/stuck")};
    for (int i = 3; i <= 8; ++i)
        lines.append(u(QStringLiteral("/pc/%1.html").arg(i)));
    h.harvester->LoadAll(lines);
    // The pages after the stuck one load meanwhile, but wait for it.
    QTRY_VERIFY_WITH_TIMEOUT(!m_server.requestsFor(QStringLiteral("/pc/4.html")).isEmpty(), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(h.startedIndexes.size(), 8, 20000);
    QCOMPARE(h.pages.size(), 1);
    QCOMPARE(h.harvester->Busy, 1);
    h.harvester->Cancel();
    QCOMPARE(h.finishes, QList<bool>{true});
    QCOMPARE(h.harvester->Busy, 0);
    // What was reported stays; pages loaded ahead of the stuck one are dropped with it.
    QCOMPARE(h.records(), QStringList{"page " + u("/pc/l1.html")});
    QCOMPARE(h.pages.size(), 1);
    QTest::qWait(400);
    QCOMPARE(h.finishes.size(), 1);
    QCOMPARE(h.pages.size(), 1);
    QCOMPARE(h.records().size(), 1);

    // The same pages take the next analysis, which starts cleanly.
    h.finishes.clear();
    QVERIFY(h.run({u("/pc/3.html"), u("/pc/8.html")}));
    QCOMPARE(h.finishes, QList<bool>{false});
    QCOMPARE(h.records(), (QStringList{"page " + u("/pc/l1.html"), "page " + u("/pc/l3.html"),
                                       "page " + u("/pc/l8.html")}));
    // All on one host: no more than two of its pages load at once.
    QCOMPARE(h.browsers().size(), qsizetype(LinkFollowing::PagesPerHost));
}

void TestLinkSys::noScriptMode_data() {
    QTest::addColumn<bool>("noScripts");
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<bool>("subresourcesFetched");
    QTest::newRow("scripts run") << false
                                 << QStringList{"/ns/static.html", "/ns/written.html", "/ns/from-file.html",
                                                "/ns/frame.html",  "/ns/created.html", "/ns/in-frame.html"}
                                 << true;
    // As a browser with scripts turned off reads the page: the noscript element's content is
    // markup, the scripts add nothing, and nothing but the page is fetched (the frame's address is
    // recorded, its document is not loaded).
    QTest::newRow("no scripts") << true
                                << QStringList{"/ns/static.html", "/ns/noscript.html", "/ns/frame.html",
                                               "/ns/img.png"}
                                << false;
}

void TestLinkSys::noScriptMode() {
    QFETCH(bool, noScripts);
    QFETCH(QStringList, paths);
    QFETCH(bool, subresourcesFetched);
    m_server.route(QStringLiteral("/ns/page.html"), TestHttpResponse::html(R"HTML(<!doctype html>
<link rel="stylesheet" href="style.css">
<a href="static.html">s</a>
<script>document.write('<a href="written.html">w</a>');</script>
<noscript><a href="noscript.html">n</a><img src="img.png"></noscript>
<script src="code.js"></script>
<iframe src="frame.html"></iframe>
<div id=box></div>
<script>var a = document.createElement('a'); a.href = 'created.html'; document.getElementById('box').appendChild(a);</script>
)HTML"));
    m_server.route(QStringLiteral("/ns/style.css"),
                   TestHttpResponse::withType("text/css", "a { color: red }"));
    m_server.route(
        QStringLiteral("/ns/code.js"),
        TestHttpResponse::withType("text/javascript", "document.write('<a href=\"from-file.html\">f</a>');"));
    m_server.route(QStringLiteral("/ns/frame.html"),
                   TestHttpResponse::html("<a href=\"in-frame.html\">i</a>"));
    m_server.clearLog();

    Harvest h(2);
    h.harvester->setNoScripts(noScripts);
    QCOMPARE(h.harvester->noScripts(), noScripts);
    QVERIFY(h.run({u("/ns/page.html")}));
    QVERIFY2(h.pages.first().ok, qPrintable(h.pages.first().reason));
    QStringList expected;
    for (const QString& path : std::as_const(paths))
        expected.append((path.endsWith(QLatin1String(".png")) ? "image " : "page ") + u(path));
    QCOMPARE(h.records(), expected);
    for (const char* sub : {"/ns/style.css", "/ns/code.js", "/ns/frame.html"})
        QCOMPARE(m_server.requestsFor(QString::fromLatin1(sub)).isEmpty(), !subresourcesFetched);

    // The mode can be turned the other way for the same pages: the second run adds what the first
    // did not see.
    h.harvester->setNoScripts(!noScripts);
    h.finishes.clear();
    QVERIFY(h.run({u("/ns/page.html")}));
    QVERIFY(h.records().contains("page " + u("/ns/created.html")));
    QVERIFY(h.records().contains("page " + u("/ns/noscript.html")));
}

int main(int argc, char** argv) {
    WebEngineSetup::prepareBeforeApplication();
    QGuiApplication app(argc, argv);
    TestLinkSys test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_linksys.moc"
