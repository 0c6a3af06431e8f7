// The type and pixel size read from the first bytes of a file, on small headers made by hand.

#include "ImageFacts.h"

#include <QTest>

namespace {

QByteArray chars(std::initializer_list<int> bytes) {
    QByteArray out;
    for (int b : bytes)
        out.append(char(b));
    return out;
}

QByteArray be16(quint32 v) {
    return chars({char(v >> 8), char(v)});
}
QByteArray be32(quint32 v) {
    return be16(v >> 16) + be16(v & 0xFFFF);
}
QByteArray le16(quint32 v) {
    return chars({char(v), char(v >> 8)});
}
QByteArray le32(quint32 v) {
    return le16(v & 0xFFFF) + le16(v >> 16);
}
QByteArray bytes(const char* text, int n) {
    return QByteArray(text, n);
}
// An ISO media box; full boxes carry their version and flags at the start of content.
QByteArray box(const char* type, const QByteArray& content) {
    return be32(quint32(8 + content.size())) + type + content;
}
QByteArray fullBox(const char* type, const QByteArray& content, char version = 0, char flags = 0) {
    return box(type, chars({version, 0, 0, flags}) + content);
}
QByteArray padded(QByteArray b) {
    return b + QByteArray(64, '\0');
}

QByteArray png(quint32 w, quint32 h) {
    return bytes("\x89PNG\r\n\x1A\n", 8) + be32(13) + "IHDR" + be32(w) + be32(h) + bytes("\x08\x06\0\0\0", 5);
}

// A JPEG with an Exif segment (big-endian directory holding the orientation), then a baseline frame.
QByteArray jpeg(quint32 w, quint32 h, int orientation, int padding = 0) {
    QByteArray exif = bytes("Exif\0\0", 6) + "MM" + be16(42) + be32(8) + be16(1) + be16(0x0112) + be16(3) +
                      be32(1) + be16(quint32(orientation)) + be16(0) + be32(0);
    QByteArray out = bytes("\xFF\xD8", 2);
    out += bytes("\xFF\xE0", 2) + be16(16) + bytes("JFIF\0\1\1\0\0\1\0\1\0\0", 14);
    out += bytes("\xFF\xE1", 2) + be16(quint32(exif.size() + 2)) + exif;
    if (padding)
        out += bytes("\xFF\xED", 2) + be16(quint32(padding + 2)) + QByteArray(padding, 'x');
    out += bytes("\xFF\xC0", 2) + be16(17) + char(8) + be16(h) + be16(w) +
           bytes("\x03\x01\x22\0\x02\x11\x01\x03\x11\x01", 10);
    return out + bytes("\xFF\xDA", 2);
}

QByteArray webp(const char* chunk, const QByteArray& data) {
    const QByteArray c = QByteArray(chunk) + le32(quint32(data.size())) + data;
    return "RIFF" + le32(quint32(4 + c.size())) + "WEBP" + c + QByteArray(16, '\0');
}

// An AVIF (or HEIC) whose primary item is 2: item 1 is a thumbnail of another size.
QByteArray iso(const char* brand, bool turned) {
    QByteArray ipco = box("ispe", QByteArray(4, '\0') + be32(160) + be32(90)) +
                      box("ispe", QByteArray(4, '\0') + be32(4000) + be32(3000)) +
                      box("irot", QByteArray(1, '\1'));
    QByteArray ipma =
        be32(2) + be16(1) + char(1) + char(0x81) + be16(2) + char(turned ? 2 : 1) + char(0x82) + char(0x83);
    QByteArray meta = fullBox("hdlr", QByteArray(4, '\0') + "pict" + QByteArray(13, '\0')) +
                      fullBox("pitm", be16(2)) + box("iprp", box("ipco", ipco) + fullBox("ipma", ipma));
    return box("ftyp", QByteArray(brand) + be32(0) + "mif1" + "miaf") + fullBox("meta", meta) +
           box("mdat", QByteArray(32, 'd'));
}

} // namespace

class TestImageFacts : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void reads_data();
    void reads();
};

void TestImageFacts::reads_data() {
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<bool>("complete");
    QTest::addColumn<int>("verdict");
    QTest::addColumn<QString>("mime");
    QTest::addColumn<qint64>("width");
    QTest::addColumn<qint64>("height");
    const int image = int(ImageFacts::Verdict::Image);
    const int more = int(ImageFacts::Verdict::NeedMore);
    const int notImage = int(ImageFacts::Verdict::NotImage);
    const int unknown = int(ImageFacts::Verdict::Unknown);
    const QString jpg = QStringLiteral("image/jpeg");
    const QString svg = QStringLiteral("image/svg+xml");

    QTest::newRow("jpeg") << jpeg(1600, 1200, 1) << true << image << jpg << 1600LL << 1200LL;
    QTest::newRow("jpeg turned by exif") << jpeg(1600, 1200, 6) << true << image << jpg << 1200LL << 1600LL;
    QTest::newRow("jpeg frame beyond the bytes so far")
        << jpeg(1600, 1200, 1, 300).left(200) << false << more << QString() << -1LL << -1LL;
    QTest::newRow("jpeg cut short, all there is")
        << jpeg(1600, 1200, 1, 300).left(200) << true << image << jpg << -1LL << -1LL;
    QTest::newRow("png") << padded(png(640, 480)) << false << image << "image/png" << 640LL << 480LL;
    QTest::newRow("png claiming 60000 square")
        << padded(png(60000, 60000)) << false << image << "image/png" << 60000LL << 60000LL;
    QTest::newRow("gif") << padded(bytes("GIF89a", 6) + le16(320) + le16(200)) << false << image
                         << "image/gif" << 320LL << 200LL;
    QTest::newRow("webp lossy") << webp("VP8 ", bytes("\x10\x02\0\x9D\x01\x2A", 6) + le16(800) + le16(600))
                                << false << image << "image/webp" << 800LL << 600LL;
    QTest::newRow("webp lossless") << webp("VP8L", char(0x2F) + le32((799u) | (599u << 14))) << false << image
                                   << "image/webp" << 800LL << 600LL;
    QTest::newRow("webp extended") << webp("VP8X",
                                           le32(0x10) + bytes("\x1F\x4E\0", 3) + bytes("\x0F\x27\0", 3))
                                   << false << image << "image/webp" << 20000LL << 10000LL;
    QTest::newRow("bmp bottom-up") << padded("BM" + QByteArray(12, '\0') + le32(40) + le32(300) + le32(200))
                                   << false << image << "image/bmp" << 300LL << 200LL;
    QTest::newRow("bmp top-down") << padded("BM" + QByteArray(12, '\0') + le32(124) + le32(300) +
                                            le32(quint32(-200)))
                                  << false << image << "image/bmp" << 300LL << 200LL;
    QTest::newRow("ico, largest entry (0 is 256)")
        << padded(bytes("\0\0\1\0", 4) + le16(2) + bytes("\x10\x10\0\0", 4) + QByteArray(12, '\1') +
                  bytes("\0\0\0\0", 4) + QByteArray(12, '\1'))
        << false << image << "image/x-icon" << 256LL << 256LL;
    QTest::newRow("tiff") << padded("II*" + QByteArray(1, '\0') + le32(8) + le16(2) + le16(0x100) + le16(3) +
                                    le32(1) + le32(3000) + le16(0x101) + le16(4) + le32(1) + le32(2000))
                          << false << image << "image/tiff" << 3000LL << 2000LL;
    QTest::newRow("avif primary item")
        << iso("avif", false) << false << image << "image/avif" << 4000LL << 3000LL;
    QTest::newRow("avif turned a quarter")
        << iso("avif", true) << false << image << "image/avif" << 3000LL << 4000LL;
    QTest::newRow("heic") << iso("heic", false) << false << image << "image/heic" << 4000LL << 3000LL;
    QTest::newRow("mp4 video") << box("ftyp", "isom" + be32(0) + "isommp41") +
                                      box("mdat", QByteArray(40, 'v'))
                               << false << notImage << QString() << -1LL << -1LL;
    QTest::newRow("svg in pixels")
        << QByteArray(
               R"(<?xml version="1.0"?><!-- drawn --><svg xmlns="http://www.w3.org/2000/svg" width="120px" height="80"/>)")
        << true << image << svg << 120LL << 80LL;
    QTest::newRow("svg by viewBox")
        << QByteArray("\xEF\xBB\xBF<svg viewBox='0 0 300.4 150' xmlns='http://www.w3.org/2000/svg'>") << false
        << image << svg << 300LL << 150LL;
    QTest::newRow("svg width and viewBox ratio")
        << QByteArray(R"(<!DOCTYPE svg><svg width="1in" viewBox="0,0,200,100">)") << false << image << svg
        << 96LL << 48LL;
    QTest::newRow("svg in percent, no viewBox")
        << QByteArray(R"(<svg width="100%" height="100%"></svg>)") << true << image << svg << -1LL << -1LL;
    QTest::newRow("svg root tag cut short") << QByteArray("<?xml version='1.0'?>\n<svg width='10' height='1")
                                            << false << more << QString() << -1LL << -1LL;
    QTest::newRow("html error page") << QByteArray(
                                            "<!doctype html>\n<html><head><title>404 Not Found</title>")
                                     << true << notImage << QString() << -1LL << -1LL;
    QTest::newRow("xhtml page")
        << QByteArray(
               R"(<?xml version="1.0"?><html xmlns="http://www.w3.org/1999/xhtml"><body>nothing here at all</body></html>)")
        << true << notImage << QString() << -1LL << -1LL;
    QTest::newRow("plain text") << QByteArray("Access denied: hot-linking is not allowed.\n") << true
                                << notImage << QString() << -1LL << -1LL;
    QTest::newRow("empty") << QByteArray() << true << notImage << QString() << -1LL << -1LL;
    QTest::newRow("unknown binary") << QByteArray("\x01\x02\x03\x04", 4) + QByteArray(60, '\xEE') << false
                                    << unknown << QString() << -1LL << -1LL;
    // A prefix answers as the whole file does, or asks for more.
    {
        // The Exif directory's offset points past its segment, into bytes that say orientation 6.
        QByteArray exif = bytes("Exif\0\0", 6) + "MM" + be16(42) + be32(200) + QByteArray(4, '\0');
        QByteArray far = bytes("\xFF\xD8", 2) + bytes("\xFF\xE1", 2) + be16(quint32(exif.size() + 2)) + exif;
        far += bytes("\xFF\xC0", 2) + be16(17) + char(8) + be16(300) + be16(400) +
               bytes("\x03\x01\x22\0\x02\x11\x01\x03\x11\x01", 10) + bytes("\xFF\xDA", 2);
        far += QByteArray(200 + 8 - far.size(), '\0') + be16(1) + be16(0x0112) + be16(3) + be32(1) + be16(6) +
               be16(0) + QByteArray(8, '\0');
        QTest::newRow("jpeg exif offset past its segment: first 64 bytes")
            << far.left(64) << false << image << jpg << 400LL << 300LL;
        QTest::newRow("jpeg exif offset past its segment: whole")
            << far << true << image << jpg << 400LL << 300LL;
    }
    {
        QByteArray brands;
        for (int i = 0; i < 30; ++i)
            brands += "mp41";
        const QByteArray late =
            box("ftyp", "isom" + be32(0) + brands + "avif") + box("mdat", QByteArray(8, 'd'));
        QTest::newRow("avif brand late in a long list: first 100 bytes")
            << late.left(100) << false << more << QString() << -1LL << -1LL;
        QTest::newRow("avif brand late in a long list: whole")
            << late << true << image << "image/avif" << -1LL << -1LL;
    }
    {
        // ispe is 20 bytes but its ipco says 12: the child runs past its parent.
        const QByteArray ispe = box("ispe", QByteArray(4, '\0') + be32(7) + be32(5));
        QByteArray ipco = be32(8 + 12) + "ipco" + ispe;
        const QByteArray meta = fullBox("meta", box("iprp", ipco));
        const QByteArray file = box("ftyp", "avif" + be32(0) + "mif1") + meta + QByteArray(40, '\0');
        const qsizetype metaEnd = file.size() - 40;
        QTest::newRow("iso child past its parent: prefix")
            << file.left(metaEnd) << false << image << "image/avif" << -1LL << -1LL;
        QTest::newRow("iso child past its parent: whole")
            << file << true << image << "image/avif" << -1LL << -1LL;
    }
    QTest::newRow("text so far, control byte within the first KiB: prefix")
        << QByteArray(500, 'a') << false << more << QString() << -1LL << -1LL;
    QTest::newRow("text so far, control byte within the first KiB: whole")
        << QByteArray(500, 'a') + '\x01' + QByteArray(600, 'a') << true << unknown << QString() << -1LL
        << -1LL;
    // Claimed sizes beyond a million pixels a side are not known.
    QTest::newRow("png claiming 2^32-1 square")
        << padded(png(0xFFFFFFFF, 0xFFFFFFFF)) << false << image << "image/png" << -1LL << -1LL;
    QTest::newRow("png a million and one wide")
        << padded(png(1000001, 10)) << false << image << "image/png" << -1LL << -1LL;
    QTest::newRow("png a million square")
        << padded(png(1000000, 1000000)) << false << image << "image/png" << 1000000LL << 1000000LL;
    QTest::newRow("bmp claiming 2^31 high")
        << padded("BM" + QByteArray(12, '\0') + le32(40) + le32(300) + le32(0x80000000u)) << false << image
        << "image/bmp" << -1LL << -1LL;
    QTest::newRow("svg 9.2e18 wide") << QByteArray(R"(<svg width="9.2e18" height="10"/>)") << true << image
                                     << svg << -1LL << -1LL;
    QTest::newRow("svg 1e999 by viewBox")
        << QByteArray(R"(<svg width="10" viewBox="0 0 1 1e999"/>)") << true << image << svg << -1LL << -1LL;
    QTest::newRow("svg, then bytes that are no UTF-8")
        << QByteArray(R"(<svg width="10" height="20"/>)") + QByteArray(40, '\xC5') << true << image << svg
        << 10LL << 20LL;
    QTest::newRow("text that starts like a bitmap")
        << QByteArray("BMW owners club: photos of the meeting follow") << true << notImage << QString()
        << -1LL << -1LL;
}

void TestImageFacts::reads() {
    QFETCH(QByteArray, head);
    QFETCH(bool, complete);
    QFETCH(int, verdict);
    QFETCH(QString, mime);
    QFETCH(qint64, width);
    QFETCH(qint64, height);
    const ImageFacts facts = ImageFacts::read(head, complete);
    QCOMPARE(int(facts.verdict), verdict);
    QCOMPARE(facts.mimeType, mime);
    QCOMPARE(facts.width, width);
    QCOMPARE(facts.height, height);
    QCOMPARE(facts.problem().isEmpty(), width > 0);
    if (verdict == int(ImageFacts::Verdict::NotImage))
        QCOMPARE(facts.problem(), QStringLiteral("画像ではありません"));
}

QTEST_GUILESS_MAIN(TestImageFacts)
#include "tst_imagefacts.moc"
