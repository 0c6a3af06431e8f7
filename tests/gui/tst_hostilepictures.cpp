#include "PictureStore.h"
#include "TestHttpServer.h"
#include "ThumbnailDiskCache.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

#include <zlib.h>

// Pictures whose bytes claim more than they hold, from a server and from the thumbnail disk cache:
// each ends with a reason (or is dropped from the cache) and the good ones still show.
namespace {

QByteArray be32(quint32 v) {
    QByteArray out;
    for (int shift : {24, 16, 8, 0})
        out.append(char(v >> shift));
    return out;
}

QByteArray chunk(const char* type, const QByteArray& data, qint64 claimed = -1) {
    const QByteArray body = type + data;
    return be32(quint32(claimed < 0 ? data.size() : claimed)) + body +
           be32(quint32(crc32(0, reinterpret_cast<const Bytef*>(body.constData()), uInt(body.size()))));
}

QByteArray goodPng(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// The 48-byte PNG: a tEXt chunk that claims 2³¹−1 bytes right after the header.
QByteArray claimingPng() {
    return QByteArray("\x89PNG\r\n\x1A\n", 8) +
           chunk("IHDR", be32(1) + be32(1) + QByteArray("\x08\x06\0\0\0", 5)) + be32(0x7FFFFFFF) + "tEXt" +
           "Comment";
}

// A zTXt chunk whose text inflates to 64 MB, before the picture's own chunks.
QByteArray bombPng() {
    const QByteArray good = goodPng(4, 4);
    const QByteArray plain(64 << 20, 'a');
    uLongf length = compressBound(uLong(plain.size()));
    QByteArray packed(qsizetype(length), '\0');
    compress(reinterpret_cast<Bytef*>(packed.data()), &length,
             reinterpret_cast<const Bytef*>(plain.constData()), uLong(plain.size()));
    packed.truncate(qsizetype(length));
    return good.left(33) + chunk("zTXt", QByteArray("k\0\0", 3) + packed) + good.mid(33);
}

} // namespace

class TestHostilePictures : public QObject {
    Q_OBJECT

    TestHttpServer m_server;

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_server.start()); }

    void served_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("problem"); // empty: a thumbnail shows
        QTest::newRow("good") << goodPng(300, 200) << QString();
        QTest::newRow("48 bytes, tEXt claiming 2^31-1") << claimingPng() << "画像が壊れています";
        QTest::newRow("zTXt inflating to 64 MB") << bombPng() << "画像が壊れています";
        QTest::newRow("cut inside its data") << goodPng(300, 200).left(60) << "画像が壊れています";
    }
    void served() {
        QFETCH(QByteArray, body);
        QFETCH(QString, problem);
        static int served = 0;
        const QString path = QStringLiteral("/%1.png").arg(++served);
        m_server.route(path, TestHttpResponse::withType("image/png", body));
        const QString url = m_server.url(path).toString();
        PictureStore store{DownloadOptions{}};
        store.showing(url, m_server.url(QStringLiteral("/page.html")).toString(), true);
        QTRY_VERIFY_WITH_TIMEOUT(store.pending() == 0, 20000);
        QCOMPARE(store.facts(url).problem, problem);
        QCOMPARE(store.thumbnail(url).isNull(), !problem.isEmpty());
        QCOMPARE(store.facts(url).state,
                 problem.isEmpty() ? PictureFacts::State::Known : PictureFacts::State::Failed);
    }

    void cached_data() {
        QTest::addColumn<QByteArray>("patch"); // "key=value" text to store, or "damage"
        QTest::addColumn<bool>("kept");
        QTest::addColumn<qint64>("width");
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("type");
        QTest::newRow("as written") << QByteArray() << true << 640LL << 5000LL << "PNG";
        QTest::newRow("tEXt claiming 2^31-1") << QByteArray("damage") << false << -1LL << -1LL << QString();
        QTest::newRow("width 0") << QByteArray("nepirika-width=0") << true << -1LL << 5000LL << "PNG";
        QTest::newRow("width negative")
            << QByteArray("nepirika-width=-640") << true << -1LL << 5000LL << "PNG";
        QTest::newRow("width 4e9") << QByteArray("nepirika-width=4000000000") << true << -1LL << 5000LL
                                   << "PNG";
        QTest::newRow("width nonsense")
            << QByteArray("nepirika-width=6x4") << true << -1LL << 5000LL << "PNG";
        QTest::newRow("bytes negative") << QByteArray("nepirika-bytes=-7") << true << 640LL << -1LL << "PNG";
        QTest::newRow("type with a control character")
            << QByteArray("nepirika-type=P\x1bG") << true << 640LL << 5000LL << QString();
        QTest::newRow("another address")
            << QByteArray("nepirika-url=http://other/") << false << -1LL << -1LL << QString();
    }
    void cached() {
        QFETCH(QByteArray, patch);
        QFETCH(bool, kept);
        QFETCH(qint64, width);
        QFETCH(qint64, bytes);
        QFETCH(QString, type);
        QTemporaryDir dir;
        const ThumbnailDiskCache cache(dir.path());
        const QString url = QStringLiteral("http://h/a.png");
        ThumbnailDiskCache::Entry entry;
        entry.thumbnail = QImage::fromData(goodPng(128, 96));
        entry.facts.state = PictureFacts::State::Known;
        entry.facts.typeName = QStringLiteral("PNG");
        entry.facts.width = 640;
        entry.facts.height = 480;
        entry.facts.bytes = 5000;
        QVERIFY(cache.save(url, entry));
        // The file written, found by its address's hash, changed as the row says.
        QString path;
        for (const QFileInfo& sub : QDir(dir.path()).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot))
            path = QDir(sub.filePath()).entryInfoList(QDir::Files).value(0).filePath();
        if (patch == "damage") {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QByteArray bytesOnDisk = file.readAll();
            file.close();
            const qsizetype text = bytesOnDisk.indexOf("tEXt");
            QVERIFY(text > 4);
            bytesOnDisk.replace(text - 4, 4, be32(0x7FFFFFFF));
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(bytesOnDisk);
        } else if (!patch.isEmpty()) {
            QImage stored(path);
            const qsizetype equals = patch.indexOf('=');
            stored.setText(QString::fromLatin1(patch.left(equals)),
                           QString::fromLatin1(patch.mid(equals + 1)));
            QVERIFY(stored.save(path, "PNG"));
        }

        const std::optional<ThumbnailDiskCache::Entry> loaded = cache.load(url);
        QCOMPARE(loaded.has_value(), kept);
        if (patch == "damage")
            QVERIFY(!QFile::exists(path));
        if (!kept)
            return;
        QCOMPARE(loaded->facts.width, width);
        QCOMPARE(loaded->facts.height, width > 0 ? 480LL : -1LL);
        QCOMPARE(loaded->facts.bytes, bytes);
        QCOMPARE(loaded->facts.typeName, type);
        QCOMPARE(loaded->thumbnail.size(), QSize(128, 96));
    }
};

QTEST_MAIN(TestHostilePictures)
#include "tst_hostilepictures.moc"
