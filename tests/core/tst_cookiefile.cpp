// The Netscape cookie-file reader: the files that exporters and people really write, and the bad
// lines among them.

#include "CookieFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {
const QDateTime Now = QDateTime::fromSecsSinceEpoch(1800000000, Qt::UTC);
const QByteArray Secret = "s3cr3t-VALUE";
} // namespace

class TestCookieFile : public QObject {
    Q_OBJECT
private slots:
    // One file per row: what is taken (domain, host-only, path, secure, expiry of the first cookie),
    // how many, and which lines are named with which fault.
    void reading_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("domain");
        QTest::addColumn<bool>("hostOnly");
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("secure");
        QTest::addColumn<qint64>("expires");
        QTest::addColumn<QList<int>>("badLines");
        QTest::addColumn<QList<int>>("faults");
        const auto row = [](const char* tag, const QByteArray& file, int count, const char* domain,
                            bool hostOnly, const char* path, bool secure, qint64 expires, QList<int> bad = {},
                            QList<CookieFile::Fault> faults = {}) {
            QList<int> kinds;
            for (CookieFile::Fault f : faults)
                kinds.append(int(f));
            QTest::newRow(tag) << file << count << QString::fromUtf8(domain) << hostOnly
                               << QString::fromUtf8(path) << secure << expires << bad << kinds;
        };
        const QByteArray v = Secret;
        using F = CookieFile::Fault;
        row("curl's own file",
            "# Netscape HTTP Cookie File\n# https://curl.se/docs/http-cookies.html\n\n"
            "example.com\tFALSE\t/\tFALSE\t0\tsid\t" +
                v + "\n",
            1, "example.com", true, "/", false, 0);
        row("leading dot: a domain cookie", ".Example.COM\tTRUE\t/a\tTRUE\t1900000000\tsid\t" + v + "\n", 1,
            "example.com", false, "/a", true, 1900000000);
        row("leading dot, flag FALSE: still a domain cookie", ".example.com\tFALSE\t/\tFALSE\t0\tsid\t" + v,
            1, "example.com", false, "/", false, 0);
        row("CRLF, BOM, #HttpOnly_",
            "\xEF\xBB\xBF# comment\r\n#HttpOnly_shop.example\tFALSE\t/\tFALSE\t\tsid\t" + v + "\r\n\r\n", 1,
            "shop.example", true, "/", false, 0);
        row("an IP address is its own host", "127.0.0.1\tTRUE\t/\tFALSE\t0\tsid\t" + v + "\n", 1, "127.0.0.1",
            true, "/", false, 0);
        row("IPv6 with a port", "[::1]:8080\tFALSE\t/\tFALSE\t0\tsid\t" + v + "\n", 1, "::1", true, "/",
            false, 0);
        row("a port is dropped", "example.com:8080\tFALSE\t/\tFALSE\t0\tsid\t" + v + "\n", 1, "example.com",
            true, "/", false, 0);
        row("a name without a dot has only its own cookies", "localhost\tTRUE\t/\tFALSE\t0\tsid\t" + v, 1,
            "localhost", true, "/", false, 0);
        row("IDN to ASCII",
            "b\xC3\xBC"
            "cher.example\tFALSE\t/\tFALSE\t0\tsid\t" +
                v + "\n",
            1, "xn--bcher-kva.example", true, "/", false, 0);
        row("six fields: an empty value", "example.com\tFALSE\t/\tFALSE\t0\tflag\n", 1, "example.com", true,
            "/", false, 0);
        row("expired left out, later line used",
            "example.com\tFALSE\t/\tFALSE\t1700000000\told\t" + v +
                "\nexample.com\tFALSE\t/\tFALSE\t0\tsid\t" + v,
            1, "example.com", true, "/", false, 0);
        row("a later line replaces the same cookie",
            "example.com\tFALSE\t/\tFALSE\t0\tsid\ta\nexample.com\tFALSE\t/\tTRUE\t0\tsid\t" + v, 1,
            "example.com", true, "/", true, 0);
        QByteArray bad;
        bad += "x\tFALSE\t/\n";                                                         // 1
        bad += "\tFALSE\t/\tFALSE\t0\tsid\t" + v + "\n";                                // 2
        bad += "example.com\tyes\t/\tFALSE\t0\tsid\t" + v + "\n";                       // 3
        bad += "example.com\tFALSE\trel\tFALSE\t0\tsid\t" + v + "\n";                   // 4
        bad += "example.com\tFALSE\t/\tFALSE\tsoon\tsid\t" + v + "\n";                  // 5
        bad += "example.com\tFALSE\t/\tFALSE\t0\ta=b\t" + v + "\n";                     // 6
        bad += "example.com\tFALSE\t/\tFALSE\t0\tsid\ta;b\n";                           // 7
        bad += "example.com\tFALSE\t/\tFALSE\t0\tbig\t" + QByteArray(4094, 'x') + "\n"; // 8
        bad += "ok.example\tFALSE\t/\tFALSE\t0\tsid\t" + v + "\n";                      // 9
        bad += "a b.example\tFALSE\t/\tFALSE\t0\tsid\t" + v + "\n";                     // 10
        bad += QByteArray("example.com\tFALSE\t/\tFALSE\t0\tnul\ta\0b\n", 36);          // 11
        row("bad lines named, the others used", bad, 1, "ok.example", true, "/", false, 0,
            {1, 2, 3, 4, 5, 6, 7, 8, 10, 11},
            {F::Fields, F::Domain, F::Flag, F::Path, F::Expiry, F::Name, F::Value, F::TooLarge, F::Domain,
             F::Value});
        QByteArray garbage;
        for (int i = 0; i < 4096; ++i)
            garbage.append(char((i * 7919) % 256));
        row("binary garbage", garbage + "\nexample.com\tFALSE\t/\tFALSE\t0\tsid\t" + v, 1, "example.com",
            true, "/", false, 0);
    }
    void reading() {
        QFETCH(QByteArray, file);
        QFETCH(int, count);
        QFETCH(QList<int>, badLines);
        QFETCH(QList<int>, faults);
        const CookieFile::Reading r = CookieFile::parse(file, Now);
        QCOMPARE(r.cookies.size(), count);
        const FileCookie& c = r.cookies.first();
        QTEST(c.domain, "domain");
        QTEST(c.hostOnly, "hostOnly");
        QTEST(c.path, "path");
        QTEST(c.secure, "secure");
        QTEST(c.expires, "expires");
        QList<int> named, kinds;
        for (const CookieFile::Problem& p : r.problems) {
            named.append(p.line);
            kinds.append(int(p.fault));
        }
        if (QTest::currentDataTag() != QByteArray("binary garbage")) {
            QCOMPARE(named, badLines);
            QCOMPARE(kinds, faults);
        }
        // No message carries a value.
        for (const QString& note : CookieFile::notes(QStringLiteral("c.txt"), r, true) +
                                       CookieFile::notes(QStringLiteral("c.txt"), r, false)) {
            QVERIFY2(!note.contains(QString::fromLatin1(Secret)), qPrintable(note));
            QVERIFY(note.startsWith(QStringLiteral("c.txt:")));
        }
    }

    // 100,000 lines of one site: a browser's limits, the newest kept, read at once.
    void manyLines() {
        QByteArray file;
        for (int i = 0; i < 100000; ++i)
            file += "example.com\tFALSE\t/\tFALSE\t0\tc" + QByteArray::number(i) + "\tv\n";
        const CookieFile::Reading r = CookieFile::parse(file, Now);
        QCOMPARE(r.cookies.size(), CookieFile::MostPerDomain);
        QCOMPARE(r.overLimit, 100000 - CookieFile::MostPerDomain);
        QCOMPARE(r.cookies.last().name, QByteArray("c99999"));
    }

    // The file is only read; one that others can read is warned of, and one missing is named.
    void fileOnDisk() {
        QTemporaryDir dir;
        const QString name = dir.filePath(QStringLiteral("cookies.txt"));
        QFile f(name);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("example.com\tFALSE\t/\tFALSE\t0\tsid\t" + Secret + "\n");
        f.close();
        QVERIFY(f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
        const QDateTime before = QFileInfo(name).lastModified();
        CookieFile::Reading r = CookieFile::read(name, Now);
        QVERIFY(r.error.isEmpty());
        QVERIFY(r.othersMayRead);
        QVERIFY(CookieFile::notes(name, r, false).last().contains(QStringLiteral("warning")));
        QCOMPARE(QFileInfo(name).lastModified(), before);
        QVERIFY(f.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
        QVERIFY(!CookieFile::read(name, Now).othersMayRead);
        r = CookieFile::read(dir.filePath(QStringLiteral("none.txt")), Now);
        QVERIFY(r.error.startsWith(dir.filePath(QStringLiteral("none.txt"))));
    }
};

QTEST_GUILESS_MAIN(TestCookieFile)
#include "tst_cookiefile.moc"
