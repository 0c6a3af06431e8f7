// Pages as a person at a 1280 × 720 window sees them: what depends on the viewport, what style rules
// put behind elements, and, when asked, what a page adds while it is scrolled to its end.

#include "HarvestProfile.h"
#include "PageScroller.h"
#include "TestHttpServer.h"
#include "WebEngineSetup.h"
#include "WindowViewport.h"
#include "tlinksys.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>

#include <map>

namespace {

// The page: a link chosen by innerWidth while the document is parsed, one made in its first
// animation frame (which runs only on a screen), backgrounds chosen by media queries, a gallery whose
// addresses only an intersection observer gives (its first picture on the first screen, the others
// far below), a feed that adds a screenful at each scroll to its end (@BATCHES@ in all), style rules
// of a <style> block and of a linked sheet, rules that match nothing or draw nothing.
const char* page = R"HTML(<!doctype html><html><head><meta charset="utf-8">
<link rel="stylesheet" href="css/site.css">
<style>
.hero { background-image: url("img/hero.jpg"); }
.unused { background: url(img/unused.jpg); }
.set { background-image: -webkit-image-set(url(img/set-1x.png) 1x, url(img/set-2x.png) 2x); }
h1::before { content: url(img/before.png); }
.empty::after { background: url(img/no-content.png); }
.gone::before { content: url(img/gone-before.png); }
:root { --pic: url(img/var.png); }
.var { background-image: var(--pic); }
@media (min-width: 1000px) { .wide { background-image: url(img/wide.jpg); } }
@media (max-width: 600px) { .wide { background-image: url(img/narrow.jpg); } }
</style></head><body>
<h1 class="hero">t</h1><div class="set"></div><div class="wide"></div><span class="sheet"></span>
<p class="empty">e</p><div style="display:none"><i class="gone"></i></div><div class="var"></div>
<nav id="nav"><script>
var a = document.createElement('a');
a.href = innerWidth >= 1000 && matchMedia('(min-width: 1000px)').matches ? 'desktop.html' : 'mobile.html';
document.getElementById('nav').appendChild(a);
requestAnimationFrame(function () {
  var f = document.createElement('a');
  f.href = 'frame-' + innerWidth + 'x' + innerHeight + '.html';
  document.getElementById('nav').appendChild(f);
});
</script></nav>
<div id="gallery"></div>
<div id="feed"></div>
<script>
var gallery = document.getElementById('gallery'), kept = ['g0.jpg', 'g1.jpg', 'g2.jpg'];
for (var i = 0; i < kept.length; ++i) {
  var img = document.createElement('img');
  img.style.cssText = 'display:block;width:10px;height:10px;margin-top:' + (i ? 3000 : 100) + 'px';
  img.dataset.n = i;
  gallery.appendChild(img);
}
var io = new IntersectionObserver(function (es) {
  es.forEach(function (e) {
    if (e.isIntersecting && !e.target.src) { e.target.src = 'gallery/' + kept[e.target.dataset.n]; io.unobserve(e.target); }
  });
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

// How a page is harvested.
enum Mode { Loaded, LoadedSideBySide, Scrolled, NoScripts };

} // namespace

Q_DECLARE_METATYPE(Mode)

class TestPageAsSeen : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void harvest_data();
    void harvest();

private:
    struct Harvest {
        std::vector<tURLData> records;
        std::map<QString, QString> reports; // by page address: why it is on the failure report
        qint64 ms = 0;
    };
    // The pages harvested one after another in one harvester, as `nepirika harvest` would; once.
    const Harvest& harvested(Mode mode, const QStringList& addresses);

    TestHttpServer m_server;
    HarvestProfile m_identity; // the pages' profile, as the command's
    std::map<QString, Harvest> m_harvests;
};

const TestPageAsSeen::Harvest& TestPageAsSeen::harvested(Mode mode, const QStringList& addresses) {
    const QString key = QString::number(mode) + addresses.join(QLatin1Char(' '));
    auto found = m_harvests.find(key);
    if (found != m_harvests.end())
        return found->second;
    Harvest& h = m_harvests[key];
    QWebEngineProfile* profile = m_identity.profile();
    tlinksys harvester(mode == NoScripts ? tlinksys::browsersOn(profile)
                                         : WindowViewport::browsersOn(profile, mode == Scrolled),
                       mode == LoadedSideBySide ? 3 : 1);
    harvester.setNoScripts(mode == NoScripts);
    harvester.setScrollToEnd(mode == Scrolled);
    bool finished = false;
    connect(&harvester, &tlinksys::pageFinished, &harvester,
            [&](const QString& address, bool, const QString& reason) { h.reports[address] = reason; });
    connect(&harvester, &tlinksys::finished, &harvester, [&](bool) { finished = true; });
    QElapsedTimer clock;
    clock.start();
    harvester.LoadAll(addresses);
    const bool ended = QTest::qWaitFor([&]() { return finished; }, 120000);
    h.ms = ended ? clock.elapsed() : -1;
    h.records = harvester.List.records();
    return h;
}

void TestPageAsSeen::initTestCase() {
    QVERIFY(m_server.start());
    m_server.route(QStringLiteral("/seen/page.html"),
                   TestHttpResponse::html(QByteArray(page).replace("@BATCHES@", "5")));
    m_server.route(QStringLiteral("/seen/again/page.html"),
                   TestHttpResponse::html(QByteArray(page).replace("@BATCHES@", "5")));
    // A batch at each scroll to the end, for ever.
    m_server.route(QStringLiteral("/seen/endless.html"),
                   TestHttpResponse::html(QByteArray(page).replace("@BATCHES@", "1e9")));
    // A style sheet of another origin whose load fails, before the page's own rules.
    m_server.route(
        QStringLiteral("/seen/failed-sheet.html"),
        TestHttpResponse::html("<!doctype html><link rel=\"stylesheet\" href=\"http://127.0.0.1:1/gone.css\">"
                               "<style>.k { background-image: url(img/kept.png) }</style>"
                               "<div class=\"k\"></div>"));
    m_server.route(QStringLiteral("/seen/css/site.css"),
                   TestHttpResponse::withType("text/css",
                                              ".sheet { background-image: url('../img/from-sheet.png') }\n"
                                              ".nothing-here { background: url(never.png) }\n"));
}

void TestPageAsSeen::harvest_data() {
    QTest::addColumn<Mode>("mode");
    QTest::addColumn<QStringList>("pages"); // harvested in this order in one browser
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("via");    // empty: must not be harvested
    QTest::addColumn<QString>("report"); // how the last page's line on the failure report begins
    const QString at = m_server.urlText(QStringLiteral("/seen/"));
    // The same page on another site: after the first, a new renderer lays it out.
    const QString other = QString(at).replace(QStringLiteral("127.0.0.1"), QStringLiteral("localhost"));
    const QStringList page{at + QStringLiteral("page.html")};
    const QStringList twoSites{page.first(), other + QStringLiteral("page.html")};
    const QStringList endless{at + QStringLiteral("endless.html")};
    const QStringList failedSheet{at + QStringLiteral("failed-sheet.html")};
    // Two pages of one site in turn (in two folders, so that the second's records are its own): the
    // second is drawn by the surface that drew the first.
    const QStringList sameSite{page.first(), at + QStringLiteral("again/page.html")};
    // Pages loaded side by side take turns on one screen (the last on a site of its own, so that its
    // records are its own).
    const QStringList three{page.first() + QStringLiteral("?1"), page.first() + QStringLiteral("?2"),
                            other + QStringLiteral("page.html?3")};
    struct Row {
        const char* name;
        Mode mode;
        QStringList pages;
        QString path;
        const char* via;
        const char* report = "";
    };
    const QList<Row> rows{
        // Every page with its scripts is laid out in a window's screen, and drawn there once.
        {"link chosen by the window's width", Loaded, page, "desktop.html", "a@href"},
        {"no narrow-screen link", Loaded, page, "mobile.html", ""},
        {"animation frame drawn at the window's size", Loaded, page, "frame-1280x720.html", "a@href"},
        {"animation frame of the last of three side by side", LoadedSideBySide, three, "frame-1280x720.html",
         "a@href"},
        {"link chosen by the width on a second site", Loaded, twoSites, "desktop.html", "a@href"},
        {"animation frame of a second page of the site", Loaded, sameSite, "frame-1280x720.html", "a@href"},
        {"background of a media query that a window meets", Loaded, page, "img/wide.jpg", "css@background"},
        {"no narrow-screen background", Loaded, page, "img/narrow.jpg", ""},
        {"gallery picture on the first screen", Loaded, page, "gallery/g0.jpg", "img@src"},
        {"no gallery picture below without scrolling", Loaded, page, "gallery/g2.jpg", ""},
        {"first screen of the last of three side by side", LoadedSideBySide, three, "gallery/g0.jpg",
         "img@src"},
        {"width link of the last of three side by side", LoadedSideBySide, three, "desktop.html", "a@href"},
        // Scrolling shows the rest.
        {"link chosen by the width, scrolled", Scrolled, twoSites, "desktop.html", "a@href"},
        {"gallery picture below, scrolled", Scrolled, page, "gallery/g2.jpg", "img@src"},
        {"feed's first batch, scrolled", Scrolled, page, "feed/1.html", "a@href"},
        {"feed's last batch, scrolled", Scrolled, page, "feed/5.html", "a@href"},
        {"endless feed stops with a note", Scrolled, endless, "feed/2.html", "a@href",
         "スクロールを打ち切りました"},
        // The style sheets' images.
        {"<style> background", Loaded, page, "img/hero.jpg", "css@background"},
        {"image-set candidate", Loaded, page, "img/set-2x.png", "css@background"},
        {"::before content", Loaded, page, "img/before.png", "css::before@content"},
        {"linked sheet, resolved against the sheet", Loaded, page, "img/from-sheet.png", "css@background"},
        {"rule that matches nothing", Loaded, page, "img/unused.jpg", ""},
        {"rules after a sheet that failed to load", Loaded, failedSheet, "img/kept.png", "css@background"},
        {"::after without content draws nothing", Loaded, page, "img/no-content.png", ""},
        {"::before inside an element not drawn", Loaded, page, "img/gone-before.png", ""},
        {"background through a custom property", Loaded, page, "img/var.png", "css@background"},
        {"linked rule that matches nothing", Loaded, page, "css/never.png", ""},
        {"no feed without scrolling", Loaded, page, "feed/1.html", ""},
        {"<style> background without scripts", NoScripts, page, "img/hero.jpg", "css@background"},
        {"unused <style> rule without scripts", NoScripts, page, "img/unused.jpg", ""},
        {"no linked sheet without scripts", NoScripts, page, "img/from-sheet.png", ""},
    };
    for (const Row& r : rows) {
        const QString base = r.pages.last().section(QLatin1Char('/'), 0, -2) + QLatin1Char('/');
        QTest::newRow(r.name) << r.mode << r.pages << base + r.path << QString::fromLatin1(r.via)
                              << QString::fromUtf8(r.report);
    }
}

void TestPageAsSeen::harvest() {
    QFETCH(Mode, mode);
    QFETCH(QStringList, pages);
    QFETCH(QString, url);
    QFETCH(QString, via);
    QFETCH(QString, report);
    const Harvest& h = harvested(mode, pages);
    QVERIFY2(h.ms >= 0, "the harvest did not end");
    // Scrolling stops at its bound; the load and the collection come on top.
    QVERIFY2(h.ms < PageScroller::MostMs + 30000, qPrintable(QString::number(h.ms)));
    const auto line = h.reports.find(pages.last());
    QVERIFY(line != h.reports.end());
    QVERIFY2(report.isEmpty() ? line->second.isEmpty() : line->second.startsWith(report),
             qPrintable(line->second));
    QString found;
    for (const tURLData& r : h.records)
        if (r.URL == url && r.Source == pages.last())
            found = r.Via;
    QCOMPARE(found, via);
}

int main(int argc, char** argv) {
    WebEngineSetup::prepareBeforeApplication();
    QApplication app(argc, argv);
    TestPageAsSeen test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_pageasseen.moc"
