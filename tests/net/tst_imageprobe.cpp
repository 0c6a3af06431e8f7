// The facts of images read from their first bytes, fetched from the tests' own server on 127.0.0.1.

#include "CurlSession.h"
#include "ImageProbe.h"
#include "RangedFetch.h"
#include "TestHttpServer.h"

#include <QAtomicInt>
#include <QTest>

#include <memory>

#include <zlib.h>

namespace {

QByteArray chars(std::initializer_list<int> bytes) {
    QByteArray out;
    for (int b : bytes)
        out.append(char(b));
    return out;
}

// data compressed as a server's Content-Encoding sends it: gzip, or raw deflate (windowBits -15).
QByteArray compressed(const QByteArray& data, int windowBits) {
    z_stream stream{};
    if (deflateInit2(&stream, 9, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK)
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

QByteArray le16(quint32 v) {
    return chars({char(v), char(v >> 8)});
}
QByteArray be32(quint32 v) {
    return chars({char(v >> 24), char(v >> 16), char(v >> 8), char(v)});
}
QByteArray filler(qsizetype size) {
    QByteArray data(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        data[i] = char((i * 131 + i / 977) & 0xFF);
    return data;
}
QByteArray png(quint32 w, quint32 h, qsizetype size) {
    const QByteArray head = QByteArray("\x89PNG\r\n\x1A\n", 8) + be32(13) + "IHDR" + be32(w) + be32(h) +
                            QByteArray("\x08\x02\0\0\0", 5);
    return head + filler(size - head.size());
}
// A JPEG whose frame header comes after an application segment of pad bytes.
QByteArray jpeg(quint32 w, quint32 h, int pad, qsizetype size) {
    QByteArray out("\xFF\xD8", 2);
    for (; pad > 0; pad -= 65000)
        out += QByteArray("\xFF\xE2", 2) + be32(quint32(std::min(pad, 65000) + 2)).mid(2) +
               QByteArray(std::min(pad, 65000), 'p');
    out += QByteArray("\xFF\xC0\0\x11\x08", 5) + be32(h << 16 | w).mid(0, 4) +
           QByteArray("\x03\x01\x22\0\x02\x11\x01\x03\x11\x01", 10);
    return out + filler(size - out.size());
}

// Serves body as a server that honours "Range: bytes=0-N" does.
TestHttpServer::Handler ranged(const QByteArray& type, const QByteArray& body) {
    return [type, body](const TestHttpRequest& request) {
        const QByteArray range = request.header("range");
        if (!range.startsWith("bytes=0-"))
            return TestHttpResponse::withType(type, body);
        const qint64 last = std::min<qint64>(range.mid(8).toLongLong(), body.size() - 1);
        TestHttpResponse r = TestHttpResponse::withType(type, body.left(last + 1));
        r.status = 206;
        r.headers.append(
            {"Content-Range", "bytes 0-" + QByteArray::number(last) + '/' + QByteArray::number(body.size())});
        return r;
    };
}

} // namespace

class TestImageProbe : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void probes_data();
    void probes();
    void decodedBodiesBounded_data();
    void decodedBodiesBounded();

private:
    TestHttpServer m_server;
    QAtomicInt m_busyAnswered;
};

void TestImageProbe::initTestCase() {
    QVERIFY(m_server.start());
    TestHttpServer& s = m_server;
    s.route("/photo.jpg", ranged("image/jpeg", jpeg(1600, 1200, 0, 3 << 20)));
    s.route("/exif.jpg", ranged("image/jpeg", jpeg(4000, 3000, 200000, 2 << 20)));
    s.route("/pic.png", ranged("image/png", png(640, 480, 5000)));
    s.route("/anim.gif", ranged("image/gif", "GIF89a" + le16(320) + le16(200) + filler(800)));
    s.route("/pic.webp", ranged("image/webp", "RIFF" + le16(990) + le16(0) + "WEBPVP8X" + le16(10) + le16(0) +
                                                  QByteArray(4, '\0') +
                                                  QByteArray("\x1F\x03\0\xDF\x01\0", 6) + filler(960)));
    s.route("/logo.svg",
            ranged("image/svg+xml", R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 48 24"/>)"));
    s.route("/old.bmp", ranged("image/bmp", "BM" + QByteArray(12, '\0') + be32(0x28000000) + le16(90) +
                                                le16(0) + le16(60) + le16(0) + filler(400)));
    s.route("/favicon.ico", ranged("image/x-icon", QByteArray("\0\0\1\0\1\0\x20\x20\0\0", 10) + filler(400)));
    // Ranges ignored: the whole 40 MB comes with 200, and only its start is read.
    s.route("/whole.png", TestHttpResponse::withType("image/png", png(5000, 4000, 40 << 20)));
    // Hot-link guard: only a request from the site's own pages gets the picture.
    const QByteArray site = s.urlText("/").toUtf8();
    s.route("/guarded.jpg", [site, body = jpeg(800, 600, 0, 9000)](const TestHttpRequest& request) {
        if (!request.header("referer").startsWith(site))
            return TestHttpResponse::error(403, "<html><body>hot-linking forbidden</body></html>");
        return ranged("image/jpeg", body)(request);
    });
    s.route("/lying.jpg", ranged("image/jpeg", png(300, 100, 2000)));
    s.route("/error-page.jpg",
            TestHttpResponse::withType("image/jpeg", "<!DOCTYPE html><html><body>Not found</body></html>"));
    s.route("/huge.png", ranged("image/png", png(60000, 60000, 3000)));
    s.route("/busy.png", [this, body = png(64, 32, 500)](const TestHttpRequest& request) {
        if (m_busyAnswered.fetchAndAddRelaxed(1) == 0) {
            TestHttpResponse r = TestHttpResponse::error(503);
            r.headers.append(qMakePair(QByteArray("Retry-After"), QByteArray("0")));
            return r;
        }
        return ranged("image/png", body)(request);
    });
    s.route("/moved.png", TestHttpResponse::redirect(302, "/pic.png"));
    // Sent whole and compressed by a server that ignores the range: 8 MiB once decoded.
    const QByteArray head = png(2000, 1000, 64);
    TestHttpResponse zipped = TestHttpResponse::withType(
        "image/png", compressed(head + QByteArray((8 << 20) - head.size(), '\0'), 15 + 16));
    zipped.headers.append(qMakePair(QByteArray("Content-Encoding"), QByteArray("gzip")));
    s.route("/zipped.png", zipped);
}

void TestImageProbe::probes_data() {
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("referer");
    QTest::addColumn<QString>("type");
    QTest::addColumn<qint64>("width");
    QTest::addColumn<qint64>("height");
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("problem");
    QTest::addColumn<qint64>("mostMoved");
    const QString page = m_server.urlText("/gallery.html");
    const qint64 head = ImageProbe::HeadBytes;
    auto u = [this](const char* path) {
        return m_server.urlText(QString::fromLatin1(path));
    };

    QTest::newRow("jpeg, 3 MB") << u("/photo.jpg") << page << "image/jpeg" << 1600LL << 1200LL
                                << qint64(3 << 20) << QString() << head;
    QTest::newRow("jpeg header past the first range")
        << u("/exif.jpg") << page << "image/jpeg" << 4000LL << 3000LL << qint64(2 << 20) << QString()
        << ImageProbe::MaxBytes;
    QTest::newRow("png") << u("/pic.png") << page << "image/png" << 640LL << 480LL << 5000LL << QString()
                         << head;
    QTest::newRow("gif") << u("/anim.gif") << page << "image/gif" << 320LL << 200LL << 810LL << QString()
                         << head;
    QTest::newRow("webp") << u("/pic.webp") << page << "image/webp" << 800LL << 480LL << 990LL << QString()
                          << head;
    QTest::newRow("svg") << u("/logo.svg") << page << "image/svg+xml" << 48LL << 24LL << 61LL << QString()
                         << head;
    QTest::newRow("bmp") << u("/old.bmp") << page << "image/bmp" << 90LL << 60LL << 426LL << QString()
                         << head;
    QTest::newRow("ico") << u("/favicon.ico") << page << "image/x-icon" << 32LL << 32LL << 410LL << QString()
                         << head;
    QTest::newRow("range answered with the whole 40 MB") << u("/whole.png") << page << "image/png" << 5000LL
                                                         << 4000LL << qint64(40 << 20) << QString() << head;
    QTest::newRow("hot-link guard lets the page through")
        << u("/guarded.jpg") << page << "image/jpeg" << 800LL << 600LL << 9000LL << QString() << head;
    QTest::newRow("hot-link guard without the page")
        << u("/guarded.jpg") << QString() << QString() << -1LL << -1LL << -1LL << "HTTP 403" << head;
    QTest::newRow("content type lies")
        << u("/lying.jpg") << page << "image/png" << 300LL << 100LL << 2000LL << QString() << head;
    QTest::newRow("html error page as image/jpeg")
        << u("/error-page.jpg") << page << QString() << -1LL << -1LL << 50LL << "画像ではありません" << head;
    QTest::newRow("png claiming 60000 square")
        << u("/huge.png") << page << "image/png" << 60000LL << 60000LL << 3000LL << QString() << head;
    QTest::newRow("404") << u("/missing.png") << page << QString() << -1LL << -1LL << -1LL << "HTTP 404"
                         << head;
    QTest::newRow("503 retried") << u("/busy.png") << page << "image/png" << 64LL << 32LL << 500LL
                                 << QString() << head;
    QTest::newRow("redirect followed")
        << u("/moved.png") << page << "image/png" << 640LL << 480LL << 5000LL << QString() << head;
    QTest::newRow("compressed whole: its first bytes read, the rest not kept")
        << u("/zipped.png") << page << "image/png" << 2000LL << 1000LL << -1LL << QString() << head;
    QTest::newRow("data address, nothing fetched")
        << "data:image/gif;base64,R0lGODlhAgADAIAAAP///wAAACwAAAAAAgADAAACAoRRADs=" << page << "image/gif"
        << 2LL << 3LL << 35LL << QString() << 0LL;
}

void TestImageProbe::probes() {
    QFETCH(QString, url);
    QFETCH(QString, referer);
    QFETCH(QString, type);
    QFETCH(qint64, width);
    QFETCH(qint64, height);
    QFETCH(qint64, bytes);
    QFETCH(QString, problem);
    QFETCH(qint64, mostMoved);
    DownloadOptions options;
    options.retryDelayMs = 10;
    ImageProbe probe(options);
    auto got = std::make_shared<QList<ImageProbeResult>>();
    connect(&probe, &ImageProbe::probed, this, [got](int, const ImageProbeResult& r) { got->append(r); });
    probe.add({url, referer});
    QTRY_COMPARE_WITH_TIMEOUT(got->size(), 1, 20000);
    const ImageProbeResult r = got->first();
    QVERIFY2(problem.isEmpty() ? r.problem.isEmpty() : r.problem.contains(problem), qPrintable(r.problem));
    QCOMPARE(r.facts.mimeType, type);
    QCOMPARE(r.facts.width, width);
    QCOMPARE(r.facts.height, height);
    QCOMPARE(r.bytes, bytes);
    QVERIFY2(r.bytesMoved <= mostMoved, qPrintable(QString::number(r.bytesMoved)));
}

void TestImageProbe::decodedBodiesBounded_data() {
    QTest::addColumn<QByteArray>("encoding");
    QTest::addColumn<int>("decodedBytes");
    QTest::addColumn<bool>("within");
    // Far under the decoder's own 1,000-times guard, far over what is held in memory.
    QTest::newRow("gzip bomb") << QByteArray("gzip") << (48 << 20) << false;
    QTest::newRow("deflate bomb") << QByteArray("deflate") << (48 << 20) << false;
    QTest::newRow("just over") << QByteArray("gzip") << (ImageProbe::MaxBytes + 1) << false;
    QTest::newRow("exactly the limit") << QByteArray("gzip") << int(ImageProbe::MaxBytes) << true;
}

// A body held in memory (a probe's or a thumbnail's) is bounded after its content encoding is
// undone: past the limit the fetch ends with a reason, and nothing more is kept.
void TestImageProbe::decodedBodiesBounded() {
    QFETCH(QByteArray, encoding);
    QFETCH(int, decodedBytes);
    QFETCH(bool, within);
    const QByteArray plain(decodedBytes, '\0');
    TestHttpResponse response =
        TestHttpResponse::withType("image/png", compressed(plain, encoding == "gzip" ? 15 + 16 : -15));
    response.headers.append({"Content-Encoding", encoding});
    const QString path = QStringLiteral("/bomb/%1.png").arg(QString::number(qHash(QTest::currentDataTag())));
    m_server.route(path, response);
    auto* session = new CurlSession;
    auto fetch = std::make_unique<RangedFetch>(session, nullptr, DownloadOptions());
    auto got = std::make_shared<QList<RangedFetchResult>>();
    connect(fetch.get(), &RangedFetch::finished, this, [got](const RangedFetchResult& r) { got->append(r); });
    RangedFetchRequest request;
    request.url = m_server.url(path);
    request.maxBytes = ImageProbe::MaxBytes;
    fetch->start(request, {});
    QTRY_COMPARE_WITH_TIMEOUT(got->size(), 1, 20000);
    const RangedFetchResult r = got->first();
    QVERIFY(r.body.size() <= ImageProbe::MaxBytes);
    if (within) {
        QVERIFY2(r.ok, qPrintable(r.message));
        QCOMPARE(r.body.size(), decodedBytes);
    } else {
        QVERIFY(!r.ok);
        QVERIFY2(r.message.contains(QStringLiteral("上限")), qPrintable(r.message));
    }
    fetch.reset();
    session->dispose();
}

QTEST_GUILESS_MAIN(TestImageProbe)
#include "tst_imageprobe.moc"
