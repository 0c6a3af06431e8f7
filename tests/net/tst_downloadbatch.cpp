#include "DownloadBatch.h"
#include "DownloadURL.h"
#include "TestHttpServer.h"

#include <QDir>
#include <QFile>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

namespace {

QByteArray pattern(qsizetype size, char seed = 'a') {
    QByteArray data(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        data[i] = static_cast<char>(seed + (i * 7 + i / 1000) % 26);
    return data;
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<unreadable>");
    return file.readAll();
}

QStringList entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

DownloadItem item(const QString& url, const QString& referer = QString()) {
    DownloadItem i;
    i.url = url;
    i.referer = referer;
    return i;
}

// Runs a batch to its end; empty when it did not finish in time.
DownloadResults run(DownloadBatch& batch, int timeoutMs = 20000) {
    QSignalSpy finished(&batch, &DownloadBatch::finished);
    batch.start();
    if (finished.isEmpty() && !finished.wait(timeoutMs))
        return {};
    if (finished.size() != 1)
        return {};
    return finished.front().front().value<DownloadResults>();
}

DownloadResults runOne(const QString& folder, const DownloadItem& one, const DownloadOptions& options = {}) {
    DownloadBatch batch(folder, {one}, options);
    return run(batch);
}

} // namespace

class TestDownloadBatch : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();

    void success();
    void sameNameInOneBatch();
    void existingFileAndLinkAreKept();
    void httpErrors_data();
    void httpErrors();
    void bodyCutShort();
    void redirectIsFollowedAndNameKept();
    void badRedirects_data();
    void badRedirects();
    void compressedBodyIsStreamed();
    void dataAddresses_data();
    void dataAddresses();
    void unsupportedAddresses_data();
    void unsupportedAddresses();
    void connectionRefused();
    void silentServerTimesOut();
    void refererCookieAndUserAgentSent();
    void transfersRunAtOnce();
    void slowTransferCancelled();
    void unwritableFolder_data();
    void unwritableFolder();
    void writeFailureMidBody();
    void downloadUrlWaitsForTheFile();

private:
    TestHttpServer m_server;
};

void TestDownloadBatch::initTestCase() {
    QVERIFY(m_server.start());
}

void TestDownloadBatch::success() {
    QTemporaryDir dir;
    const QByteArray body = pattern(300 * 1024);
    m_server.route(QStringLiteral("/ok/photo.jpg"), TestHttpResponse::withType("image/jpeg", body));
    DownloadBatch batch(dir.path(), {item(m_server.urlText(QStringLiteral("/ok/photo.jpg")))});
    QSignalSpy items(&batch, &DownloadBatch::itemFinished);
    QSignalSpy progress(&batch, &DownloadBatch::progress);
    const DownloadResults results = run(batch);
    QCOMPARE(results.size(), 1);
    QVERIFY2(results[0].succeeded(), qPrintable(results[0].message));
    QCOMPARE(results[0].path, dir.path() + QStringLiteral("/photo.jpg"));
    QCOMPARE(results[0].bytes, body.size());
    QCOMPARE(readAll(results[0].path), body);
    QCOMPARE(entries(dir.path()), QStringList{QStringLiteral("photo.jpg")});
    QCOMPARE(items.size(), 1);
    QVERIFY(!progress.isEmpty());
    const QList<QVariant> last = progress.last();
    QCOMPARE(last.at(0).toInt(), 1);
    QCOMPARE(last.at(1).toInt(), 1);
    QCOMPARE(last.at(3).toLongLong(), body.size());
    QCOMPARE(batch.bytesReceived(), body.size());
}

void TestDownloadBatch::sameNameInOneBatch() {
    QTemporaryDir dir;
    m_server.route(QStringLiteral("/x/logo.gif"), TestHttpResponse::withType("image/gif", "from x"));
    m_server.route(QStringLiteral("/y/logo.gif"), TestHttpResponse::withType("image/gif", "from y"));
    DownloadOptions one;
    one.parallel = 1; // in order, so that the first item keeps the plain name
    DownloadBatch batch(dir.path(),
                        {item(m_server.urlText(QStringLiteral("/x/logo.gif"))),
                         item(m_server.urlText(QStringLiteral("/y/logo.gif")))},
                        one);
    const DownloadResults results = run(batch);
    QCOMPARE(results.size(), 2);
    QVERIFY(results[0].succeeded() && results[1].succeeded());
    QCOMPARE(readAll(dir.filePath(QStringLiteral("logo.gif"))), QByteArray("from x"));
    QCOMPARE(readAll(dir.filePath(QStringLiteral("logo (2).gif"))), QByteArray("from y"));
    QCOMPARE(results[1].path, dir.filePath(QStringLiteral("logo (2).gif")));
}

void TestDownloadBatch::existingFileAndLinkAreKept() {
    QTemporaryDir dir;
    QTemporaryDir outside;
    {
        QFile old(dir.filePath(QStringLiteral("a.bin")));
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old content");
    }
    const QString victim = outside.filePath(QStringLiteral("victim"));
    {
        QFile file(victim);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("outside");
    }
    QVERIFY(QFile::link(victim, dir.filePath(QStringLiteral("b.bin"))));
    m_server.route(QStringLiteral("/a.bin"), TestHttpResponse::withType("application/octet-stream", "new a"));
    m_server.route(QStringLiteral("/b.bin"), TestHttpResponse::withType("application/octet-stream", "new b"));
    DownloadBatch batch(dir.path(), {item(m_server.urlText(QStringLiteral("/a.bin"))),
                                     item(m_server.urlText(QStringLiteral("/b.bin")))});
    const DownloadResults results = run(batch);
    QCOMPARE(results.size(), 2);
    QVERIFY(results[0].succeeded() && results[1].succeeded());
    QCOMPARE(readAll(dir.filePath(QStringLiteral("a.bin"))), QByteArray("old content"));
    QCOMPARE(readAll(dir.filePath(QStringLiteral("a (2).bin"))), QByteArray("new a"));
    QCOMPARE(readAll(victim), QByteArray("outside"));
    QVERIFY(QFileInfo(dir.filePath(QStringLiteral("b.bin"))).isSymLink());
    QCOMPARE(readAll(dir.filePath(QStringLiteral("b (2).bin"))), QByteArray("new b"));
}

void TestDownloadBatch::httpErrors_data() {
    QTest::addColumn<int>("status");
    QTest::newRow("404") << 404;
    QTest::newRow("500") << 500;
    QTest::newRow("403") << 403;
}

void TestDownloadBatch::httpErrors() {
    QFETCH(int, status);
    QTemporaryDir dir;
    const QString path = QStringLiteral("/error/%1.png").arg(status);
    m_server.route(path, TestHttpResponse::error(status, pattern(20000)));
    const DownloadResults results = runOne(dir.path(), item(m_server.urlText(path)));
    QCOMPARE(results.size(), 1);
    QCOMPARE(results[0].status, DownloadResult::Status::Failed);
    QVERIFY2(results[0].message.contains(QString::number(status)), qPrintable(results[0].message));
    QVERIFY(entries(dir.path()).isEmpty());
}

void TestDownloadBatch::bodyCutShort() {
    QTemporaryDir dir;
    TestHttpResponse cut = TestHttpResponse::withType("application/octet-stream", pattern(100000));
    cut.declaredLength = 250000;
    m_server.route(QStringLiteral("/cut.bin"), cut);
    m_server.clearLog();
    DownloadOptions options;
    options.retryDelayMs = 10;
    const DownloadResults results =
        runOne(dir.path(), item(m_server.urlText(QStringLiteral("/cut.bin"))), options);
    // A cut is transient: tried again (from the start: no ranges offered), then reported. (Qt may
    // itself resend a request whose connection closed early.)
    QVERIFY(m_server.requestsFor(QStringLiteral("/cut.bin")).size() >= 1 + options.retries);
    QCOMPARE(results.size(), 1);
    QCOMPARE(results[0].status, DownloadResult::Status::Failed);
    QVERIFY(!results[0].message.isEmpty());
    QVERIFY(entries(dir.path()).isEmpty());
}

void TestDownloadBatch::redirectIsFollowedAndNameKept() {
    QTemporaryDir dir;
    m_server.route(QStringLiteral("/real/target.dat"),
                   TestHttpResponse::withType("text/plain", "the content"));
    m_server.route(QStringLiteral("/go/start.png"), TestHttpResponse::redirect(302, "/hop"));
    // A relative Location, resolved against the address that redirected.
    m_server.route(QStringLiteral("/hop"), TestHttpResponse::redirect(301, "real/target.dat"));
    const DownloadResults results =
        runOne(dir.path(), item(m_server.urlText(QStringLiteral("/go/start.png"))));
    QCOMPARE(results.size(), 1);
    QVERIFY2(results[0].succeeded(), qPrintable(results[0].message));
    QCOMPARE(entries(dir.path()), QStringList{QStringLiteral("start.png")});
    QCOMPARE(readAll(dir.filePath(QStringLiteral("start.png"))), QByteArray("the content"));
}

void TestDownloadBatch::badRedirects_data() {
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("reasonPart");
    // Going back to an address already seen is allowed; only the number of hops is limited.
    QTest::newRow("back and forth") << "/loop/a" << QStringLiteral("20");
    QTest::newRow("to itself") << "/loop/self" << QStringLiteral("20");
    QTest::newRow("too many") << "/chain/0" << QStringLiteral("20");
    QTest::newRow("to file") << "/to/file" << QStringLiteral("file:");
    QTest::newRow("to ftp") << "/to/ftp" << QStringLiteral("ftp:");
}

void TestDownloadBatch::badRedirects() {
    QFETCH(QString, start);
    QFETCH(QString, reasonPart);
    m_server.route(QStringLiteral("/loop/a"), TestHttpResponse::redirect(302, "/loop/b"));
    m_server.route(QStringLiteral("/loop/b"), TestHttpResponse::redirect(307, "/loop/a"));
    m_server.route(QStringLiteral("/loop/self"), TestHttpResponse::redirect(301, "/loop/self"));
    m_server.route(QStringLiteral("/to/file"), TestHttpResponse::redirect(302, "file:///etc/passwd"));
    m_server.route(QStringLiteral("/to/ftp"), TestHttpResponse::redirect(302, "ftp://127.0.0.1/x"));
    for (int i = 0; i < 30; ++i) {
        m_server.route(QStringLiteral("/chain/%1").arg(i),
                       TestHttpResponse::redirect(302, QByteArray("/chain/") + QByteArray::number(i + 1)));
    }
    QTemporaryDir dir;
    const DownloadResults results = runOne(dir.path(), item(m_server.urlText(start)));
    QCOMPARE(results.size(), 1);
    QCOMPARE(results[0].status, DownloadResult::Status::Failed);
    QVERIFY2(results[0].message.contains(reasonPart), qPrintable(results[0].message));
    QVERIFY(entries(dir.path()).isEmpty());
}

void TestDownloadBatch::compressedBodyIsStreamed() {
    QTemporaryDir dir;
    const QByteArray plain = pattern(4 * 1024 * 1024);
    // qCompress gives a zlib stream behind a four-byte length.
    const QByteArray deflated = qCompress(plain, 9).mid(4);
    QVERIFY(deflated.size() < plain.size() / 4);
    TestHttpResponse response = TestHttpResponse::withType("application/octet-stream", deflated);
    response.headers.append(qMakePair(QByteArray("Content-Encoding"), QByteArray("deflate")));
    m_server.route(QStringLiteral("/packed.bin"), response);
    const DownloadResults results = runOne(dir.path(), item(m_server.urlText(QStringLiteral("/packed.bin"))));
    QCOMPARE(results.size(), 1);
    QVERIFY2(results[0].succeeded(), qPrintable(results[0].message));
    QCOMPARE(QFileInfo(dir.filePath(QStringLiteral("packed.bin"))).size(), plain.size());
    QVERIFY(readAll(dir.filePath(QStringLiteral("packed.bin"))) == plain);
}

void TestDownloadBatch::dataAddresses_data() {
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("base64") << "data:image/png;base64,iVBORw0KGgo="
                            << "data.png" << QByteArray("\x89PNG\r\n\x1a\n");
    QTest::newRow("percent-encoded text")
        << "data:,a%20b%E3%81%82" << QStringLiteral("data.txt") << QByteArray("a b\xe3\x81\x82");
}

void TestDownloadBatch::dataAddresses() {
    QFETCH(QString, url);
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QTemporaryDir dir;
    const DownloadResults results = runOne(dir.path(), item(url));
    QCOMPARE(results.size(), 1);
    QVERIFY2(results[0].succeeded(), qPrintable(results[0].message));
    QCOMPARE(entries(dir.path()), QStringList{name});
    QCOMPARE(readAll(dir.filePath(name)), content);
}

void TestDownloadBatch::unsupportedAddresses_data() {
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("reasonPart");
    QTest::newRow("file") << "file:///etc/hostname" << QStringLiteral("file:");
    QTest::newRow("ftp") << "ftp://127.0.0.1/a.zip" << QStringLiteral("ftp:");
    QTest::newRow("javascript") << "javascript:void(0)" << QStringLiteral("javascript:");
    QTest::newRow("no scheme") << "just words" << QStringLiteral("アドレス");
    QTest::newRow("bad base64") << "data:;base64,@@@@" << QStringLiteral("data:");
    // Qt reads port digits into a number that wraps at 2^64: this would be port 81.
    QTest::newRow("port past 2^64") << "http://127.0.0.1:18446744073709551697/a.jpg"
                                    << QStringLiteral("アドレス");
}

void TestDownloadBatch::unsupportedAddresses() {
    QFETCH(QString, url);
    QFETCH(QString, reasonPart);
    QTemporaryDir dir;
    const DownloadResults results = runOne(dir.path(), item(url));
    QCOMPARE(results.size(), 1);
    QCOMPARE(results[0].status, DownloadResult::Status::Failed);
    QVERIFY2(results[0].message.contains(reasonPart), qPrintable(results[0].message));
    QVERIFY(entries(dir.path()).isEmpty());
}

void TestDownloadBatch::connectionRefused() {
    quint16 port = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        port = probe.serverPort();
    }
    QTemporaryDir dir;
    DownloadOptions options;
    options.retryDelayMs = 10; // refused is transient: retried, then reported
    const DownloadResults results =
        runOne(dir.path(), item(QStringLiteral("http://127.0.0.1:%1/a.jpg").arg(port)), options);
    QCOMPARE(results.size(), 1);
    QCOMPARE(results[0].status, DownloadResult::Status::Failed);
    QVERIFY2(results[0].message.contains(QStringLiteral("拒否")), qPrintable(results[0].message));
    QVERIFY(entries(dir.path()).isEmpty());
}

void TestDownloadBatch::silentServerTimesOut() {
    QTemporaryDir dir;
    TestHttpResponse silent;
    silent.hang = true;
    m_server.route(QStringLiteral("/silent.jpg"), silent);
    DownloadOptions options;
    options.inactivityTimeoutMs = 300;
    options.retries = 0;
    const DownloadResults results =
        runOne(dir.path(), item(m_server.urlText(QStringLiteral("/silent.jpg"))), options);
    QCOMPARE(results.size(), 1);
    QCOMPARE(results[0].status, DownloadResult::Status::Failed);
    QVERIFY2(results[0].message.contains(QStringLiteral("タイムアウト")), qPrintable(results[0].message));
    QVERIFY(entries(dir.path()).isEmpty());
}

void TestDownloadBatch::refererCookieAndUserAgentSent() {
    QTemporaryDir dir;
    m_server.route(QStringLiteral("/guarded/pic.jpg"), TestHttpResponse::withType("image/jpeg", "picture"));
    m_server.route(QStringLiteral("/guarded/moved.jpg"), TestHttpResponse::redirect(302, "/guarded/pic.jpg"));
    m_server.clearLog();
    QNetworkCookieJar jar;
    jar.setCookiesFromUrl({QNetworkCookie("session", "s3cr3t")}, m_server.url(QStringLiteral("/")));
    DownloadOptions options;
    options.cookieJar = &jar;
    options.userAgent = "TestAgent/1.0";
    const QString referer = m_server.urlText(QStringLiteral("/gallery.html"));
    const DownloadResults results =
        runOne(dir.path(), item(m_server.urlText(QStringLiteral("/guarded/moved.jpg")), referer), options);
    QCOMPARE(results.size(), 1);
    QVERIFY2(results[0].succeeded(), qPrintable(results[0].message));
    const QList<TestHttpRequest> requests = m_server.requests();
    QCOMPARE(requests.size(), 2);
    // Both the first request and the one after the redirect.
    for (const TestHttpRequest& request : requests) {
        QCOMPARE(request.header("referer"), referer.toUtf8());
        QVERIFY2(request.header("cookie").contains("session=s3cr3t"), request.header("cookie").constData());
        QCOMPARE(request.header("user-agent"), QByteArray("TestAgent/1.0"));
    }
    QCOMPARE(jar.parent(), nullptr); // the browser's jar stays the browser's
}

void TestDownloadBatch::transfersRunAtOnce() {
    TestHttpResponse slow = TestHttpResponse::withType("application/octet-stream", pattern(1000));
    slow.delayMs = 400;
    m_server.route(QStringLiteral("/slow"), slow);
    QList<DownloadItem> items;
    for (int i = 0; i < 10; ++i)
        items.append(item(m_server.urlText(QStringLiteral("/slow?n=%1").arg(i))));

    QTemporaryDir dir;
    m_server.clearLog();
    DownloadBatch batch(dir.path(), items);
    const DownloadResults results = run(batch);
    QCOMPARE(results.size(), 10);
    for (const DownloadResult& r : results)
        QVERIFY2(r.succeeded(), qPrintable(r.message));
    QCOMPARE(m_server.maxConcurrent(), 6); // the default, as browsers do
    QCOMPARE(entries(dir.path()).size(), 10);

    // The limit for one host is kept even when more may run in all.
    QTemporaryDir dir2;
    m_server.clearLog();
    DownloadOptions options;
    options.parallel = 8;
    options.maxPerHost = 2;
    DownloadBatch limited(dir2.path(), items, options);
    QCOMPARE(run(limited).size(), 10);
    QCOMPARE(m_server.maxConcurrent(), 2);
}

void TestDownloadBatch::slowTransferCancelled() {
    QTemporaryDir dir;
    TestHttpResponse slow = TestHttpResponse::withType("application/octet-stream", pattern(2 * 1024 * 1024));
    slow.bytesPerSecond = 100 * 1024;
    m_server.route(QStringLiteral("/trickle.bin"), slow);
    TestHttpResponse waiting = TestHttpResponse::withType("text/plain", "later");
    m_server.route(QStringLiteral("/waiting.txt"), waiting);
    DownloadOptions one;
    one.parallel = 1;
    DownloadBatch batch(dir.path(),
                        {item(m_server.urlText(QStringLiteral("/trickle.bin"))),
                         item(m_server.urlText(QStringLiteral("/waiting.txt")))},
                        one);
    QSignalSpy finished(&batch, &DownloadBatch::finished);
    batch.start();
    QTRY_VERIFY_WITH_TIMEOUT(batch.bytesReceived() > 20000, 10000);
    QCOMPARE(batch.currentUrls(), QStringList{m_server.urlText(QStringLiteral("/trickle.bin"))});
    // The partial data has no name yet: nothing in the folder, not even a placeholder.
    QVERIFY(entries(dir.path()).isEmpty());
    batch.cancel();
    QTRY_COMPARE(finished.size(), 1);
    const DownloadResults results = batch.results();
    QCOMPARE(results[0].status, DownloadResult::Status::Cancelled);
    QCOMPARE(results[1].status, DownloadResult::Status::Cancelled);
    QVERIFY(entries(dir.path()).isEmpty());
}

void TestDownloadBatch::unwritableFolder_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<bool>("needsPermissionBits");
    // /proc refuses new files whoever asks; a path below a regular file is no folder at all.
    QTest::newRow("read-only file system") << "/proc/self" << false;
    QTest::newRow("below a file") << "FILE/sub" << false;
    QTest::newRow("no write permission") << "LOCKED" << true;
}

void TestDownloadBatch::unwritableFolder() {
    QFETCH(QString, folder);
    QFETCH(bool, needsPermissionBits);
    if (needsPermissionBits && ::geteuid() == 0)
        QSKIP("permission bits do not stop the superuser; the other rows cover an unwritable folder");
    QTemporaryDir dir;
    if (folder.startsWith(u"FILE")) {
        QFile file(dir.filePath(QStringLiteral("FILE")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        folder = dir.filePath(folder);
    } else if (folder == u"LOCKED") {
        folder = dir.filePath(folder);
        QVERIFY(QDir().mkdir(folder));
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
    }
    m_server.route(QStringLiteral("/w.jpg"), TestHttpResponse::withType("image/jpeg", "picture"));
    m_server.clearLog();
    const DownloadResults results = runOne(folder, item(m_server.urlText(QStringLiteral("/w.jpg"))));
    QCOMPARE(results.size(), 1);
    QCOMPARE(results[0].status, DownloadResult::Status::Failed);
    QVERIFY(!results[0].message.isEmpty());
    // Nothing is fetched that could not be kept.
    QVERIFY(m_server.requests().isEmpty());
    if (QFileInfo(folder).isDir())
        QVERIFY(entries(folder).isEmpty() || folder.startsWith(u"/proc"));
}

void TestDownloadBatch::writeFailureMidBody() {
    // A file size limit makes writes fail part-way as a full disk would, and works for any user.
    QTemporaryDir dir;
    m_server.route(QStringLiteral("/big.bin"),
                   TestHttpResponse::withType("application/octet-stream", pattern(600000)));
    struct rlimit saved {};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 200 * 1024;
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const DownloadResults results = runOne(dir.path(), item(m_server.urlText(QStringLiteral("/big.bin"))));
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    QCOMPARE(results.size(), 1);
    QCOMPARE(results[0].status, DownloadResult::Status::Failed);
    QVERIFY2(results[0].message.contains(QStringLiteral("書き込めません")), qPrintable(results[0].message));
    QVERIFY(entries(dir.path()).isEmpty());
}

void TestDownloadBatch::downloadUrlWaitsForTheFile() {
    QTemporaryDir dir;
    m_server.route(QStringLiteral("/single.txt"), TestHttpResponse::withType("text/plain", "single"));
    const QString url = m_server.urlText(QStringLiteral("/single.txt"));
    const QString dest = dir.filePath(QStringLiteral("chosen.txt"));
    QVERIFY(DownloadURL(url, dest));
    QCOMPARE(readAll(dest), QByteArray("single"));
    // The file is there: it is never replaced.
    QVERIFY(!DownloadURL(url, dest));
    QCOMPARE(readAll(dest), QByteArray("single"));
    QVERIFY(
        !DownloadURL(m_server.urlText(QStringLiteral("/missing")), dir.filePath(QStringLiteral("m.txt"))));
    // An address ending in "/" joined to the folder names no file.
    QVERIFY(!DownloadURL(url, dir.path() + QStringLiteral("/")));
    QCOMPARE(entries(dir.path()), QStringList{QStringLiteral("chosen.txt")});
}

QTEST_GUILESS_MAIN(TestDownloadBatch)
#include "tst_downloadbatch.moc"
