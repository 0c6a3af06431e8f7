#include "DownloadBatch.h"
#include "DownloadURL.h"
#include "HostPauses.h"
#include "TestHttpServer.h"
#include "VfatImage.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocale>
#include <QMutex>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <csignal>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>
#include <zlib.h>

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

// A gzip member, as a server's Content-Encoding: gzip sends it; windowBits -15 gives the raw
// deflate stream that some servers send as "deflate".
QByteArray gzip(const QByteArray& data, int windowBits = 15 + 16) {
    z_stream stream{};
    if (deflateInit2(&stream, 6, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return {};
    QByteArray out(static_cast<qsizetype>(deflateBound(&stream, static_cast<uLong>(data.size()))), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.truncate(static_cast<qsizetype>(stream.total_out));
    deflateEnd(&stream);
    return out;
}

// Options for tests that meet transient failures on purpose: short waits between tries.
DownloadOptions quickRetries() {
    DownloadOptions options;
    options.retryDelayMs = 20;
    return options;
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
    void redirectHops_data();
    void redirectHops();
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
    void folders_data();
    void folders();
    void downloadUrlWaitsForTheFile();

    // A hostile server: what may and may not count as a saved file.
    void integrity_data();
    void integrity();
    void cookieRedirectBackToSameAddress();
    void httpsToHttpRedirectRefused();
    void referer_data();
    void referer();
    void retries_data();
    void retries();
    void resume_data();
    void resume();
    void partialFileContinued_data();
    void partialFileContinued();
    void namesFromResponse_data();
    void namesFromResponse();
    void numbersFollowListOrder();
    void waitingForANameTakesNoSlot();

private:
    TestHttpServer m_server;
    // A second origin (another port) for what crosses origins.
    TestHttpServer m_other;
};

void TestDownloadBatch::initTestCase() {
    QVERIFY(m_server.start());
    QVERIFY(m_other.start());
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

void TestDownloadBatch::redirectHops_data() {
    QTest::addColumn<int>("hops");
    QTest::addColumn<bool>("saved");
    QTest::newRow("20 hops, as browsers allow") << 20 << true;
    QTest::newRow("21 hops") << 21 << false;
}

void TestDownloadBatch::redirectHops() {
    QFETCH(int, hops);
    QFETCH(bool, saved);
    const QString base = QStringLiteral("/hops%1/").arg(hops);
    for (int i = 0; i < hops; ++i)
        m_server.route(base + QString::number(i),
                       TestHttpResponse::redirect(302, (base + QString::number(i + 1)).toUtf8()));
    m_server.route(base + QString::number(hops), TestHttpResponse::withType("text/plain", "arrived"));
    QTemporaryDir dir;
    const DownloadResults results = runOne(dir.path(), item(m_server.urlText(base + QStringLiteral("0"))));
    QCOMPARE(results.size(), 1);
    QCOMPARE(results[0].succeeded(), saved);
    QCOMPARE(entries(dir.path()).size(), saved ? 1 : 0);
    if (!saved)
        QVERIFY2(results[0].message.contains(QStringLiteral("20")), qPrintable(results[0].message));
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

    // Past Qt's six connections to one host.
    QTemporaryDir dir3;
    m_server.clearLog();
    options.parallel = 8;
    options.maxPerHost = 8;
    DownloadBatch eight(dir3.path(), items, options);
    QCOMPARE(run(eight).size(), 10);
    QCOMPARE(m_server.maxConcurrent(), 8);
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

void TestDownloadBatch::folders_data() {
    QTest::addColumn<bool>("onFat");
    QTest::newRow("the tests' own folder") << false;
    // A USB stick's file system: no hard links, no O_TMPFILE, no rename that refuses to replace.
    QTest::newRow("FAT image") << true;
}

void TestDownloadBatch::folders() {
    QFETCH(bool, onFat);
    QTemporaryDir temporary;
    VfatImage fat;
    if (onFat && !fat.mount())
        QSKIP(qPrintable(fat.skipReason()));
    const QDir dir(onFat ? fat.path() : temporary.path());
    // What a killed transfer left behind, and the file of one that is still running (it holds its lock).
    QFile left(dir.filePath(QStringLiteral(".part-dead1.tmp")));
    QVERIFY(left.open(QIODevice::WriteOnly) && left.write("left") == 4);
    left.close();
    QFile running(dir.filePath(QStringLiteral(".part-beef.tmp")));
    QVERIFY(running.open(QIODevice::WriteOnly));
    QCOMPARE(::flock(running.handle(), LOCK_EX | LOCK_NB), 0);
    QFile old(dir.filePath(QStringLiteral("logo.gif")));
    QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
    old.close();
    m_server.route(QStringLiteral("/fat/a/logo.gif"),
                   TestHttpResponse::withType("image/gif", pattern(70000, 'a')));
    m_server.route(QStringLiteral("/fat/b/logo.gif"), TestHttpResponse::withType("image/gif", "from b"));
    TestHttpResponse cut = TestHttpResponse::withType("image/gif", pattern(50000));
    cut.declaredLength = 90000;
    m_server.route(QStringLiteral("/fat/c/logo.gif"), cut);
    DownloadOptions options;
    options.retries = 0;
    DownloadBatch batch(dir.path(),
                        {item(m_server.urlText(QStringLiteral("/fat/a/logo.gif"))),
                         item(m_server.urlText(QStringLiteral("/fat/b/logo.gif"))),
                         item(m_server.urlText(QStringLiteral("/fat/c/logo.gif")))},
                        options);
    const DownloadResults results = run(batch);
    QCOMPARE(results.size(), 3);
    QVERIFY2(results[0].succeeded(), qPrintable(results[0].message));
    QVERIFY2(results[1].succeeded(), qPrintable(results[1].message));
    QCOMPARE(results[2].status, DownloadResult::Status::Failed);
    QCOMPARE(entries(dir.path()),
             (QStringList{QStringLiteral(".part-beef.tmp"), QStringLiteral("logo (2).gif"),
                          QStringLiteral("logo (3).gif"), QStringLiteral("logo.gif")}));
    QCOMPARE(readAll(dir.filePath(QStringLiteral("logo.gif"))), QByteArray("old"));
    QVERIFY(readAll(dir.filePath(QStringLiteral("logo (2).gif"))) == pattern(70000, 'a'));
    QCOMPARE(readAll(dir.filePath(QStringLiteral("logo (3).gif"))), QByteArray("from b"));
    QCOMPARE(results[1].path, dir.filePath(QStringLiteral("logo (3).gif")));
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

void TestDownloadBatch::integrity_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("saved");
    QTest::addColumn<QString>("reasonPart");
    QTest::newRow("gzip whole, with length") << "gzip" << true << "";
    QTest::newRow("gzip whole, no length") << "gzip no length" << true << "";
    // Qt may see the early close itself and say so; either way the item fails.
    QTest::newRow("gzip cut short, with length") << "gzip cut" << false << QStringLiteral("切れ|閉じ");
    QTest::newRow("gzip cut short, no length")
        << "gzip cut no length" << false << QStringLiteral("切れ|閉じ");
    QTest::newRow("gzip garbage") << "gzip garbage" << false << QStringLiteral("壊れ");
    QTest::newRow("raw deflate") << "raw deflate" << true << "";
    QTest::newRow("chunked whole") << "chunked" << true << "";
    QTest::newRow("chunked cut short") << "chunked cut" << false << QStringLiteral("切れ|閉じ");
    // Never taken for the whole body, however the close falls: retries off, 40 tries each.
    QTest::newRow("chunked cut between chunks, 40 tries")
        << "chunked cut 40" << false << QStringLiteral("切れ|閉じ");
    QTest::newRow("chunked cut inside a chunk, 40 tries")
        << "chunked cut inside 40" << false << QStringLiteral("切れ|閉じ");
    QTest::newRow("plain, no length") << "plain no length" << true << "";
    QTest::newRow("unknown encoding") << "br" << false << QStringLiteral("br");
    QTest::newRow("204") << "204" << false << QStringLiteral("204");
    QTest::newRow("205") << "205" << false << QStringLiteral("205");
    QTest::newRow("unasked 206") << "206" << false << QStringLiteral("206");
    QTest::newRow("304") << "304" << false << QStringLiteral("304");
    QTest::newRow("302 without Location") << "302" << false << QStringLiteral("302");
    QTest::newRow("zlib deflate, a byte at a time") << "zlib trickled" << true << "";
    // A gzip file labelled Content-Encoding: gzip is the file itself: saved as sent.
    QTest::newRow("gzip file labelled gzip, by name") << "gzip file by name" << true << "";
    QTest::newRow("gzip file labelled gzip, by type") << "gzip file by type" << true << "";
    QTest::newRow("gzip bomb") << "bomb" << false << QStringLiteral("展開後のサイズが大きすぎます");
}

void TestDownloadBatch::integrity() {
    QFETCH(QString, kind);
    QFETCH(bool, saved);
    QFETCH(QString, reasonPart);
    const QByteArray plain = kind == u"zlib trickled" ? QByteArray("abc") : pattern(300 * 1024);
    const QByteArray packed = gzip(plain);
    QVERIFY(!packed.isEmpty());
    TestHttpResponse response = TestHttpResponse::withType("application/octet-stream", packed);
    response.headers.append(qMakePair(QByteArray("Content-Encoding"), QByteArray("gzip")));
    if (kind.contains(u"cut")) {
        response.body = packed.left(packed.size() / 2);
        response.declaredLength = packed.size();
    }
    if (kind.contains(u"no length"))
        response.sendLength = false;
    if (kind == u"gzip garbage")
        response.body = pattern(5000);
    if (kind == u"br")
        response.headers.last().second = "br";
    if (kind.startsWith(u"chunked") || kind.startsWith(u"plain")) {
        // No encoding at all.
        response.headers.removeLast();
        response.body = kind.contains(u"cut") ? plain.left(100000) : plain;
        response.chunked = kind.startsWith(u"chunked");
        response.cutInsideChunk = kind.contains(u"inside");
        response.declaredLength = kind.contains(u"cut") ? plain.size() : -1;
    }
    if (kind == u"zlib trickled") {
        // The first read brings a single byte: too few to tell zlib from raw deflate.
        response.body = gzip(plain, 15);
        response.headers.last().second = "deflate";
        response.bytesPerSecond = 20;
    }
    if (kind == u"raw deflate") {
        response.body = gzip(plain, -15);
        response.headers.last().second = "deflate";
    }
    const bool gzipFile = kind.startsWith(u"gzip file");
    if (gzipFile)
        response.headers.first().second =
            kind.endsWith(u"type") ? "application/x-gzip" : "application/octet-stream";
    if (kind == u"bomb") // 72 MiB of zeros, a thousandfold compressed
        response.body = gzip(QByteArray(72 * 1024 * 1024, '\0'));
    if (kind.front().isDigit()) {
        response =
            TestHttpResponse::withType("application/octet-stream", kind == u"206" ? plain.left(100) : "");
        response.status = kind.toInt();
        if (kind == u"206")
            response.headers.append(qMakePair(QByteArray("Content-Range"), QByteArray("bytes 0-99/307200")));
    }
    const QString path = QStringLiteral("/hostile/%1.%2")
                             .arg(qHash(QByteArray(QTest::currentDataTag())))
                             .arg(kind.endsWith(u"name") ? QStringLiteral("tar.gz") : QStringLiteral("bin"));
    m_server.route(path, response);
    DownloadOptions options = quickRetries();
    const int tries = kind.endsWith(u" 40") ? 40 : 1;
    if (tries > 1)
        options.retries = 0;
    for (int i = 1; i < tries; ++i) {
        QTemporaryDir dir;
        const DownloadResults results = runOne(dir.path(), item(m_server.urlText(path)), options);
        QCOMPARE(results.size(), 1);
        QVERIFY2(!results[0].succeeded(), qPrintable(QStringLiteral("saved on try %1").arg(i)));
        QCOMPARE(entries(dir.path()), QStringList());
    }
    m_server.clearLog();
    QTemporaryDir dir;
    const DownloadResults results = runOne(dir.path(), item(m_server.urlText(path)), options);
    QCOMPARE(results.size(), 1);
    const QList<TestHttpRequest> requests = m_server.requestsFor(path);
    QVERIFY(!requests.isEmpty());
    // The file as it is: the length can then always be checked.
    QCOMPARE(requests[0].header("accept-encoding"), QByteArray("identity"));
    if (saved) {
        QVERIFY2(results[0].succeeded(), qPrintable(results[0].message));
        QCOMPARE(entries(dir.path()).size(), 1);
        QVERIFY(readAll(results[0].path) == (gzipFile ? packed : plain));
    } else {
        QCOMPARE(results[0].status, DownloadResult::Status::Failed);
        QVERIFY2(results[0].message.contains(QRegularExpression(reasonPart)), qPrintable(results[0].message));
        QCOMPARE(entries(dir.path()), QStringList());
    }
}

void TestDownloadBatch::cookieRedirectBackToSameAddress() {
    // The site sets a cookie and sends the client back where it came from.
    m_server.route(QStringLiteral("/gate/file.txt"), [](const TestHttpRequest& request) {
        if (request.header("cookie").contains("passed=1"))
            return TestHttpResponse::withType("text/plain", "behind the gate");
        TestHttpResponse back = TestHttpResponse::redirect(302, "/gate/file.txt");
        back.headers.append(qMakePair(QByteArray("Set-Cookie"), QByteArray("passed=1; Path=/")));
        return back;
    });
    m_server.clearLog();
    QTemporaryDir dir;
    const DownloadResults results =
        runOne(dir.path(), item(m_server.urlText(QStringLiteral("/gate/file.txt"))));
    QCOMPARE(results.size(), 1);
    QVERIFY2(results[0].succeeded(), qPrintable(results[0].message));
    QCOMPARE(readAll(dir.filePath(QStringLiteral("file.txt"))), QByteArray("behind the gate"));
    QCOMPARE(m_server.requestsFor(QStringLiteral("/gate/file.txt")).size(), 2);
}

void TestDownloadBatch::httpsToHttpRedirectRefused() {
    // A second origin over TLS, with a certificate made for this run and trusted by this process only.
    QTemporaryDir keys;
    const QString certificate = keys.filePath(QStringLiteral("cert.pem"));
    const QString key = keys.filePath(QStringLiteral("key.pem"));
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                   QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-keyout"), key,
                   QStringLiteral("-out"), certificate, QStringLiteral("-days"), QStringLiteral("2"),
                   QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-addext"),
                   QStringLiteral("subjectAltName=IP:127.0.0.1")});
    if (!openssl.waitForStarted(10000))
        QSKIP("openssl is needed to make the test certificate");
    QVERIFY(openssl.waitForFinished(60000));
    QCOMPARE(openssl.exitCode(), 0);
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.addCaCertificates(QSslCertificate::fromPath(certificate));
    QSslConfiguration::setDefaultConfiguration(configuration);

    TestHttpServer secure;
    QVERIFY(secure.startTls(certificate, key));
    secure.route(QStringLiteral("/safe.txt"), TestHttpResponse::withType("text/plain", "over tls"));
    m_server.route(QStringLiteral("/plain.txt"), TestHttpResponse::withType("text/plain", "in the clear"));
    secure.route(QStringLiteral("/down.txt"),
                 TestHttpResponse::redirect(302, m_server.urlText(QStringLiteral("/plain.txt")).toUtf8()));
    m_server.clearLog();
    QTemporaryDir dir;
    DownloadBatch batch(dir.path(), {item(secure.urlText(QStringLiteral("/safe.txt"))),
                                     item(secure.urlText(QStringLiteral("/down.txt")))});
    const DownloadResults results = run(batch);
    QCOMPARE(results.size(), 2);
    QVERIFY2(results[0].succeeded(), qPrintable(results[0].message));
    QCOMPARE(readAll(dir.filePath(QStringLiteral("safe.txt"))), QByteArray("over tls"));
    QCOMPARE(results[1].status, DownloadResult::Status::Failed);
    QVERIFY2(results[1].message.contains(QStringLiteral("https から http")), qPrintable(results[1].message));
    QVERIFY(m_server.requestsFor(QStringLiteral("/plain.txt")).isEmpty());
    QCOMPARE(entries(dir.path()), QStringList{QStringLiteral("safe.txt")});
}

void TestDownloadBatch::referer_data() {
    QTest::addColumn<QString>("page");
    QTest::addColumn<bool>("otherOrigin");
    QTest::addColumn<QString>("expected");
    QTest::newRow("same origin: the whole page address")
        << "SELF/gallery/page.html?p=2#photo" << false << "SELF/gallery/page.html?p=2";
    QTest::newRow("other origin: the origin only") << "SELF/gallery/page.html" << true << "SELF/";
    QTest::newRow("https page to http: nothing") << "https://127.0.0.1/secret/page.html" << false << "";
    QTest::newRow("not a web page: nothing") << "file:///home/user/page.html" << false << "";
}

void TestDownloadBatch::referer() {
    QFETCH(QString, page);
    QFETCH(bool, otherOrigin);
    QFETCH(QString, expected);
    const QString self = m_server.urlText(QString());
    page.replace(QStringLiteral("SELF"), self);
    expected.replace(QStringLiteral("SELF"), self);
    TestHttpServer& target = otherOrigin ? m_other : m_server;
    target.route(QStringLiteral("/ref/pic.jpg"), TestHttpResponse::withType("image/jpeg", "jpeg"));
    target.clearLog();
    QTemporaryDir dir;
    const DownloadResults results =
        runOne(dir.path(), item(target.urlText(QStringLiteral("/ref/pic.jpg")), page));
    QCOMPARE(results.size(), 1);
    QVERIFY2(results[0].succeeded(), qPrintable(results[0].message));
    const QList<TestHttpRequest> requests = target.requestsFor(QStringLiteral("/ref/pic.jpg"));
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests[0].header("referer"), expected.toUtf8());
}

void TestDownloadBatch::retries_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("retries");
    QTest::addColumn<bool>("saved");
    QTest::addColumn<int>("requests");
    QTest::addColumn<QString>("reasonPart");
    QTest::newRow("503 twice, then 200") << "503 503" << 3 << true << 3 << "";
    QTest::newRow("429 with Retry-After, then 200") << "429+wait" << 3 << true << 2 << "";
    QTest::newRow("cut without ranges: whole again") << "cut" << 3 << true << 2 << "";
    QTest::newRow("chunked cut: whole again") << "chunkcut" << 3 << true << 2 << "";
    QTest::newRow("always 500") << "500 500 500 500 500" << 3 << false << 4 << QStringLiteral("500");
    QTest::newRow("404 is not retried") << "404" << 3 << false << 1 << QStringLiteral("404");
    QTest::newRow("403 is not retried") << "403" << 3 << false << 1 << QStringLiteral("403");
    QTest::newRow("retries off") << "503" << 0 << false << 1 << QStringLiteral("503");
    QTest::newRow("Retry-After past a minute") << "503+late" << 3 << false << 1 << QStringLiteral("3600");
    QTest::newRow("Retry-After as an HTTP date an hour ahead")
        << "503+date" << 3 << false << 1 << QStringLiteral("再試行");
}

void TestDownloadBatch::retries() {
    QFETCH(QString, kind);
    QFETCH(int, retries);
    QFETCH(bool, saved);
    QFETCH(int, requests);
    QFETCH(QString, reasonPart);
    const QByteArray body = pattern(200 * 1024);
    const QStringList steps = kind.split(u' ');
    auto calls = std::make_shared<std::atomic<int>>(0);
    const QString path = QStringLiteral("/retry/%1.bin").arg(qHash(QByteArray(QTest::currentDataTag())));
    m_server.route(path, [steps, calls, body](const TestHttpRequest&) {
        const int n = calls->fetch_add(1);
        const QString step = n < steps.size() ? steps[n] : QStringLiteral("ok");
        if (step == u"ok")
            return TestHttpResponse::withType("application/octet-stream", body);
        if (step.endsWith(u"cut")) {
            TestHttpResponse cut = TestHttpResponse::withType("application/octet-stream", body.left(50000));
            cut.declaredLength = body.size();
            cut.chunked = step == u"chunkcut";
            cut.cutInsideChunk = cut.chunked;
            return cut;
        }
        TestHttpResponse failure = TestHttpResponse::error(step.left(3).toInt());
        if (step.endsWith(u"+wait"))
            failure.headers.append(qMakePair(QByteArray("Retry-After"), QByteArray("1")));
        if (step.endsWith(u"+date"))
            failure.headers.append(qMakePair(QByteArray("Retry-After"),
                                             QLocale::c()
                                                 .toString(QDateTime::currentDateTimeUtc().addSecs(3600),
                                                           u"ddd, dd MMM yyyy hh:mm:ss 'GMT'")
                                                 .toLatin1()));
        if (step.endsWith(u"+late"))
            failure.headers.append(qMakePair(QByteArray("Retry-After"), QByteArray("3600")));
        return failure;
    });
    const QString target = m_server.urlText(path);
    DownloadOptions options = quickRetries();
    options.retries = retries;
    QTemporaryDir dir;
    QElapsedTimer clock;
    clock.start();
    const DownloadResults results = runOne(dir.path(), item(target), options);
    // A Retry-After past the bound paused the test server's host for ten minutes: the next tests
    // go on at once.
    HostPauses::instance()->clear();
    QCOMPARE(results.size(), 1);
    QCOMPARE(results[0].succeeded(), saved);
    QVERIFY2(results[0].message.contains(reasonPart), qPrintable(results[0].message));
    QVERIFY(calls->load() >= requests);
    if (!kind.contains(u"cut"))
        QCOMPARE(calls->load(), requests);
    if (kind.contains(u"wait"))
        QVERIFY2(clock.elapsed() >= 950, "Retry-After: 1 was not waited for");
    if (saved)
        QVERIFY(readAll(results[0].path) == body);
    else
        QCOMPARE(entries(dir.path()), QStringList());
}

void TestDownloadBatch::resume_data() {
    QTest::addColumn<QByteArray>("validatorHeader");
    QTest::addColumn<QByteArray>("validator");
    QTest::addColumn<bool>("honourRange");
    QTest::addColumn<bool>("resumed");
    // A Content-Range other than the right one, FROM standing for the first byte asked for.
    QTest::addColumn<QByteArray>("badRange");
    QTest::addColumn<bool>("chunked");
    QTest::newRow("ETag") << QByteArray("ETag") << QByteArray("\"v1\"") << true << true << QByteArray()
                          << false;
    QTest::newRow("Last-Modified") << QByteArray("Last-Modified")
                                   << QByteArray("Wed, 02 Dec 2026 10:00:00 GMT") << true << true
                                   << QByteArray() << false;
    QTest::newRow("weak ETag: whole again")
        << QByteArray("ETag") << QByteArray("W/\"v1\"") << true << false << QByteArray() << false;
    QTest::newRow("range ignored: whole again")
        << QByteArray("ETag") << QByteArray("\"v1\"") << false << true << QByteArray() << false;
    QTest::newRow("chunked, cut: the rest")
        << QByteArray("ETag") << QByteArray("\"v1\"") << true << true << QByteArray() << true;
    for (const char* range : {"bytes FROM-3/-1", "bytes FROM-3/-2", "bytes FROM-3/*", "bytes +FROM-409599/*"})
        QTest::addRow("refused: %s", range)
            << QByteArray("ETag") << QByteArray("\"v1\"") << true << true << QByteArray(range) << false;
}

void TestDownloadBatch::resume() {
    QFETCH(QByteArray, validatorHeader);
    QFETCH(QByteArray, validator);
    QFETCH(bool, honourRange);
    QFETCH(bool, resumed);
    QFETCH(QByteArray, badRange);
    QFETCH(bool, chunked);
    const QByteArray body = pattern(400 * 1024, 'k');
    const qsizetype cutAt = 150 * 1024;
    auto log = std::make_shared<QList<TestHttpRequest>>();
    auto mutex = std::make_shared<QMutex>();
    const QString path =
        QStringLiteral("/resume/%1.bin").arg(QString::number(qHash(QTest::currentDataTag())));
    m_server.route(path, [=](const TestHttpRequest& request) {
        int n = 0;
        {
            QMutexLocker lock(mutex.get());
            log->append(request);
            n = static_cast<int>(log->size());
        }
        TestHttpResponse response = TestHttpResponse::withType("application/octet-stream", body);
        response.headers.append(qMakePair(QByteArray("Accept-Ranges"), QByteArray("bytes")));
        response.headers.append(qMakePair(validatorHeader, validator));
        if (n == 1) {
            // The connection breaks part-way through the first answer.
            response.body = body.left(cutAt);
            response.declaredLength = body.size();
            response.chunked = chunked;
            return response;
        }
        const QByteArray range = request.header("range");
        if (honourRange && range.startsWith("bytes=")) {
            const qint64 from = range.mid(6, range.indexOf('-') - 6).toLongLong();
            response.status = 206;
            response.body = body.mid(from);
            response.headers.append(
                qMakePair(QByteArray("Content-Range"), "bytes " + QByteArray::number(from) + '-' +
                                                           QByteArray::number(body.size() - 1) + '/' +
                                                           QByteArray::number(body.size())));
            if (!badRange.isEmpty())
                response.headers.last().second =
                    QByteArray(badRange).replace("FROM", QByteArray::number(from));
        }
        return response;
    });
    QTemporaryDir dir;
    const DownloadResults results = runOne(dir.path(), item(m_server.urlText(path)), quickRetries());
    QCOMPARE(results.size(), 1);
    if (!badRange.isEmpty()) {
        QCOMPARE(results[0].status, DownloadResult::Status::Failed);
        QVERIFY2(results[0].message.contains(u"Content-Range"), qPrintable(results[0].message));
        QCOMPARE(entries(dir.path()), QStringList());
        return;
    }
    QVERIFY2(results[0].succeeded(), qPrintable(results[0].message));
    QVERIFY(readAll(results[0].path) == body);
    QMutexLocker lock(mutex.get());
    QVERIFY(log->size() >= 2);
    const TestHttpRequest& retry = log->last();
    if (resumed) {
        QCOMPARE(retry.header("range"), "bytes=" + QByteArray::number(cutAt) + '-');
        QCOMPARE(retry.header("if-range"), validator);
    } else {
        QCOMPARE(retry.header("range"), QByteArray());
    }
}

void TestDownloadBatch::partialFileContinued_data() {
    QTest::addColumn<QByteArray>("validator"); // what the record kept with the partial file
    QTest::addColumn<qint64>("expectedSize");
    QTest::addColumn<qint64>("partialBytes");
    QTest::addColumn<QByteArray>("serverTag");
    QTest::addColumn<bool>("serverIgnoresIfRange");
    QTest::addColumn<QByteArray>("firstRange"); // the Range of the first request
    QTest::addColumn<int>("requests");
    const qint64 size = 300 * 1024;
    QTest::newRow("same version: the rest")
        << QByteArray("\"v1\"") << size << qint64(100000) << QByteArray("\"v1\"") << false
        << QByteArray("bytes=100000-") << 1;
    QTest::newRow("changed version: all again")
        << QByteArray("\"v0\"") << size << qint64(100000) << QByteArray("\"v1\"") << false
        << QByteArray("bytes=100000-") << 1;
    QTest::newRow("part of another version sent: all again")
        << QByteArray("\"v0\"") << size << qint64(100000) << QByteArray("\"v1\"") << true
        << QByteArray("bytes=100000-") << 2;
    QTest::newRow("no validator: all again")
        << QByteArray() << qint64(-1) << qint64(100000) << QByteArray("\"v1\"") << false << QByteArray() << 1;
    QTest::newRow("longer than the file: all again") << QByteArray("\"v1\"") << qint64(1000) << qint64(5000)
                                                     << QByteArray("\"v1\"") << false << QByteArray() << 1;
    QTest::newRow("nothing yet") << QByteArray("\"v1\"") << size << qint64(0) << QByteArray("\"v1\"") << false
                                 << QByteArray() << 1;
}

// A killed run's partial file (a hidden name of its batch and item) is continued from its bytes
// only when the server sends the rest of the same version; the saved file is whole either way.
void TestDownloadBatch::partialFileContinued() {
    QFETCH(QByteArray, validator);
    QFETCH(qint64, expectedSize);
    QFETCH(qint64, partialBytes);
    QFETCH(QByteArray, serverTag);
    QFETCH(bool, serverIgnoresIfRange);
    QFETCH(QByteArray, firstRange);
    QFETCH(int, requests);
    const QByteArray body = pattern(300 * 1024, 'p');
    const QString path =
        QStringLiteral("/partial/%1.bin").arg(QString::number(qHash(QTest::currentDataTag())));
    m_server.route(path, [=](const TestHttpRequest& request) {
        TestHttpResponse response = TestHttpResponse::withType("application/octet-stream", body);
        response.headers.append(qMakePair(QByteArray("ETag"), serverTag));
        response.headers.append(qMakePair(QByteArray("Accept-Ranges"), QByteArray("bytes")));
        const QByteArray range = request.header("range");
        if (range.startsWith("bytes=") && (serverIgnoresIfRange || request.header("if-range") == serverTag)) {
            const qint64 from = range.mid(6, range.indexOf('-') - 6).toLongLong();
            response.status = 206;
            response.body = body.mid(from);
            response.headers.append(
                qMakePair(QByteArray("Content-Range"), "bytes " + QByteArray::number(from) + '-' +
                                                           QByteArray::number(body.size() - 1) + '/' +
                                                           QByteArray::number(body.size())));
        }
        return response;
    });
    QTemporaryDir dir;
    const QString partial = QStringLiteral(".nepirika-b1-0.part");
    {
        // What arrived before the kill: the start of the file as it is now, or of an older one.
        QFile file(dir.filePath(partial));
        QVERIFY(file.open(QIODevice::WriteOnly));
        const QByteArray start =
            validator == serverTag ? body.left(partialBytes) : QByteArray(partialBytes, 'o');
        QCOMPARE(file.write(start), partialBytes);
    }
    m_server.clearLog();
    DownloadBatch batch(dir.path(), {item(m_server.urlText(path))});
    batch.setPartialFile(0, partial, validator, expectedSize);
    QSignalSpy resumable(&batch, &DownloadBatch::itemResumable);
    const DownloadResults results = run(batch);
    QCOMPARE(results.size(), 1);
    QVERIFY2(results[0].succeeded(), qPrintable(results[0].message));
    QVERIFY(readAll(results[0].path) == body);
    // The partial file became the saved one: nothing hidden stays.
    QCOMPARE(entries(dir.path()), QStringList{QFileInfo(results[0].path).fileName()});
    const QList<TestHttpRequest> asked = m_server.requestsFor(path);
    QCOMPARE(asked.size(), requests);
    QCOMPARE(asked[0].header("range"), firstRange);
    if (!firstRange.isEmpty())
        QCOMPARE(asked[0].header("if-range"), validator);
    // A part of another version is dropped, and all of it asked for without a range.
    if (requests > 1)
        QCOMPARE(asked.last().header("range"), QByteArray());
    // What a record keeps to continue it another time: the version and length now on the server.
    QVERIFY(!resumable.isEmpty());
    QCOMPARE(resumable.last().at(1).toByteArray(), serverTag);
    QCOMPARE(resumable.last().at(2).toLongLong(), qint64(body.size()));
}

void TestDownloadBatch::namesFromResponse_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QByteArray>("disposition");
    QTest::addColumn<QString>("expected");
    QTest::newRow("query dropped") << "/n1/pic1.jpg?v=2" << QByteArray("image/jpeg") << QByteArray()
                                   << "pic1.jpg";
    QTest::newRow("extension from the type")
        << "/n2/photo" << QByteArray("image/jpeg") << QByteArray() << "photo.jpg";
    QTest::newRow("extension kept") << "/n3/archive.bin" << QByteArray("image/png") << QByteArray()
                                    << "archive.bin";
    QTest::newRow("folder address") << "/n4/" << QByteArray("text/html") << QByteArray() << "index.html";
    QTest::newRow("Content-Disposition first")
        << "/n5/get.php?id=7" << QByteArray("application/pdf")
        << QByteArray("attachment; filename=\"report.pdf\"") << "report.pdf";
    QTest::newRow("Content-Disposition cleaned")
        << "/n6/get" << QByteArray("text/plain") << QByteArray("attachment; filename=\"../../.profile\"")
        << "profile.txt";
    QTest::newRow("Content-Disposition in UTF-8")
        << "/n7/get" << QByteArray("image/png")
        << QByteArray("inline; filename*=UTF-8''%E5%86%99%E7%9C%9F.png") << QStringLiteral("写真.png");
}

void TestDownloadBatch::namesFromResponse() {
    QFETCH(QString, path);
    QFETCH(QByteArray, contentType);
    QFETCH(QByteArray, disposition);
    QFETCH(QString, expected);
    TestHttpResponse response = TestHttpResponse::withType(contentType, "content");
    if (!disposition.isEmpty())
        response.headers.append(qMakePair(QByteArray("Content-Disposition"), disposition));
    m_server.route(path.section(u'?', 0, 0), response);
    QTemporaryDir dir;
    const DownloadResults results = runOne(dir.path(), item(m_server.urlText(path)));
    QCOMPARE(results.size(), 1);
    QVERIFY2(results[0].succeeded(), qPrintable(results[0].message));
    QCOMPARE(entries(dir.path()), QStringList{expected});
    QCOMPARE(results[0].path, dir.filePath(expected));
}

void TestDownloadBatch::numbersFollowListOrder() {
    // The first item answers last, yet keeps the plain name: numbers follow the list.
    TestHttpResponse late = TestHttpResponse::withType("image/gif", "first");
    late.delayMs = 400;
    m_server.route(QStringLiteral("/order/a/logo.gif"), late);
    m_server.route(QStringLiteral("/order/b/logo.gif"), TestHttpResponse::withType("image/gif", "second"));
    m_server.route(QStringLiteral("/order/c/logo"), TestHttpResponse::withType("image/gif", "third"));
    QTemporaryDir dir;
    DownloadBatch batch(dir.path(), {item(m_server.urlText(QStringLiteral("/order/a/logo.gif"))),
                                     item(m_server.urlText(QStringLiteral("/order/b/logo.gif?x=1"))),
                                     item(m_server.urlText(QStringLiteral("/order/c/logo")))});
    const DownloadResults results = run(batch);
    QCOMPARE(results.size(), 3);
    QCOMPARE(readAll(dir.filePath(QStringLiteral("logo.gif"))), QByteArray("first"));
    QCOMPARE(readAll(dir.filePath(QStringLiteral("logo (2).gif"))), QByteArray("second"));
    QCOMPARE(readAll(dir.filePath(QStringLiteral("logo (3).gif"))), QByteArray("third"));
}

void TestDownloadBatch::waitingForANameTakesNoSlot() {
    // The first item answers late; the others finish meanwhile and wait for their names, which
    // follow the first one's. Waiting, they hold no transfer slot: the rest of the list goes on.
    TestHttpResponse late = TestHttpResponse::withType("image/gif", "first");
    late.delayMs = 3000;
    m_server.route(QStringLiteral("/slots/first.gif"), late);
    m_server.route(QStringLiteral("/slots/next.gif"), TestHttpResponse::withType("image/gif", "next"));
    QList<DownloadItem> items{item(m_server.urlText(QStringLiteral("/slots/first.gif")))};
    for (int i = 0; i < 6; ++i)
        items.append(item(m_server.urlText(QStringLiteral("/slots/next.gif?n=%1").arg(i))));
    DownloadOptions two;
    two.parallel = 2;
    QTemporaryDir dir;
    m_server.clearLog();
    DownloadBatch batch(dir.path(), items, two);
    QSignalSpy finished(&batch, &DownloadBatch::finished);
    batch.start();
    QTRY_VERIFY_WITH_TIMEOUT(!m_server.requestsFor(QStringLiteral("/slots/next.gif?n=5")).isEmpty(), 2500);
    // Nothing is published before the first item has its name.
    QVERIFY(entries(dir.path()).isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 10000);
    QCOMPARE(readAll(dir.filePath(QStringLiteral("first.gif"))), QByteArray("first"));
    QCOMPARE(readAll(dir.filePath(QStringLiteral("next (6).gif"))), QByteArray("next"));
}

QTEST_GUILESS_MAIN(TestDownloadBatch)
#include "tst_downloadbatch.moc"
