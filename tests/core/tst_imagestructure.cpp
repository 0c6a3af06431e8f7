#include "ImageStructure.h"

#include <QTest>

#include <zlib.h>

#include <limits>

// Files whose chunks, segments, boxes or directories claim more than they hold: each is refused
// before an image library would trust the claim; sound files of every type pass.
namespace {

// A literal with its NUL bytes.
template <size_t N> QByteArray raw(const char (&text)[N]) {
    return QByteArray(text, N - 1);
}
QByteArray be32(quint32 v) {
    QByteArray out;
    for (int shift : {24, 16, 8, 0})
        out.append(char(v >> shift));
    return out;
}
QByteArray le16(quint32 v) {
    QByteArray out;
    out.append(char(v)).append(char(v >> 8));
    return out;
}
QByteArray le32(quint32 v) {
    return le16(v & 0xFFFF) + le16(v >> 16);
}
QByteArray chunk(const char* type, const QByteArray& data, qint64 claimed = -1) {
    return be32(quint32(claimed < 0 ? data.size() : claimed)) + type + data + be32(0);
}
QByteArray packed(qsizetype size) {
    const QByteArray plain(size, 'a');
    uLongf length = compressBound(uLong(plain.size()));
    QByteArray out(qsizetype(length), '\0');
    compress(reinterpret_cast<Bytef*>(out.data()), &length, reinterpret_cast<const Bytef*>(plain.constData()),
             uLong(plain.size()));
    out.truncate(qsizetype(length));
    return out;
}
QByteArray png(const QByteArray& chunks, bool end = true) {
    return QByteArray("\x89PNG\r\n\x1A\n", 8) +
           chunk("IHDR", be32(1) + be32(1) + QByteArray("\x08\x06\0\0\0", 5)) + chunks +
           (end ? chunk("IEND", {}) : QByteArray());
}
QByteArray jpeg(const QByteArray& segments) {
    return QByteArray("\xFF\xD8", 2) + segments + QByteArray("\xFF\xDA\0\x08\x01\x01\0\0\x3F\0", 10);
}
// A little-endian TIFF with one directory: a strip at offset for length bytes.
QByteArray tiff(quint32 offset, quint32 length, quint32 next = 0) {
    return "II*" + QByteArray(1, '\0') + le32(8) + le16(2) + le16(273) + le16(4) + le32(1) + le32(offset) +
           le16(279) + le16(4) + le32(1) + le32(length) + le32(next) + QByteArray(16, 'p');
}
QByteArray ico(quint32 width, qint32 height, quint32 claimed = 0) {
    const QByteArray dib = le32(40) + le32(width) + le32(quint32(height)) + QByteArray(28, '\0');
    return QByteArray("\0\0\1\0\1\0", 6) + QByteArray("\x10\x10\0\0\1\0\x20\0", 8) +
           le32(claimed ? claimed : quint32(dib.size())) + le32(22) + dib;
}

} // namespace

class TestImageStructure : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void checks_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("type");
        QTest::addColumn<bool>("sound");
        QTest::newRow("png") << png(chunk("tEXt", raw("Title\0x"))) << "PNG" << true;
        QTest::newRow("png without IEND") << png(chunk("IDAT", "x"), false) << "PNG" << true;
        QTest::newRow("png of 48 bytes, tEXt claiming 2^31-1")
            << (png({}, false) + be32(0x7FFFFFFF) + "tEXt" + "Comment") << "PNG" << false;
        QTest::newRow("png, zTXt claiming past the end")
            << png(chunk("zTXt", raw("k\0\0xx"), 4000)) << "PNG" << false;
        QTest::newRow("png, iCCP claiming 2^31-1")
            << png(chunk("iCCP", raw("icc\0\0"), 0x7FFFFFFF)) << "PNG" << false;
        QTest::newRow("png, zTXt of 1 MB")
            << png(chunk("zTXt", QByteArray("k\0\0", 3) + packed(1 << 20))) << "PNG" << true;
        QTest::newRow("png, zTXt inflating to 9 MB")
            << png(chunk("zTXt", QByteArray("k\0\0", 3) + packed(9 << 20))) << "PNG" << false;
        QTest::newRow("png, compressed iTXt inflating to 9 MB")
            << png(chunk("iTXt", QByteArray("k\0\1\0en\0\0", 8) + packed(9 << 20))) << "PNG" << false;
        QTest::newRow("png, three zTXt of 6 MB each")
            << png(chunk("zTXt", QByteArray("a\0\0", 3) + packed(6 << 20)) +
                   chunk("zTXt", QByteArray("b\0\0", 3) + packed(6 << 20)) +
                   chunk("zTXt", QByteArray("c\0\0", 3) + packed(6 << 20)))
            << "PNG" << false;
        QByteArray texts;
        for (int i = 0; i < 1001; ++i)
            texts += chunk("tEXt", raw("k\0v"));
        QTest::newRow("png, 1001 text chunks") << png(texts) << "PNG" << false;
        QTest::newRow("png, IHDR not first")
            << QByteArray("\x89PNG\r\n\x1A\n", 8) + chunk("tEXt", raw("a\0b")) << "PNG" << false;
        QTest::newRow("jpeg") << jpeg(QByteArray("\xFF\xE1\0\x04xx", 6)) << "JPEG" << true;
        QTest::newRow("jpeg segment past the end")
            << jpeg(QByteArray("\xFF\xE2\xFF\xF0xx", 6)).left(12) << "JPEG" << false;
        QTest::newRow("tiff") << tiff(30, 16) << "TIFF" << true;
        QTest::newRow("tiff strip past the end") << tiff(30, 0x7FFFFFFF) << "TIFF" << false;
        QTest::newRow("tiff directories in a loop") << tiff(30, 16, 8) << "TIFF" << false;
        QTest::newRow("ico") << ico(16, 32) << "ICO" << true;
        QTest::newRow("ico picture claiming 40000 square") << ico(40000, 80000) << "ICO" << false;
        QTest::newRow("ico picture past the end") << ico(16, 32, 1 << 30) << "ICO" << false;
        QTest::newRow("webp chunk past its RIFF")
            << "RIFF" + le32(30) + "WEBP" + "ICCP" + le32(0x7FFFFFF0) + QByteArray(18, 'x') << "WebP"
            << false;
        QTest::newRow("bmp header past the end")
            << "BM" + QByteArray(12, '\0') + le32(124) + QByteArray(8, '\0') << "BMP" << false;
        QTest::newRow("svg of 5 MB") << "<svg>" + QByteArray(5 << 20, ' ') + "</svg>"
                                     << "SVG" << false;
    }
    void checks() {
        QFETCH(QByteArray, file);
        QFETCH(QString, type);
        QFETCH(bool, sound);
        QCOMPARE(ImageStructure::problem(file, type),
                 sound ? QString() : QStringLiteral("画像が壊れています"));
        // Every part of a sound file is needed: cut short inside a claimed part, it is refused.
    }

    void decodeMemory() {
        // A progressive JPEG keeps all its coefficients; a baseline one does not.
        const QByteArray sof2 =
            jpeg(QByteArray("\xFF\xC2\0\x11\x08\0\x10\0\x10\x03\x01\x22\0\x02\x11\x01\x03\x11\x01", 19));
        const QByteArray sof0 = QByteArray(sof2).replace("\xFF\xC2", "\xFF\xC0");
        QCOMPARE(ImageStructure::decodeBytes(sof2, QStringLiteral("JPEG"), 1000, 1000), 10'000'000);
        QCOMPARE(ImageStructure::decodeBytes(sof0, QStringLiteral("JPEG"), 1000, 1000), 4'000'000);
        QCOMPARE(ImageStructure::decodeBytes({}, QStringLiteral("PNG"), 4'000'000'000, 4'000'000'000),
                 std::numeric_limits<qint64>::max());
    }
};

QTEST_GUILESS_MAIN(TestImageStructure)
#include "tst_imagestructure.moc"
