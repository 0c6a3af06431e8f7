// The advertisement banner against the real browser engine, the list and the advertisements served
// on 127.0.0.1 with short intervals.

#include "AppMessages.h"
#include "PageScript.h"
#include "TWebBrowser.h"
#include "TestHttpServer.h"
#include "Tkoukoku.h"
#include "WebEngineSetup.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QNetworkCookieJar>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineView>

#include <atomic>
#include <memory>

using namespace std::chrono_literals;

namespace {

// A window with the banner as its top band, as in the main window.
struct BannerWindow {
    QWidget window;
    Tkoukoku* banner = nullptr;
    QList<QUrl> opened;

    BannerWindow(const QUrl& listUrl, std::chrono::milliseconds interval, bool show = true) {
        auto* layout = new QVBoxLayout(&window);
        layout->setContentsMargins(0, 0, 0, 0);
        banner = new Tkoukoku(&window, listUrl, interval);
        banner->setRetryDelays(300ms, 1200ms);
        banner->setListTimeout(10s);
        banner->setLinkOpener([this](const QUrl& url) { opened.append(url); });
        layout->addWidget(banner);
        layout->addStretch();
        window.resize(600, 300);
        if (show)
            window.show();
    }
};

QByteArray adPage(const QByteArray& name) {
    return "<html><body style='margin:0'>" + name + "</body></html>";
}

TestHttpResponse plainText(const QByteArray& body) {
    return TestHttpResponse::withType("text/plain; charset=utf-8", body);
}

bool waitUntilShowing(Tkoukoku* banner, const QUrl& url) {
    return QTest::qWaitFor(
        [&]() {
            QWebEnginePage* page = banner->browser() ? banner->browser()->page() : nullptr;
            return page && page->url() == url &&
                   evaluateInPage(page, QStringLiteral("document.readyState"),
                                  QWebEngineScript::ApplicationWorld)
                           .toString() == u"complete";
        },
        15000);
}

// Clicks until the banner hands something to its link opener: the engine may not take input at
// once after the page has loaded.
bool clickUntilOpened(QWidget* target, QPoint at, const QList<QUrl>& opened) {
    for (int i = 0; i < 5; ++i) {
        QTest::mouseClick(target, Qt::LeftButton, {}, at);
        if (QTest::qWaitFor([&]() { return !opened.isEmpty(); }, 3000))
            return true;
    }
    return false;
}

} // namespace

class tst_Banner : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void parseAdList_data();
    void parseAdList();

    void startsAfterShowingAndSizesItself();
    void twoEntriesAlternate();
    void listEntriesAreFiltered();
    void advertisementCompletionsNeverChangeTheList();
    void errorPageIsNotTheListAndLaterRetrySucceeds();
    void failedAttemptsWaitLongerEachTime();
    void unansweredListTimesOut();
    void oneEntryIsShownAndStays();
    void oneEntryThatFailedIsTriedAgain();
    void noEntryLeavesTheBannerBlank();
    void failedAdvertisementBringsNoBurst();
    void clickedLinkOpensOutsideAndBannerKeepsItsPage();
    void advertisementCannotOpenTheBrowserByItself();
    void leavePageQuestionDoesNotHoldTheRotation_data();
    void leavePageQuestionDoesNotHoldTheRotation();
    void profileIsSeparateFromTheHarvester();

private:
    std::unique_ptr<TestHttpServer> m_server;
    int m_boxes = 0;
};

void tst_Banner::init() {
    m_server = std::make_unique<TestHttpServer>();
    QVERIFY(m_server->start());
    m_boxes = 0;
    AppMessages::setOpenHook([this](QMessageBox* box) {
        ++m_boxes;
        box->close();
    });
}

void tst_Banner::cleanup() {
    AppMessages::setOpenHook({});
    // Whatever happened, the banner never spoke to the user.
    QCOMPARE(m_boxes, 0);
    m_server.reset();
}

void tst_Banner::parseAdList_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("expected");

    const QString a = QStringLiteral("http://a.example/ad.html");
    const QString b = QStringLiteral("https://b.example/x?y=1");
    QTest::newRow("final break adds nothing") << a + "\r\n" + b + "\r\n" << QStringList{a, b};
    QTest::newRow("no final break") << a + "\r\n" + b << QStringList{a, b};
    QTest::newRow("lone CR and lone LF") << a + "\r" + b + "\n" << QStringList{a, b};
    QTest::newRow("LF CR is two breaks") << a + "\n\r" + b << QStringList{a, b};
    QTest::newRow("empty lines left out") << "\r\n" + a + "\r\n\r\n\n" + b + "\r\n\r\n" << QStringList{a, b};
    QTest::newRow("blank lines left out") << " \t\r\n" + a << QStringList{a};
    QTest::newRow("surrounding blanks removed") << "  " + a + "\t\r\n" << QStringList{a};
    QTest::newRow("scheme in capitals")
        << QStringLiteral("HTTPS://c.example/") << QStringList{"HTTPS://c.example/"};
    QTest::newRow("duplicates kept") << a + "\n" + a << QStringList{a, a};
    QTest::newRow("NUL ends the text") << a + QChar(u'\0') + "\n" + b << QStringList{a};
    QTest::newRow("javascript and file left out")
        << "javascript:alert(1)\nfile:///etc/passwd\n" + a + "\nFILE:///C:/x\n"
        << QStringList{a};
    QTest::newRow("other schemes left out")
        << "ftp://f.example/\nmailto:x@y.example\ndata:text/html,x\nabout:blank\n" + b << QStringList{b};
    QTest::newRow("not an address") << "/relative/path\nwww.example.com\nhttp://\nhttp:///x\n" + a
                                    << QStringList{a};
    QTest::newRow("empty text") << QString() << QStringList{};
    QTest::newRow("only breaks") << QStringLiteral("\r\n\n\r") << QStringList{};
}

void tst_Banner::parseAdList() {
    QFETCH(QString, text);
    QFETCH(QStringList, expected);
    QCOMPARE(Tkoukoku::parseAdList(text), expected);
}

void tst_Banner::startsAfterShowingAndSizesItself() {
    QCOMPARE(Tkoukoku::defaultListUrl(), QUrl(QStringLiteral(NEPIRIKA_AD_LIST_URL)));
    QVERIFY(Tkoukoku::defaultListUrl().isValid());

    m_server->route("/list.txt", plainText(""));
    BannerWindow w(m_server->url("/list.txt"), 30s, false);
    QCOMPARE(w.banner->height(), 150);

    // Nothing happens before the window is on the screen.
    QTest::qWait(300);
    QVERIFY(!w.banner->browser());
    QVERIFY(m_server->requestsFor("/list.txt").isEmpty());

    QSignalSpy requested(w.banner, &Tkoukoku::listRequested);
    w.window.show();
    QTRY_COMPARE_WITH_TIMEOUT(requested.size(), 1, 10000);
    QCOMPARE(w.banner->bannerWidth(), 477);
    QCOMPARE(w.banner->bannerHeight(), 68);
    QCOMPARE(w.banner->intervalSeconds(), 30);
    QCOMPARE(w.banner->lastIndex(), -5);
    QCOMPARE(w.banner->height(), 68);
    QCOMPARE(w.banner->width(), 600); // the band keeps the window's width
    QCOMPARE(w.banner->view()->geometry(), QRect(600 / 2 - 477 / 2, 0, 477, 68));

    QTRY_VERIFY_WITH_TIMEOUT(w.banner->isLoaded(), 10000);
    QCOMPARE(m_server->requestsFor("/list.txt").size(), 1);

    // Centred once: the browser stays where it is when the window narrows.
    w.window.resize(500, 300);
    QTRY_COMPARE(w.banner->width(), 500);
    QCOMPARE(w.banner->view()->geometry().left(), 600 / 2 - 477 / 2);
}

void tst_Banner::twoEntriesAlternate() {
    m_server->route("/a.html", TestHttpResponse::html(adPage("A")));
    m_server->route("/b.html", TestHttpResponse::html(adPage("B")));
    const QUrl a = m_server->url("/a.html");
    const QUrl b = m_server->url("/b.html");
    m_server->route("/list.txt", plainText(a.toEncoded() + "\r\n" + b.toEncoded() + "\r\n"));

    BannerWindow w(m_server->url("/list.txt"), 400ms);
    QSignalSpy shown(w.banner, &Tkoukoku::advertisementShown);
    QTRY_VERIFY_WITH_TIMEOUT(shown.size() >= 6, 20000);

    QCOMPARE(w.banner->adList(), (QStringList{a.toString(), b.toString()}));
    for (int i = 0; i < shown.size(); ++i) {
        const int index = shown.at(i).at(0).toInt();
        QVERIFY(index == 0 || index == 1);
        QCOMPARE(shown.at(i).at(1).toUrl(), index == 0 ? a : b);
        if (i > 0)
            QVERIFY2(index != shown.at(i - 1).at(0).toInt(), "the same entry twice in a row");
    }
    QCOMPARE(w.banner->lastIndex(), shown.last().at(0).toInt());
    QTRY_VERIFY(m_server->requestsFor("/a.html").size() >= 2);
    QTRY_VERIFY(m_server->requestsFor("/b.html").size() >= 2);
}

void tst_Banner::listEntriesAreFiltered() {
    m_server->route("/a.html", TestHttpResponse::html(adPage("A")));
    m_server->route("/b.html", TestHttpResponse::html(adPage("B")));
    const QByteArray a = m_server->url("/a.html").toEncoded();
    const QByteArray b = m_server->url("/b.html").toEncoded();
    m_server->route("/list.txt", plainText("javascript:document.title='x'\r\n" + a +
                                           "\r\n\r\nfile:///etc/passwd\r\n" + b + "\n"));

    BannerWindow w(m_server->url("/list.txt"), 300ms);
    QSignalSpy shown(w.banner, &Tkoukoku::advertisementShown);
    QTRY_VERIFY_WITH_TIMEOUT(shown.size() >= 5, 20000);
    QCOMPARE(w.banner->adList(), (QStringList{QString::fromLatin1(a), QString::fromLatin1(b)}));
    for (const QList<QVariant>& s : shown)
        QVERIFY(s.at(1).toUrl().scheme() == u"http");
}

void tst_Banner::advertisementCompletionsNeverChangeTheList() {
    // The advertisements themselves are plain-text lists of other addresses.
    const QByteArray other = m_server->url("/other.html").toEncoded();
    m_server->route("/a.txt", plainText(other + "\n" + other + "\n"));
    m_server->route("/b.txt", plainText(other + "\n"));
    const QStringList list{m_server->urlText("/a.txt"), m_server->urlText("/b.txt")};
    m_server->route("/list.txt", plainText(list.join(u'\n').toUtf8()));

    BannerWindow w(m_server->url("/list.txt"), 300ms);
    QSignalSpy taken(w.banner, &Tkoukoku::listTaken);
    QSignalSpy shown(w.banner, &Tkoukoku::advertisementShown);
    QTRY_VERIFY_WITH_TIMEOUT(shown.size() >= 5, 20000);
    QTRY_VERIFY(m_server->requestsFor("/a.txt").size() >= 2);
    QCOMPARE(taken.size(), 1);
    QCOMPARE(w.banner->adList(), list);
    QCOMPARE(m_server->requestsFor("/list.txt").size(), 1);
    QVERIFY(m_server->requestsFor("/other.html").isEmpty());
}

void tst_Banner::errorPageIsNotTheListAndLaterRetrySucceeds() {
    m_server->route("/a.html", TestHttpResponse::html(adPage("A")));
    const QByteArray good = m_server->url("/a.html").toEncoded() + "\n";
    auto calls = std::make_shared<std::atomic<int>>(0);
    // The first answer is an error whose page looks like a list.
    m_server->route("/list.txt", [calls, good](const TestHttpRequest&) {
        if (calls->fetch_add(1) == 0) {
            TestHttpResponse r = TestHttpResponse::error(500, "http://127.0.0.1:1/error-page.html\n");
            r.headers = {{"Content-Type", "text/plain"}};
            return r;
        }
        return plainText(good);
    });

    BannerWindow w(m_server->url("/list.txt"), 30s);
    QSignalSpy failed(w.banner, &Tkoukoku::listFailed);
    QSignalSpy taken(w.banner, &Tkoukoku::listTaken);
    QTRY_COMPARE_WITH_TIMEOUT(failed.size(), 1, 10000);
    QVERIFY(!w.banner->isLoaded());
    QVERIFY(w.banner->adList().isEmpty());
    QVERIFY(!w.banner->view()->isVisible());
    QCOMPARE(failed.first().at(1).toLongLong(), 300);

    QTRY_COMPARE_WITH_TIMEOUT(taken.size(), 1, 10000);
    QCOMPARE(w.banner->adList(), QStringList{QString::fromLatin1(good.trimmed())});
    QCOMPARE(m_server->requestsFor("/list.txt").size(), 2);
    QTRY_COMPARE_WITH_TIMEOUT(w.banner->currentAdvertisement(), m_server->url("/a.html"), 10000);
    QVERIFY(waitUntilShowing(w.banner, m_server->url("/a.html")));
    QVERIFY(w.banner->view()->isVisible());
    QCOMPARE(failed.size(), 1);
}

void tst_Banner::failedAttemptsWaitLongerEachTime() {
    // An HTML page is not a list, however it looks; neither is an address nobody answers at.
    m_server->route("/list.html", TestHttpResponse::html(m_server->url("/a.html").toEncoded()));
    {
        BannerWindow w(m_server->url("/list.html"), 30s);
        w.banner->setRetryDelays(100ms, 400ms);
        QSignalSpy failed(w.banner, &Tkoukoku::listFailed);
        QTRY_VERIFY_WITH_TIMEOUT(failed.size() >= 5, 20000);
        QList<qint64> delays;
        for (const QList<QVariant>& f : failed)
            delays.append(f.at(1).toLongLong());
        QCOMPARE(delays.mid(0, 5), (QList<qint64>{100, 200, 400, 400, 400}));
        QVERIFY(!w.banner->isLoaded());
        QVERIFY(w.banner->adList().isEmpty());
        QVERIFY(m_server->requestsFor("/a.html").isEmpty());
    }

    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    BannerWindow w(QUrl(QStringLiteral("http://127.0.0.1:%1/list.txt").arg(port)), 30s);
    QSignalSpy failed(w.banner, &Tkoukoku::listFailed);
    QTRY_VERIFY_WITH_TIMEOUT(failed.size() >= 2, 20000);
    QVERIFY(!w.banner->isLoaded());
}

void tst_Banner::unansweredListTimesOut() {
    TestHttpResponse hang;
    hang.hang = true;
    m_server->route("/list.txt", hang);
    BannerWindow w(m_server->url("/list.txt"), 30s, false);
    w.banner->setListTimeout(700ms);
    w.window.show();
    QSignalSpy failed(w.banner, &Tkoukoku::listFailed);
    QElapsedTimer clock;
    clock.start();
    QTRY_COMPARE_WITH_TIMEOUT(failed.size(), 1, 10000);
    QVERIFY(clock.elapsed() >= 600);
    QVERIFY(!w.banner->isLoaded());
    QTRY_VERIFY_WITH_TIMEOUT(m_server->requestsFor("/list.txt").size() >= 2, 10000);
}

void tst_Banner::oneEntryIsShownAndStays() {
    m_server->route("/a.html", TestHttpResponse::html(adPage("A")));
    m_server->route("/list.txt", plainText("\n" + m_server->url("/a.html").toEncoded() + "\nfile:///x\n"));

    BannerWindow w(m_server->url("/list.txt"), 300ms);
    QSignalSpy shown(w.banner, &Tkoukoku::advertisementShown);
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 1, 10000);
    QVERIFY(waitUntilShowing(w.banner, m_server->url("/a.html")));
    QTest::qWait(1200);
    QCOMPARE(shown.size(), 1);
    QCOMPARE(w.banner->lastIndex(), 0);
    QVERIFY(!w.banner->isRotating());
    QCOMPARE(m_server->requestsFor("/a.html").size(), 1);
    QCOMPARE(w.banner->browser()->page()->url(), m_server->url("/a.html"));
}

void tst_Banner::oneEntryThatFailedIsTriedAgain() {
    auto calls = std::make_shared<std::atomic<int>>(0);
    m_server->route("/a.html", [calls](const TestHttpRequest&) {
        if (calls->fetch_add(1) == 0)
            return TestHttpResponse::error(503);
        return TestHttpResponse::html(adPage("A"));
    });
    m_server->route("/list.txt", plainText(m_server->url("/a.html").toEncoded()));

    BannerWindow w(m_server->url("/list.txt"), 500ms);
    QSignalSpy shown(w.banner, &Tkoukoku::advertisementShown);
    QElapsedTimer clock;
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 1, 10000);
    clock.start();
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 2, 10000);
    QVERIFY(clock.elapsed() >= 400);
    QVERIFY(waitUntilShowing(w.banner, m_server->url("/a.html")));
    QTest::qWait(1200);
    QCOMPARE(shown.size(), 2);
    QCOMPARE(m_server->requestsFor("/a.html").size(), 2);
    QVERIFY(!w.banner->isRotating());
}

void tst_Banner::noEntryLeavesTheBannerBlank() {
    m_server->route("/list.txt", plainText("\r\njavascript:void(0)\r\n \r\n"));
    BannerWindow w(m_server->url("/list.txt"), 300ms);
    QSignalSpy shown(w.banner, &Tkoukoku::advertisementShown);
    QTRY_VERIFY_WITH_TIMEOUT(w.banner->isLoaded(), 10000);
    QTest::qWait(1000);
    QVERIFY(w.banner->adList().isEmpty());
    QCOMPARE(shown.size(), 0);
    QVERIFY(!w.banner->isRotating());
    QVERIFY(!w.banner->view()->isVisible());
    QCOMPARE(w.banner->lastIndex(), -5);
    QCOMPARE(m_server->requests().size(), 1);
}

void tst_Banner::failedAdvertisementBringsNoBurst() {
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    const QByteArray dead = QStringLiteral("http://127.0.0.1:%1/").arg(port).toLatin1();
    m_server->route("/list.txt", plainText(dead + "a\n" + dead + "b\n"));

    BannerWindow w(m_server->url("/list.txt"), 500ms);
    QSignalSpy shown(w.banner, &Tkoukoku::advertisementShown);
    QElapsedTimer clock;
    QList<qint64> at;
    connect(w.banner, &Tkoukoku::advertisementShown, w.banner, [&]() {
        if (!clock.isValid())
            clock.start();
        at.append(clock.elapsed());
    });
    QTRY_VERIFY_WITH_TIMEOUT(shown.size() >= 4, 20000);
    for (int i = 1; i < at.size(); ++i)
        QVERIFY2(at.at(i) - at.at(i - 1) >= 400, qPrintable(QStringLiteral("tick %1 came too soon").arg(i)));
}

void tst_Banner::clickedLinkOpensOutsideAndBannerKeepsItsPage() {
    const QUrl a = m_server->url("/a.html");
    m_server->route(
        "/a.html",
        TestHttpResponse::html("<html><body style='margin:0'>"
                               "<a href='/target.html' style='display:block;width:200px;height:68px'>go</a>"
                               "<a href='/blank.html' target='_blank' "
                               "style='position:absolute;left:250px;top:0;width:200px;height:68px'>new</a>"
                               "</body></html>"));
    m_server->route("/target.html", TestHttpResponse::html(adPage("T")));
    m_server->route("/blank.html", TestHttpResponse::html(adPage("N")));
    m_server->route("/list.txt", plainText(a.toEncoded()));

    BannerWindow w(m_server->url("/list.txt"), 60s);
    QVERIFY(waitUntilShowing(w.banner, a));
    QSignalSpy opened(w.banner, &Tkoukoku::linkOpenedExternally);
    QWidget* target = w.banner->view()->focusProxy();
    QVERIFY(target);

    // A plain link.
    QVERIFY(clickUntilOpened(target, QPoint(50, 30), w.opened));
    QTest::qWait(500);
    QVERIFY(!w.opened.isEmpty());
    for (const QUrl& url : w.opened)
        QCOMPARE(url, m_server->url("/target.html"));
    QCOMPARE(opened.size(), w.opened.size());

    // A link that asks for a new window.
    w.opened.clear();
    QVERIFY(clickUntilOpened(target, QPoint(300, 30), w.opened));
    QTest::qWait(500);
    QVERIFY(!w.opened.isEmpty());
    for (const QUrl& url : w.opened)
        QCOMPARE(url, m_server->url("/blank.html"));

    // The banner kept its page and loaded neither address itself; no window was opened.
    QTest::qWait(500);
    QCOMPARE(w.banner->browser()->page()->url(), a);
    QCOMPARE(evaluateInPage(w.banner->browser()->page(), QStringLiteral("document.body.textContent"),
                            QWebEngineScript::ApplicationWorld)
                 .toString(),
             QStringLiteral("gonew"));
    QVERIFY(m_server->requestsFor("/target.html").isEmpty());
    QVERIFY(m_server->requestsFor("/blank.html").isEmpty());
    for (QWidget* top : QApplication::topLevelWidgets())
        QVERIFY(top == &w.window || !top->isVisible());
}

void tst_Banner::advertisementCannotOpenTheBrowserByItself() {
    const QUrl a = m_server->url("/a.html");
    // Goes elsewhere by itself, without anybody clicking, and tries to open a window.
    m_server->route("/a.html",
                    TestHttpResponse::html("<html><body>A<script>"
                                           "window.open('/popup.html');"
                                           "setTimeout(function(){ location.href = '/moved.html'; }, 300);"
                                           "</script></body></html>"));
    m_server->route("/moved.html", TestHttpResponse::html(adPage("M")));
    m_server->route("/popup.html", TestHttpResponse::html(adPage("P")));
    m_server->route("/list.txt", plainText(a.toEncoded()));

    BannerWindow w(m_server->url("/list.txt"), 60s);
    // What the advertisement does by itself stays inside the banner.
    QVERIFY(waitUntilShowing(w.banner, m_server->url("/moved.html")));
    QTest::qWait(300);
    QVERIFY(w.opened.isEmpty());
    QVERIFY(m_server->requestsFor("/popup.html").isEmpty());
}

void tst_Banner::leavePageQuestionDoesNotHoldTheRotation_data() {
    QTest::addColumn<QByteArray>("asks");
    const QByteArray div = "<div style='width:477px;height:68px'>A</div>";
    QTest::newRow("window handler and listener")
        << "<html><body style='margin:0'>" + div +
               "<script>window.onbeforeunload = function (e) { e.preventDefault(); return 'stay'; };"
               "window.addEventListener('beforeunload', function (e) {"
               "  e.preventDefault(); e.returnValue = 'stay'; });</script></body></html>";
    QTest::newRow("body attribute") << "<html><body style='margin:0' onbeforeunload=\"return 'stay'\">" +
                                           div + "</body></html>";
    QTest::newRow("document.body property") << "<html><body style='margin:0'>" + div +
                                                   "<script>document.body.onbeforeunload = function () { "
                                                   "return 'stay'; };</script></body></html>";
}

void tst_Banner::leavePageQuestionDoesNotHoldTheRotation() {
    QFETCH(QByteArray, asks);
    m_server->route("/a.html", TestHttpResponse::html(asks));
    m_server->route("/b.html", TestHttpResponse::html(asks));
    const QUrl a = m_server->url("/a.html");
    const QUrl b = m_server->url("/b.html");
    m_server->route("/list.txt", plainText(a.toEncoded() + "\n" + b.toEncoded()));

    BannerWindow w(m_server->url("/list.txt"), 4000ms);
    QSignalSpy shown(w.banner, &Tkoukoku::advertisementShown);
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 1, 10000);
    QVERIFY(waitUntilShowing(w.banner, shown.first().at(1).toUrl()));
    // The user clicks into the advertisement: a page may now ask before it is left.
    QTRY_VERIFY_WITH_TIMEOUT(
        [&]() {
            QTest::mouseClick(w.banner->view()->focusProxy(), Qt::LeftButton, {}, QPoint(100, 30));
            return QTest::qWaitFor(
                [&]() {
                    return evaluateInPage(w.banner->browser()->page(),
                                          QStringLiteral("navigator.userActivation.hasBeenActive"),
                                          QWebEngineScript::ApplicationWorld)
                        .toBool();
                },
                500);
        }(),
        10000);
    // The page shown now has been clicked (on a loaded machine the clicks may have taken longer than
    // one turn, so it need not be the first): the next turn must still come, to the other page.
    const qsizetype turns = shown.size();
    const QUrl clicked = shown.last().at(1).toUrl();
    QTRY_VERIFY_WITH_TIMEOUT(shown.size() > turns, 10000);
    const QUrl next = shown.at(turns).at(1).toUrl();
    QVERIFY(next != clicked);
    QVERIFY(waitUntilShowing(w.banner, next));
    QVERIFY(w.opened.isEmpty());
}

void tst_Banner::profileIsSeparateFromTheHarvester() {
    TestHttpResponse withCookie = TestHttpResponse::html(adPage("A"));
    withCookie.headers = {{"Set-Cookie", "ad=seen; Path=/"}};
    m_server->route("/a.html", withCookie);
    m_server->route("/check.html", TestHttpResponse::html(adPage("C")));
    m_server->route("/list.txt", plainText(m_server->url("/a.html").toEncoded()));

    BannerWindow w(m_server->url("/list.txt"), 60s);
    QVERIFY(waitUntilShowing(w.banner, m_server->url("/a.html")));
    QTRY_VERIFY(!w.banner->browser()->cookieJar()->cookiesForUrl(m_server->url("/a.html")).isEmpty());
    QVERIFY(w.banner->browser()->profile()->isOffTheRecord());

    TWebBrowser harvester;
    QVERIFY(harvester.profile() != w.banner->browser()->profile());
    QSignalSpy complete(&harvester, &TWebBrowser::DocumentComplete);
    harvester.Navigate(m_server->url("/check.html"));
    QTRY_VERIFY_WITH_TIMEOUT(!complete.isEmpty(), 10000);
    const QList<TestHttpRequest> checks = m_server->requestsFor("/check.html");
    QCOMPARE(checks.size(), 1);
    QVERIFY(checks.first().header("cookie").isEmpty());
}

int main(int argc, char** argv) {
    WebEngineSetup::prepareBeforeApplication();
    QApplication app(argc, argv);
    tst_Banner test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_banner.moc"
