// Everything a page offers, harvested from one hand-made page: srcset and picture sources, lazy
// loaders' attributes, media, posters, background (attributes too) and share images, open shadow
// roots, and frames of the same origin and of another (127.0.0.2), nested ones included.

#include "AddressCollector.h"
#include "PageScript.h"
#include "TWebBrowser.h"
#include "TestHttpServer.h"
#include "WebEngineSetup.h"
#include "tlinksys.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QWebEnginePage>

#include <memory>

class TestHarvestCoverage : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void records_data();
    void records();
    void nothingElse_data();
    void nothingElse();
    void onlyTheTablesRecords();
    void pageBeyondTheBound_data();
    void pageBeyondTheBound();
    void hostileFrames_data();
    void hostileFrames();
    void pageScriptsSeeNothingOfTheCollection();
    void failedAndSandboxedFrames();

private:
    QString a(const QString& path) const { return m_server.urlText(path); }
    QString b(const QString& path) const { return m_other.urlText(path); }
    // Harvests one page to its end, as the main window does; the records in list order.
    bool harvest(const QString& address, std::vector<tURLData>& records, QString& failure);

    TestHttpServer m_server; // 127.0.0.1: the page
    TestHttpServer m_other;  // 127.0.0.2: a frame of another origin
    // The page with hostile frames: its records and its report.
    std::vector<tURLData> m_hostile;
    QString m_hostileReport;
    std::vector<tURLData> m_records;
    qsizetype m_rows = -1; // rows of the records table
};

bool TestHarvestCoverage::harvest(const QString& address, std::vector<tURLData>& records, QString& failure) {
    TWebBrowser browser;
    tlinksys harvester(&browser); // wires the browser's completion to its harvest itself
    bool finished = false;
    QObject::connect(&harvester, &tlinksys::pageFinished, &harvester,
                     [&](const QString&, bool ok, const QString& reason) {
                         if (!ok)
                             failure = reason;
                     });
    QObject::connect(&harvester, &tlinksys::finished, &harvester, [&](bool) { finished = true; });
    harvester.Load(address);
    QElapsedTimer clock;
    clock.start();
    while (!finished && clock.elapsed() < 30000)
        QTest::qWait(20);
    records = harvester.List.records();
    return finished;
}

void TestHarvestCoverage::initTestCase() {
    QVERIFY(m_server.start());
    QVERIFY(m_other.start(0, QStringLiteral("127.0.0.2")));
    m_server.route(QStringLiteral("/cov/page.html"),
                   TestHttpResponse::html(QStringLiteral(R"HTML(<!doctype html>
<html><head><meta charset="utf-8">
<base href="/media/">
<meta property="og:image" content="share/og.jpg">
<meta name="twitter:image" content="/share/tw.jpg">
<meta name="description" content="not/an-image.jpg">
</head><body>
<a href="one.html">one</a>
<img src="plain.png" srcset="s1.png 1x, s,2.png 2x">
<img src="wide.jpg" srcset="w-small.jpg 480w,w-large.jpg   1080w" sizes="50vw">
<picture>
  <source srcset="pic.webp 1x,pic-2x.webp 2x" type="image/webp">
  <source data-srcset="lazy/source.webp">
  <img src="pic.jpg">
</picture>
<img src="grey.gif" data-original="lazy/real.jpg" data-src="lazy">
<img data-src="#" data-original-set="lazy/os.jpg 300w" data-lazy-src="lazy/l2.jpg"
     data-lazy-srcset="lazy/l3.jpg 1x, lazy/l3@2x.jpg 2x" data-pagespeed-lazy-src="lazy/ps.jpg"
     data-hi-res-src="lazy/hi.jpg" data-srcset="true">
<input type="image" src="button.png"><input type="text" src="not-an-image.png">
<video poster="poster.jpg" src="clip.mp4"><source src="clip.webm" type="video/webm"><track src="subs.vtt"></video>
<audio src="sound.mp3"><source src="sound.ogg"></audio>
<object data="doc.pdf"></object>
<embed src="movie.swf">
<img src="javascript:void('img')"><embed src="JavaScript:void('embed')"><img srcset="javascript:void('set') 2x">
<svg xmlns:xlink="http://www.w3.org/1999/xlink" width="4" height="4"><image href="svg.png"/><image xlink:href="svg-x.png"/><a href="svg-link.html"><text>s</text></a><a xlink:href="svg-x-link.html"/></svg>
<div style='background-image: url("bg-q.png")'></div>
<p style="background: url(bg-plain.png) no-repeat, URL( 'bg-s.png' )">x</p>
<table background="table.gif"><tr><td background=" cell.gif ">c</td></tr></table>
<iframe src="@OTHER@/frame.html"></iframe>
<iframe src="/cov/same.html"></iframe>
<div id="host"></div>
<script>
// The page counts the messages it is shown: the collection's own must not be among them.
window.seen = 0;
addEventListener('message', function () { ++window.seen; }, true);
var root = document.getElementById('host').attachShadow({mode: 'open'});
root.innerHTML = '<a href="shadow.html">s</a><img src="shadow.png"><span id="inner"></span>';
root.getElementById('inner').attachShadow({mode: 'open'}).innerHTML = '<video poster="deep.jpg"></video>';
</script>
<link rel="preload" as="image" href="pre.jpg" imagesrcset="pre-1.jpg 1x, pre-2.jpg 2x">
<link rel="preload" as="script" href="not-an-image.js">
<link rel="Shortcut image_src" href="declared.jpg">
</body></html>
)HTML")
                                              .replace(QStringLiteral("@OTHER@"), b({}))
                                              .toUtf8()));
    // The frames have encodings of their own, which their records carry.
    m_server.route(
        QStringLiteral("/cov/same.html"),
        TestHttpResponse::withType("text/html; charset=EUC-JP", QStringLiteral(R"HTML(<!doctype html>
<a href="same-link.html">s</a><img src="same.png"><img src="/media/plain.png">
<iframe src="@OTHER@/inner.html"></iframe>)HTML")
                                                                    .replace(QStringLiteral("@OTHER@"), b({}))
                                                                    .toUtf8()));
    m_other.route(QStringLiteral("/frame.html"),
                  TestHttpResponse::withType("text/html; charset=Shift_JIS", R"HTML(<!doctype html>
<a href="frame-link.html">f</a>
<img srcset="f1.png 1x, f2.png 2x" data-src="f-lazy.jpg">
<video src="f.mp4"></video>
<iframe src="nested.html"></iframe>
<script>addEventListener('message', function (e) { document.title = 'seen'; });</script>)HTML"));
    m_other.route(QStringLiteral("/inner.html"), TestHttpResponse::html(R"HTML(<img src="inner.png">)HTML"));
    m_other.route(QStringLiteral("/nested.html"),
                  TestHttpResponse::withType("text/html; charset=EUC-JP", R"HTML(<!doctype html>
<a href="nested-link.html">n</a><img src="nested.png">)HTML"));
    QString failure;
    QVERIFY(harvest(a(QStringLiteral("/cov/page.html")), m_records, failure));
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
}

void TestHarvestCoverage::records_data() {
    QTest::addColumn<QString>("url");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("via");
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("charset"); // of the document it was found in
    const int page = tURLData::KindPage, image = tURLData::KindImage, embed = tURLData::KindEmbed;
    const auto m = [this](const char* path) {
        return a(QStringLiteral("/media/") + QLatin1String(path));
    };
    const auto f = [this](const char* path) {
        return b(QLatin1Char('/') + QLatin1String(path));
    };
    struct Row {
        const char* name;
        QString url;
        int kind;
        const char* via;
        const char* charset = "UTF-8";
    };
    // List order: the page's links, images and embeds, each group in document order (a shadow
    // root's content at its host), and each group's frame records after the top document's.
    const QList<Row> rows{
        {"link", m("one.html"), page, "a@href"},
        {"SVG link", m("svg-link.html"), page, "svg:a@href"},
        {"SVG link, xlink:href", m("svg-x-link.html"), page, "svg:a@xlink:href"},
        {"cross-origin frame's address", f("frame.html"), page, "iframe@src"},
        {"same-origin frame's address", a("/cov/same.html"), page, "iframe@src"},
        {"link in a shadow root", m("shadow.html"), page, "shadow>a@href"},
        {"link in the cross-origin frame", f("frame-link.html"), page, "frame>a@href", "Shift_JIS"},
        {"nested frame's address", f("nested.html"), page, "frame>iframe@src", "Shift_JIS"},
        {"link in the nested frame", f("nested-link.html"), page, "frame>frame>a@href", "EUC-JP"},
        {"link in the same-origin frame", a("/cov/same-link.html"), page, "frame>a@href", "EUC-JP"},
        {"cross-origin frame inside the same-origin frame", f("inner.html"), page, "frame>iframe@src",
         "EUC-JP"},

        {"og:image", m("share/og.jpg"), image, "meta@content"},
        {"twitter:image", a("/share/tw.jpg"), image, "meta@content"},
        {"img src", m("plain.png"), image, "img@src"},
        {"srcset x descriptor", m("s1.png"), image, "img@srcset"},
        {"srcset URL with a comma", m("s,2.png"), image, "img@srcset"},
        {"img src beside w descriptors", m("wide.jpg"), image, "img@src"},
        {"srcset w descriptor", m("w-small.jpg"), image, "img@srcset"},
        {"srcset w descriptor, no space after the comma", m("w-large.jpg"), image, "img@srcset"},
        {"picture source", m("pic.webp"), image, "source@srcset"},
        {"picture source, second candidate", m("pic-2x.webp"), image, "source@srcset"},
        {"picture source, lazy", m("lazy/source.webp"), image, "source@data-srcset"},
        {"picture img", m("pic.jpg"), image, "img@src"},
        {"lazy placeholder", m("grey.gif"), image, "img@src"},
        {"data-original", m("lazy/real.jpg"), image, "img@data-original"},
        {"data-original-set", m("lazy/os.jpg"), image, "img@data-original-set"},
        {"data-lazy-src", m("lazy/l2.jpg"), image, "img@data-lazy-src"},
        {"data-lazy-srcset", m("lazy/l3.jpg"), image, "img@data-lazy-srcset"},
        {"data-lazy-srcset with @ in the name", m("lazy/l3@2x.jpg"), image, "img@data-lazy-srcset"},
        {"data-pagespeed-lazy-src", m("lazy/ps.jpg"), image, "img@data-pagespeed-lazy-src"},
        {"data-hi-res-src", m("lazy/hi.jpg"), image, "img@data-hi-res-src"},
        {"input type=image", m("button.png"), image, "input@src"},
        {"video poster", m("poster.jpg"), image, "video@poster"},
        {"svg image href", m("svg.png"), image, "image@href"},
        {"svg image xlink:href", m("svg-x.png"), image, "image@href"},
        {"style url(\"...\")", m("bg-q.png"), image, "div@style"},
        {"style url(...)", m("bg-plain.png"), image, "p@style"},
        {"style URL( '...' )", m("bg-s.png"), image, "p@style"},
        {"table background attribute", m("table.gif"), image, "table@background"},
        {"cell background attribute", m("cell.gif"), image, "td@background"},
        {"img in a shadow root", m("shadow.png"), image, "shadow>img@src"},
        {"poster in a nested shadow root", m("deep.jpg"), image, "shadow>shadow>video@poster"},
        {"preloaded image", m("pre.jpg"), image, "link@href"},
        {"preloaded image's srcset", m("pre-1.jpg"), image, "link@imagesrcset"},
        {"preloaded image's srcset, 2x", m("pre-2.jpg"), image, "link@imagesrcset"},
        {"declared image (image_src)", m("declared.jpg"), image, "link@href"},
        {"srcset in the cross-origin frame", f("f1.png"), image, "frame>img@srcset", "Shift_JIS"},
        {"srcset in the cross-origin frame, 2x", f("f2.png"), image, "frame>img@srcset", "Shift_JIS"},
        {"data-src in the cross-origin frame", f("f-lazy.jpg"), image, "frame>img@data-src", "Shift_JIS"},
        {"img in the nested frame", f("nested.png"), image, "frame>frame>img@src", "EUC-JP"},
        {"img in the same-origin frame", a("/cov/same.png"), image, "frame>img@src", "EUC-JP"},
        {"img in a cross-origin frame inside the same-origin frame", f("inner.png"), image,
         "frame>frame>img@src"},

        {"video src", m("clip.mp4"), embed, "video@src"},
        {"video source", m("clip.webm"), embed, "source@src"},
        {"track", m("subs.vtt"), embed, "track@src"},
        {"audio src", m("sound.mp3"), embed, "audio@src"},
        {"audio source", m("sound.ogg"), embed, "source@src"},
        {"object data", m("doc.pdf"), embed, "object@data"},
        {"embed", m("movie.swf"), embed, "embed@src"},
        {"video in the cross-origin frame", f("f.mp4"), embed, "frame>video@src", "Shift_JIS"},
    };
    int position = 0;
    for (const Row& r : rows)
        QTest::newRow(r.name) << r.url << r.kind << QString::fromLatin1(r.via) << position++
                              << QString::fromLatin1(r.charset);
    m_rows = rows.size();
}

void TestHarvestCoverage::records() {
    QFETCH(QString, url);
    QFETCH(int, kind);
    QFETCH(QString, via);
    QFETCH(int, position);
    QFETCH(QString, charset);
    qsizetype found = -1;
    for (size_t i = 0; i < m_records.size() && found < 0; ++i)
        if (m_records.at(i).URL == url && m_records.at(i).Kind == kind)
            found = qsizetype(i);
    QVERIFY2(found >= 0, qPrintable(url + QStringLiteral(" was not harvested")));
    const tURLData& r = m_records.at(size_t(found));
    QCOMPARE(r.Via, via);
    QCOMPARE(r.Charset, charset);
    QCOMPARE(found, position);
    // Frames' records too carry the page that the user asked for.
    QCOMPARE(r.Source, a(QStringLiteral("/cov/page.html")));
}

void TestHarvestCoverage::nothingElse_data() {
    QTest::addColumn<QString>("url");
    const auto m = [this](const char* path) {
        return a(QStringLiteral("/media/") + QLatin1String(path));
    };
    QTest::newRow("a srcset candidate with its descriptor") << m("s1.png 1x");
    QTest::newRow("a lazy attribute holding a word") << m("lazy");
    QTest::newRow("a lazy attribute holding #") << m("#");
    QTest::newRow("a lazy srcset attribute holding a word") << m("true");
    QTest::newRow("src of a text input") << m("not-an-image.png");
    QTest::newRow("a meta tag that names no image") << m("not/an-image.jpg");
    QTest::newRow("a preloaded script") << m("not-an-image.js");
    QTest::newRow("a script as an image's source") << QStringLiteral("javascript:void('img')");
    QTest::newRow("a script as an embed's source") << QStringLiteral("JavaScript:void('embed')");
    QTest::newRow("a script as a srcset candidate") << QStringLiteral("javascript:void('set')");
    QTest::newRow("the same-origin frame's image that the page has too")
        << a(QStringLiteral("/media/plain.png"));
}

void TestHarvestCoverage::nothingElse() {
    QFETCH(QString, url);
    qsizetype times = 0;
    for (const tURLData& r : m_records)
        times += r.URL == url ? 1 : 0;
    // plain.png is both on the page and in its frame: one record, the page's.
    QVERIFY2(times == (url.endsWith(QLatin1String("/plain.png")) ? 1 : 0), qPrintable(url));
}

void TestHarvestCoverage::onlyTheTablesRecords() {
    // Every record is one of the records table's (each row found at its own place).
    QCOMPARE(qsizetype(m_records.size()), m_rows);
}

void TestHarvestCoverage::pageBeyondTheBound_data() {
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("chars");
    QTest::addColumn<bool>("byChars");
    QTest::addColumn<int>("images");
    QTest::addColumn<QString>("lastImage");
    const QString base = a(QStringLiteral("/media/"));
    // The first addresses in document order: one link, then the images up to the bound.
    QTest::newRow("ten addresses") << 10 << int(CollectedAddress::PageChars) << false << 9
                                   << base + QStringLiteral("pic.webp");
    // share/og.jpg, /share/tw.jpg (outside media/), one.html and plain.png: exactly their characters.
    const int fourAddresses = int(base.size()) * 4 + 12 + (12 - 6) + 8 + 9;
    QTest::newRow("the characters of four addresses")
        << AddressCollector::Limit << fourAddresses << true << 3 << base + QStringLiteral("plain.png");
}

void TestHarvestCoverage::pageBeyondTheBound() {
    QFETCH(int, count);
    QFETCH(int, chars);
    QFETCH(bool, byChars);
    QFETCH(int, images);
    QFETCH(QString, lastImage);
    TWebBrowser browser;
    QSignalSpy complete(&browser, &TWebBrowser::DocumentComplete);
    browser.Navigate(m_server.url(QStringLiteral("/cov/page.html")));
    QVERIFY(complete.wait(15000));
    QVERIFY(complete.first().at(0).toBool());
    bool answered = false;
    PageAddresses found;
    AddressCollector::collect(
        browser.page(), -1, 1000,
        [&](bool ok, const PageAddresses& addresses, const QString&) {
            answered = ok;
            found = addresses;
        },
        count, chars);
    QTRY_VERIFY_WITH_TIMEOUT(answered, 10000);
    QVERIFY(found.truncated);
    QCOMPARE(found.cutByChars, byChars);
    QCOMPARE(found.links, QStringList{a(QStringLiteral("/media/one.html"))});
    QCOMPARE(found.images.size(), images);
    QCOMPARE(found.images.last(), lastImage);
    QVERIFY(found.embeds.isEmpty());
}

void TestHarvestCoverage::hostileFrames_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected"); // a via (a record of it), "none", or "report" (named there)
    const auto f = [this](const char* path) {
        return b(QLatin1Char('/') + QLatin1String(path));
    };
    QTest::newRow("the reopened frame's link, written after document.open()")
        << f("after-reopen.html") << QStringLiteral("frame>a@href");
    QTest::newRow("the reopened frame's image") << f("reopened.png") << QStringLiteral("frame>img@src");
    QTest::newRow("a cross-origin frame that the reopened frame made")
        << a(QStringLiteral("/hostile/nested.png")) << QStringLiteral("frame>frame>img@src");
    QTest::newRow("the forging frame's own link") << f("forge-own.html") << QStringLiteral("frame>a@href");
    QTest::newRow("forged text") << QStringLiteral("=HYPERLINK(\"http://evil.example/\")")
                                 << QStringLiteral("none");
    QTest::newRow("a forged address")
        << QStringLiteral("http://evil.example/injected.jpg") << QStringLiteral("none");
    QTest::newRow("a forged address, asked for by guessing")
        << QStringLiteral("http://evil.example/guessed.jpg") << QStringLiteral("none");
    QTest::newRow("a data: address over 1 MiB is dropped")
        << QStringLiteral("data:image/gif;base64,AAAA") << QStringLiteral("none");
    QTest::newRow("and counted") << QStringLiteral("アドレスとして使えないもの 1 件")
                                 << QStringLiteral("report");
}

void TestHarvestCoverage::hostileFrames() {
    QFETCH(QString, text);
    QFETCH(QString, expected);
    if (m_hostile.empty()) {
        // Frames of another origin: one takes every listener off its window with document.open(),
        // listens itself, answers whatever it is asked with forged records and announces a line of
        // its own; one reopens its document with new content and a frame. The page's own data: image is
        // over 1 MiB.
        m_other.route(QStringLiteral("/forge.html"), TestHttpResponse::html(R"HTML(<!doctype html><script>
function forge(port, d) {
  port.postMessage({ key: d && (d.key || d.nepirikaScan), cut: '', dropped: 0, silent: [], embeds: [],
                     links: ['=HYPERLINK("http://evil.example/")', 'a@href'],
                     images: ['http://evil.example/injected.jpg', 'img@src'] });
}
addEventListener('load', function () {
  document.open(); document.write('<a href="forge-own.html">own</a>'); document.close();
  addEventListener('message', function (e) { e.stopImmediatePropagation(); if (e.ports[0]) forge(e.ports[0], e.data); }, true);
  var c = new MessageChannel();
  c.port1.onmessage = function (e) { if (e.ports[0]) forge(e.ports[0], e.data); };
  parent.postMessage({ nepirikaHello: 'guessed', ready: 1 }, '*', [c.port2]);
  parent.postMessage({ nepirikaScan: 'guessed', links: [], images: ['http://evil.example/guessed.jpg', 'img@src'] }, '*');
});
</script>)HTML"));
        m_other.route(
            QStringLiteral("/reopen.html"),
            TestHttpResponse::html(QStringLiteral(R"HTML(<!doctype html><a href="before.html">b</a><script>
addEventListener('load', function () {
  document.open();
  document.write('<a href="after-reopen.html">a</a><img src="reopened.png"><iframe src="@TOP@/hostile/nested.html"></iframe>');
  document.close();
});
</script>)HTML")
                                       .replace(QStringLiteral("@TOP@"), a({}))
                                       .toUtf8()));
        m_server.route(QStringLiteral("/hostile/nested.html"),
                       TestHttpResponse::html(R"HTML(<img src="nested.png">)HTML"));
        const QString big =
            QStringLiteral("data:image/gif;base64,") + QString((1 << 20) + 16, QLatin1Char('A'));
        m_server.route(QStringLiteral("/hostile/page.html"),
                       TestHttpResponse::html(QStringLiteral(R"HTML(<!doctype html>
<a href="top.html">top</a><img src="@BIG@">
<iframe src="@OTHER@/forge.html"></iframe><iframe src="@OTHER@/reopen.html"></iframe>)HTML")
                                                  .replace(QStringLiteral("@BIG@"), big)
                                                  .replace(QStringLiteral("@OTHER@"), b({}))
                                                  .toUtf8()));
        QVERIFY(harvest(a(QStringLiteral("/hostile/page.html")), m_hostile, m_hostileReport));
        QVERIFY(!m_hostile.empty());
    }
    if (expected == QLatin1String("report")) {
        QVERIFY2(m_hostileReport.contains(text), qPrintable(m_hostileReport));
        return;
    }
    QString via = QStringLiteral("none");
    for (const tURLData& r : m_hostile)
        if (r.URL.startsWith(text) && (r.URL == text || text.startsWith(QLatin1String("data:"))))
            via = r.Via;
    QCOMPARE(via, expected);
}

void TestHarvestCoverage::pageScriptsSeeNothingOfTheCollection() {
    TWebBrowser browser;
    QSignalSpy complete(&browser, &TWebBrowser::DocumentComplete);
    browser.Navigate(m_server.url(QStringLiteral("/cov/page.html")));
    QVERIFY(complete.wait(15000));
    bool answered = false;
    PageAddresses found;
    browser.CollectAddresses(5000, [&](bool ok, const PageAddresses& addresses, const QString&) {
        answered = ok;
        found = addresses;
    });
    QTRY_VERIFY_WITH_TIMEOUT(answered, 10000);
    QVERIFY(found.imageVias.contains(QStringLiteral("frame>img@srcset"))); // the frames were asked
    QCOMPARE(evaluateInPage(browser.page(), QStringLiteral("window.seen")).toInt(), 0);
    // The page's own messages still reach it.
    evaluateInPage(browser.page(), QStringLiteral("postMessage('own', '*'); 0"));
    QTRY_COMPARE(evaluateInPage(browser.page(), QStringLiteral("window.seen")).toInt(), 1);
}

void TestHarvestCoverage::failedAndSandboxedFrames() {
    // A frame that failed to load (the engine's error page is not the page's), and sandboxed frames
    // with and without scripts: every frame's address is recorded, the failed one's content is not.
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress(QStringLiteral("127.0.0.2"))));
        closedPort = probe.serverPort();
    }
    const QString gone = QStringLiteral("http://127.0.0.2:%1/gone.html").arg(closedPort);
    m_other.route(QStringLiteral("/boxed.html"),
                  TestHttpResponse::html(R"HTML(<a href="boxed-link.html">b</a><img src="boxed.png">)HTML"));
    m_other.route(QStringLiteral("/scripted.html"),
                  TestHttpResponse::html(R"HTML(<a href="scripted-link.html">b</a>)HTML"));
    m_server.route(QStringLiteral("/cov/frames.html"),
                   TestHttpResponse::html(QStringLiteral(R"HTML(<!doctype html>
<iframe src="@GONE@"></iframe>
<iframe sandbox src="@OTHER@/boxed.html"></iframe>
<iframe sandbox="allow-scripts" src="@OTHER@/scripted.html"></iframe>
<a href="after.html">after</a>)HTML")
                                              .replace(QStringLiteral("@GONE@"), gone)
                                              .replace(QStringLiteral("@OTHER@"), b({}))
                                              .toUtf8()));
    std::vector<tURLData> records;
    QString failure;
    QVERIFY(harvest(a(QStringLiteral("/cov/frames.html")), records, failure));
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QStringList got;
    for (const tURLData& r : records)
        got.append(r.URL + QLatin1Char(' ') + r.Via);
    QVERIFY2(got.contains(gone + QStringLiteral(" iframe@src")), qPrintable(got.join(QLatin1Char('\n'))));
    QVERIFY(got.contains(b(QStringLiteral("/boxed.html")) + QStringLiteral(" iframe@src")));
    QVERIFY(got.contains(a(QStringLiteral("/cov/after.html")) + QStringLiteral(" a@href")));
    QVERIFY2(got.contains(b(QStringLiteral("/scripted-link.html")) + QStringLiteral(" frame>a@href")),
             qPrintable(got.join(QLatin1Char('\n'))));
    // Nothing of the engine's own page for the frame that failed (its pictures are data: addresses).
    for (const tURLData& r : records)
        QVERIFY2(!r.URL.startsWith(QLatin1String("data:")), qPrintable(r.Via));
    // Sandboxed frames, with scripts or without, are harvested too.
    QCOMPARE(got.filter(QStringLiteral(" frame>")),
             (QStringList{b(QStringLiteral("/boxed-link.html")) + QStringLiteral(" frame>a@href"),
                          b(QStringLiteral("/scripted-link.html")) + QStringLiteral(" frame>a@href"),
                          b(QStringLiteral("/boxed.png")) + QStringLiteral(" frame>img@src")}));
}

int main(int argc, char** argv) {
    WebEngineSetup::prepareBeforeApplication();
    QGuiApplication app(argc, argv);
    TestHarvestCoverage test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_harvestcoverage.moc"
