// The browser control against the real engine and the tests' own HTTP server on 127.0.0.1.

#include "PageScript.h"
#include "TWebBrowser.h"
#include "TestHttpServer.h"
#include "WebEngineSetup.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QNetworkCookieJar>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEngineDownloadRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>

class TestWebBrowser : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void completionReportsTheTopDocumentsStatus_data();
    void completionReportsTheTopDocumentsStatus();
    void unreachablePortFails();
    void collectsEveryAddressInOneCall();
    void answeredCollectionKeepsThePage();
    void collectionLeavesThePageAsItIs();
    void pageCannotOpenWindowsShowDialogsOrGoLocal();
    void localPageCannotWanderToOtherLocalFiles();
    void endlessScriptIsBoundedAndTheNextPageLoads();
    void destroyedRightAfterAReplacement();
    void destroyedWithCallbacksPending();
    void scriptStartedAfterTheCollectionDoesNotHoldTheNextPage();
    void stopEndsALoad();
    void oneCompletionForEachNavigate();
    void navigateDuringALoad();
    void rendererEndingMidLoadIsAFailure();
    void earlierDocumentIsToldApart();
    void downloadsAreRefused();
    void cookiesAndUserAgentAreExposed();

private:
    struct Completion {
        bool ok = false;
        QString errorText;
    };
    // Navigates and waits for the first completion.
    Completion load(TWebBrowser& browser, const QUrl& url, int timeoutMs = 15000);
    struct Collected {
        bool answered = false;
        bool ok = false;
        PageAddresses addresses;
        QString reason;
    };
    Collected collect(TWebBrowser& browser, int boundMs = 5000);

    TestHttpServer m_server;
};

TestWebBrowser::Completion TestWebBrowser::load(TWebBrowser& browser, const QUrl& url, int timeoutMs) {
    QSignalSpy spy(&browser, &TWebBrowser::DocumentComplete);
    browser.Navigate(url);
    if (!spy.wait(timeoutMs))
        return {false, QStringLiteral("(no completion)")};
    return {spy.first().at(0).toBool(), spy.first().at(1).toString()};
}

TestWebBrowser::Collected TestWebBrowser::collect(TWebBrowser& browser, int boundMs) {
    auto result = std::make_shared<Collected>();
    browser.CollectAddresses(boundMs, [result](bool ok, const PageAddresses& a, const QString& reason) {
        result->answered = true;
        result->ok = ok;
        result->addresses = a;
        result->reason = reason;
    });
    // Never answered from inside the call.
    if (result->answered)
        return {true, false, {}, QStringLiteral("answered synchronously")};
    for (int waited = 0; !result->answered && waited < boundMs + 5000; waited += 20)
        QTest::qWait(20);
    return *result;
}

void TestWebBrowser::initTestCase() {
    QVERIFY(m_server.start());
}

void TestWebBrowser::completionReportsTheTopDocumentsStatus_data() {
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("text");
    QTest::newRow("200") << 200 << QByteArray("<p>fine</p>") << true << QString();
    QTest::newRow("redirect to 200") << 302 << QByteArray() << true << QString();
    QTest::newRow("404 with a body") << 404 << QByteArray("<h1>not here</h1><a href=x>x</a>") << false
                                     << QStringLiteral("HTTP 404");
    QTest::newRow("404 without a body") << 404 << QByteArray() << false << QStringLiteral("HTTP 404");
    QTest::newRow("500") << 500 << QByteArray("<p>broken</p>") << false << QStringLiteral("HTTP 500");
    QTest::newRow("503 without a body") << 503 << QByteArray() << false << QStringLiteral("HTTP 503");
}

void TestWebBrowser::completionReportsTheTopDocumentsStatus() {
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(bool, ok);
    QFETCH(QString, text);
    const QString path = QStringLiteral("/status-%1-%2").arg(status).arg(body.size());
    TestHttpResponse r = TestHttpResponse::html(body);
    r.status = status;
    if (status == 302) {
        m_server.route(QStringLiteral("/redirect-target"), TestHttpResponse::html("<p>moved here</p>"));
        r = TestHttpResponse::redirect(302, "/redirect-target");
    }
    m_server.route(path, r);

    TWebBrowser browser;
    QCOMPARE(browser.state(), TWebBrowser::State::Blank);
    const Completion c = load(browser, m_server.url(path));
    QCOMPARE(c.ok, ok);
    QCOMPARE(c.errorText, text);
    QCOMPARE(browser.state(), ok ? TWebBrowser::State::Shown : TWebBrowser::State::ShownFailed);
}

void TestWebBrowser::unreachablePortFails() {
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const quint16 port = probe.serverPort();
    probe.close();

    TWebBrowser browser;
    const Completion c = load(browser, QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(port)));
    QVERIFY(!c.ok);
    // In Japanese, not the engine's code.
    QCOMPARE(c.errorText, QStringLiteral("接続を拒否されました"));
}

void TestWebBrowser::collectsEveryAddressInOneCall() {
    m_server.route(QStringLiteral("/dir/all.html"), TestHttpResponse::html(R"HTML(<!doctype html>
<base href="/based/">
<a href="one.html">1</a>
<img src="pic.png"><img src=""><img>
<map name="m"><area href="area.html" shape="rect" coords="0,0,1,1"></map>
<a>no href</a>
<embed src="movie.swf"><embed>
<a href="javascript:void(0)">s</a>
<script>document.write('<a href="written.html">w</a>');</script>
)HTML"));
    TWebBrowser browser;
    QVERIFY(load(browser, m_server.url(QStringLiteral("/dir/all.html"))).ok);
    const Collected c = collect(browser);
    QVERIFY(c.answered);
    QVERIFY2(c.ok, qPrintable(c.reason));
    const QString based = m_server.urlText(QStringLiteral("/based/"));
    QCOMPARE(c.addresses.location, m_server.url(QStringLiteral("/dir/all.html")));
    QCOMPARE(c.addresses.links, (QStringList{based + "one.html", based + "area.html",
                                             QStringLiteral("javascript:void(0)"), based + "written.html"}));
    QCOMPARE(c.addresses.images, QStringList{based + "pic.png"});
    QCOMPARE(c.addresses.embeds, QStringList{based + "movie.swf"});
    QVERIFY(c.addresses.fromLastNavigate);
    QCOMPARE(browser.LocationURL(), m_server.url(QStringLiteral("/dir/all.html")));
    // Images are not loaded: the hidden browser needs only the document.
    QVERIFY(m_server.requestsFor(QStringLiteral("/based/pic.png")).isEmpty());
}

void TestWebBrowser::answeredCollectionKeepsThePage() {
    // A page that answered in time keeps its renderer for the next navigation.
    m_server.route(QStringLiteral("/plain.html"),
                   TestHttpResponse::html(R"HTML(<a href="p.html">p</a>)HTML"));
    TWebBrowser browser;
    QSignalSpy replaced(&browser, &TWebBrowser::pageReplaced);
    QWebEnginePage* const page = browser.page();
    QVERIFY(load(browser, m_server.url(QStringLiteral("/plain.html"))).ok);
    QVERIFY(collect(browser, 300).ok);
    QTest::qWait(600); // past the bound
    QVERIFY(load(browser, m_server.url(QStringLiteral("/plain.html"))).ok);
    QCOMPARE(replaced.size(), 0);
    QCOMPARE(browser.page(), page);
}

void TestWebBrowser::collectionLeavesThePageAsItIs() {
    // The page's own scripts replace what a collector might use; the collection runs in a world of
    // its own, and leaves the attributes as they were.
    m_server.route(QStringLiteral("/tamper.html"), TestHttpResponse::html(R"HTML(<!doctype html>
<img id=i1 src="img/a.png"><img id=i2 src=""><embed id=e1 src="../e.swf">
<a href="x.html">x</a>
<script>
Array.prototype.push = function () { throw new Error('no'); };
Object.defineProperty(document, 'links', { get: function () { return []; } });
</script>)HTML"));
    TWebBrowser browser;
    QVERIFY(load(browser, m_server.url(QStringLiteral("/tamper.html"))).ok);
    const Collected c = collect(browser);
    QVERIFY2(c.ok, qPrintable(c.reason));
    QCOMPARE(c.addresses.links, QStringList{m_server.urlText(QStringLiteral("/x.html"))});
    QCOMPARE(c.addresses.images, QStringList{m_server.urlText(QStringLiteral("/img/a.png"))});
    QCOMPARE(c.addresses.embeds, QStringList{m_server.urlText(QStringLiteral("/e.swf"))});
    const QVariant attrs =
        evaluateInPage(browser.page(), QStringLiteral("[document.getElementById('i1').getAttribute('src'),"
                                                      "document.getElementById('i2').getAttribute('src'),"
                                                      "document.getElementById('e1').getAttribute('src')]"
                                                      ".join('|')"));
    QCOMPARE(attrs.toString(), QStringLiteral("img/a.png||../e.swf"));
}

void TestWebBrowser::pageCannotOpenWindowsShowDialogsOrGoLocal() {
    m_server.route(QStringLiteral("/popup.html"), TestHttpResponse::html("<p>popup</p>"));
    m_server.route(QStringLiteral("/rude.html"), TestHttpResponse::html(R"HTML(<!doctype html>
<a href="stay.html">stay</a>
<script>
window.open('/popup.html');
alert('hello');
var c = confirm('sure?');
var p = prompt('name?', 'x');
window.onbeforeunload = function (e) { e.preventDefault(); return 'leave?'; };
document.title = 'confirm=' + c + ' prompt=' + p;
location = 'file:///etc/passwd';
</script>)HTML"));
    TWebBrowser browser;
    const QUrl rude = m_server.url(QStringLiteral("/rude.html"));
    QVERIFY(load(browser, rude).ok);
    QTest::qWait(500); // room for a late navigation or window
    QCOMPARE(browser.LocationURL(), rude);
    QVERIFY(m_server.requestsFor(QStringLiteral("/popup.html")).isEmpty());
    QCOMPARE(evaluateInPage(browser.page(), QStringLiteral("document.title")).toString(),
             QStringLiteral("confirm=false prompt=null"));
    const Collected c = collect(browser);
    QVERIFY2(c.ok, qPrintable(c.reason));
    QCOMPARE(c.addresses.links, QStringList{m_server.urlText(QStringLiteral("/stay.html"))});
    // The leave-page prompt does not hold the next navigation.
    QVERIFY(load(browser, m_server.url(QStringLiteral("/popup.html"))).ok);
    QCOMPARE(browser.LocationURL(), m_server.url(QStringLiteral("/popup.html")));
}

void TestWebBrowser::localPageCannotWanderToOtherLocalFiles() {
    // A local page that the user asked for loads; it cannot take the browser to another local file,
    // neither by script nor by a frame.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    auto write = [&dir](const QString& name, const QByteArray& content) {
        QFile f(dir.filePath(name));
        return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
    };
    QVERIFY(write(QStringLiteral("start.html"), R"HTML(<a href="secret.html">s</a>
<iframe src="secret.html"></iframe>
<script>setTimeout(function () { location = 'secret.html'; }, 0);</script>)HTML"));
    QVERIFY(write(QStringLiteral("secret.html"), "<title>secret</title><a href=\"inner.html\">i</a>"));
    const QUrl start = QUrl::fromLocalFile(dir.filePath(QStringLiteral("start.html")));
    TWebBrowser browser;
    const Completion loaded = load(browser, start);
    QVERIFY2(loaded.ok, qPrintable(loaded.errorText));
    QTest::qWait(500);
    QCOMPARE(browser.LocationURL(), start);
    const QVariant frameTitle = evaluateInPage(
        browser.page(),
        QStringLiteral("(function () { try { var d = document.querySelector('iframe').contentDocument;"
                       " return d ? d.title : '(none)'; } catch (e) { return '(blocked)'; } })()"));
    QVERIFY2(frameTitle.toString() != QLatin1String("secret"), qPrintable(frameTitle.toString()));
    const Collected c = collect(browser);
    QVERIFY2(c.ok, qPrintable(c.reason));
    // The frame's own address is a link; nothing of the file it was kept from.
    const QString secret = QUrl::fromLocalFile(dir.filePath(QStringLiteral("secret.html"))).toString();
    QCOMPARE(c.addresses.links, (QStringList{secret, secret}));
    QCOMPARE(c.addresses.linkVias, (QStringList{QStringLiteral("a@href"), QStringLiteral("iframe@src")}));
}

void TestWebBrowser::endlessScriptIsBoundedAndTheNextPageLoads() {
    m_server.route(QStringLiteral("/spin.html"), TestHttpResponse::html(R"HTML(<!doctype html>
<a href="a.html">a</a>
<script>window.onload = function () { setTimeout(function () { for (;;) {} }, 0); };</script>)HTML"));
    m_server.route(QStringLiteral("/after.html"),
                   TestHttpResponse::html(R"HTML(<a href="b.html">b</a>)HTML"));
    TWebBrowser browser;
    QSignalSpy replaced(&browser, &TWebBrowser::pageReplaced);
    QVERIFY(load(browser, m_server.url(QStringLiteral("/spin.html"))).ok);
    QTest::qWait(200);
    QElapsedTimer clock;
    clock.start();
    const Collected stuck = collect(browser, 1000);
    QVERIFY(stuck.answered);
    QVERIFY(!stuck.ok);
    QVERIFY2(stuck.reason.startsWith(QStringLiteral("時間切れ")), qPrintable(stuck.reason));
    QCOMPARE(browser.state(), TWebBrowser::State::Wedged);
    QVERIFY(clock.elapsed() < 4000);

    const Completion next = load(browser, m_server.url(QStringLiteral("/after.html")));
    QVERIFY2(next.ok, qPrintable(next.errorText));
    QCOMPARE(replaced.size(), 1);
    QCOMPARE(replaced.first().at(0).value<QWebEnginePage*>(), browser.page());
    const Collected c = collect(browser);
    QVERIFY2(c.ok, qPrintable(c.reason));
    QCOMPARE(c.addresses.links, QStringList{m_server.urlText(QStringLiteral("/b.html"))});
}

void TestWebBrowser::destroyedWithCallbacksPending() {
    // The engine answers pending script calls while its page is destroyed: none of them may act
    // on the browser then (a navigation started on the half-destroyed page, a collection
    // delivered). The sanitizer run catches the former; here nothing may be reported.
    m_server.route(QStringLiteral("/calm.html"), TestHttpResponse::html("<a href=\"a.html\">a</a>"));
    for (int round = 0; round < 3; ++round) {
        auto browser = std::make_unique<TWebBrowser>();
        QVERIFY(load(*browser, m_server.url(QStringLiteral("/calm.html"))).ok);
        bool delivered = false;
        int completions = 0;
        QObject::connect(browser.get(), &TWebBrowser::DocumentComplete, [&completions]() { ++completions; });
        browser->Navigate(m_server.url(QStringLiteral("/calm.html?next"))); // waits for a sign of life
        browser->CollectAddresses(
            5000, [&delivered](bool, const PageAddresses&, const QString&) { delivered = true; });
        QCOMPARE(browser->state(), TWebBrowser::State::Probing);
        browser.reset();
        QTest::qWait(100 * round);
        QVERIFY(!delivered);
        QCOMPARE(completions, 0);
        QVERIFY(m_server.requestsFor(QStringLiteral("/calm.html?next")).isEmpty());
    }
}

void TestWebBrowser::destroyedRightAfterAReplacement() {
    // Gone at once after a stuck page was replaced: no page may outlive the profile it runs on.
    QTest::failOnWarning(QRegularExpression(QStringLiteral("profile|WebEnginePage")));
    m_server.route(QStringLiteral("/spin3.html"), TestHttpResponse::html(R"HTML(<a href="a.html">a</a>
<script>window.addEventListener('load', function () { setTimeout(function () { for (;;) {} }, 0); });</script>)HTML"));
    auto browser = std::make_unique<TWebBrowser>();
    QSignalSpy replaced(browser.get(), &TWebBrowser::pageReplaced);
    QVERIFY(load(*browser, m_server.url(QStringLiteral("/spin3.html"))).ok);
    QTest::qWait(200);
    QVERIFY(!collect(*browser, 500).ok);
    browser->Navigate(m_server.url(QStringLiteral("/spin3.html")));
    QCOMPARE(replaced.size(), 1);
    browser.reset();
    QTest::qWait(200);
}

void TestWebBrowser::scriptStartedAfterTheCollectionDoesNotHoldTheNextPage() {
    m_server.route(QStringLiteral("/later.html"), TestHttpResponse::html(R"HTML(<a href="l.html">l</a>
<script>window.addEventListener('load', function () { setTimeout(function () { for (;;) {} }, 400); });</script>)HTML"));
    m_server.route(QStringLiteral("/fine2.html"),
                   TestHttpResponse::html(R"HTML(<a href="f2.html">f</a>)HTML"));
    TWebBrowser browser;
    QSignalSpy replaced(&browser, &TWebBrowser::pageReplaced);
    QVERIFY(load(browser, m_server.url(QStringLiteral("/later.html"))).ok);
    const Collected first = collect(browser);
    QVERIFY2(first.ok, qPrintable(first.reason));
    QTest::qWait(2000); // the page's script now runs for ever (timers of a hidden page may run late)
    QElapsedTimer clock;
    clock.start();
    const Completion next = load(browser, m_server.url(QStringLiteral("/fine2.html")));
    QVERIFY2(next.ok, qPrintable(next.errorText));
    QVERIFY(clock.elapsed() < 8000);
    QCOMPARE(replaced.size(), 1);
    const Collected c = collect(browser);
    QVERIFY2(c.ok, qPrintable(c.reason));
    QCOMPARE(c.addresses.links, QStringList{m_server.urlText(QStringLiteral("/f2.html"))});
    // A healthy page is kept for the navigation after.
    QVERIFY(load(browser, m_server.url(QStringLiteral("/later.html#x"))).ok);
    QCOMPARE(replaced.size(), 1);
}

void TestWebBrowser::rendererEndingMidLoadIsAFailure() {
    // The engine itself reports no end for a load whose renderer went down.
    m_server.route(QStringLiteral("/c.html"), TestHttpResponse::html(R"HTML(<a href="c2.html">c</a>)HTML"));
    TWebBrowser browser;
    QVERIFY(load(browser, m_server.url(QStringLiteral("/c.html"))).ok);
    const Completion c = load(browser, QUrl(QStringLiteral("chrome://crash")), 10000);
    QVERIFY(!c.ok);
    QCOMPARE(c.errorText, QStringLiteral("ページの処理が異常終了しました"));
    QCOMPARE(browser.state(), TWebBrowser::State::RendererGone);
    QElapsedTimer clock;
    clock.start();
    const Collected gone = collect(browser, 5000);
    QVERIFY(gone.answered && !gone.ok);
    QCOMPARE(gone.reason, QStringLiteral("ページの処理が異常終了しました"));
    QVERIFY(clock.elapsed() < 2000);
    QVERIFY(load(browser, m_server.url(QStringLiteral("/c.html"))).ok);
    const Collected again = collect(browser);
    QVERIFY2(again.ok, qPrintable(again.reason));
    QCOMPARE(again.addresses.links, QStringList{m_server.urlText(QStringLiteral("/c2.html"))});
}

void TestWebBrowser::oneCompletionForEachNavigate() {
    // The page moves on by itself after it has completed: that load is the page's, not a second
    // completion of the navigation.
    m_server.route(
        QStringLiteral("/goes-on.html"),
        TestHttpResponse::html(
            R"HTML(<meta http-equiv="refresh" content="0; url=/arrived.html"><a href="g.html">g</a>)HTML"));
    m_server.route(QStringLiteral("/arrived.html"), TestHttpResponse::html("<p>arrived</p>"));
    TWebBrowser browser;
    QSignalSpy spy(&browser, &TWebBrowser::DocumentComplete);
    browser.Navigate(m_server.url(QStringLiteral("/goes-on.html")));
    QTRY_COMPARE(browser.LocationURL(), m_server.url(QStringLiteral("/arrived.html")));
    QTest::qWait(300);
    QCOMPARE(spy.size(), 1);
    QCOMPARE(spy.first().at(0).toBool(), true);
}

void TestWebBrowser::navigateDuringALoad() {
    // A new address while the previous one is still loading: the completion is the new one's.
    TestHttpResponse hang;
    hang.hang = true;
    m_server.route(QStringLiteral("/pending"), hang);
    m_server.route(QStringLiteral("/slowish.html"), [](const TestHttpRequest&) {
        TestHttpResponse r = TestHttpResponse::html(R"HTML(<a href="w.html">w</a>)HTML");
        r.delayMs = 300;
        return r;
    });
    TWebBrowser browser;
    QVERIFY(load(browser, m_server.url(QStringLiteral("/slowish.html"))).ok);
    QSignalSpy spy(&browser, &TWebBrowser::DocumentComplete);
    browser.Navigate(m_server.url(QStringLiteral("/pending")));
    QTRY_VERIFY(!m_server.requestsFor(QStringLiteral("/pending")).isEmpty());
    browser.Navigate(m_server.url(QStringLiteral("/slowish.html")));
    QVERIFY(spy.wait(10000));
    QTest::qWait(500);
    QCOMPARE(spy.size(), 1);
    QVERIFY2(spy.first().at(0).toBool(), qPrintable(spy.first().at(1).toString()));
    const Collected c = collect(browser);
    QVERIFY(c.ok && c.addresses.fromLastNavigate);
}

void TestWebBrowser::stopEndsALoad() {
    TestHttpResponse hang;
    hang.hang = true;
    m_server.route(QStringLiteral("/never"), hang);
    m_server.route(QStringLiteral("/start.html"), TestHttpResponse::html("<p>start</p>"));
    TWebBrowser browser;
    QVERIFY(load(browser, m_server.url(QStringLiteral("/start.html"))).ok);
    QSignalSpy spy(&browser, &TWebBrowser::DocumentComplete);
    browser.Navigate(m_server.url(QStringLiteral("/never")));
    QTRY_VERIFY(!m_server.requestsFor(QStringLiteral("/never")).isEmpty());
    browser.Stop();
    QVERIFY(spy.wait(5000));
    QCOMPARE(spy.first().at(0).toBool(), false);
    QCOMPARE(spy.first().at(1).toString(), QStringLiteral("読み込みを止めました"));
}

void TestWebBrowser::earlierDocumentIsToldApart() {
    m_server.route(QStringLiteral("/first.html"),
                   TestHttpResponse::html(R"HTML(<a href="f.html">f</a>)HTML"));
    TestHttpResponse nothing;
    nothing.status = 204;
    nothing.body.clear();
    m_server.route(QStringLiteral("/nothing"), nothing);
    TWebBrowser browser;
    QVERIFY(load(browser, m_server.url(QStringLiteral("/first.html"))).ok);
    const Completion c = load(browser, m_server.url(QStringLiteral("/nothing")));
    QVERIFY(!c.ok);
    QVERIFY2(c.errorText.startsWith(QStringLiteral("ページが表示されませんでした")), qPrintable(c.errorText));
    const Collected after = collect(browser);
    QVERIFY2(after.ok, qPrintable(after.reason));
    QVERIFY(!after.addresses.fromLastNavigate);
    QCOMPARE(after.addresses.links, QStringList{m_server.urlText(QStringLiteral("/f.html"))});
}

void TestWebBrowser::downloadsAreRefused() {
    const QString name = QStringLiteral("nepirika-test-%1.bin").arg(QCoreApplication::applicationPid());
    TestHttpResponse r = TestHttpResponse::withType("application/octet-stream", QByteArray(4096, 'x'));
    r.headers.append(qMakePair(QByteArray("Content-Disposition"), "attachment; filename=" + name.toUtf8()));
    m_server.route(QStringLiteral("/file.bin"), r);
    TWebBrowser browser;
    QSignalSpy started(browser.profile(), &QWebEngineProfile::downloadRequested);
    const Completion c = load(browser, m_server.url(QStringLiteral("/file.bin")));
    QVERIFY(!c.ok);
    QVERIFY2(c.errorText.startsWith(QStringLiteral("ページが表示されませんでした")), qPrintable(c.errorText));
    QTRY_COMPARE(started.size(), 1);
    auto* request = started.first().at(0).value<QWebEngineDownloadRequest*>();
    QVERIFY(request);
    QTRY_COMPARE(request->state(), QWebEngineDownloadRequest::DownloadCancelled);
    QVERIFY(!QFileInfo::exists(request->downloadDirectory() + QLatin1Char('/') + name));
}

void TestWebBrowser::cookiesAndUserAgentAreExposed() {
    TestHttpResponse r = TestHttpResponse::html("<p>cookie</p>");
    r.headers.append(qMakePair(QByteArray("Set-Cookie"), QByteArray("session=abc; Path=/")));
    m_server.route(QStringLiteral("/cookie.html"), r);
    TWebBrowser browser;
    QVERIFY(load(browser, m_server.url(QStringLiteral("/cookie.html"))).ok);
    QTRY_COMPARE(browser.cookieJar()->cookiesForUrl(m_server.url(QStringLiteral("/x"))).size(), 1);
    QCOMPARE(browser.cookieJar()->cookiesForUrl(m_server.url(QStringLiteral("/x"))).first().value(),
             QByteArray("abc"));
    const QList<TestHttpRequest> requests = m_server.requestsFor(QStringLiteral("/cookie.html"));
    QVERIFY(!requests.isEmpty());
    QCOMPARE(browser.userAgent(), requests.first().header("User-Agent"));
}

int main(int argc, char** argv) {
    WebEngineSetup::prepareBeforeApplication();
    QGuiApplication app(argc, argv);
    TestWebBrowser test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_webbrowser.moc"
