// A cookie file given to `nepirika harvest` and `nepirika download`: which requests carry which
// cookies, from the hidden pages (the engine) and the probes and downloads (libcurl) alike, against
// hosts under "x.localhost" on 127.0.0.1; and what is written about the file.

#include "ProgramRun.h"
#include "TestHttpServer.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QByteArray Secret = "Zq8-secret-value";

// The pairs of a Cookie header, in the order sent.
QStringList pairs(const QByteArray& header) {
    QStringList out;
    for (const QByteArray& part : header.split(';'))
        if (!part.trimmed().isEmpty())
            out.append(QString::fromLatin1(part.trimmed()));
    return out;
}

} // namespace

class TestLoginCookies : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        m_binary = ProgramRun::builtProgram();
        QVERIFY(QFileInfo(m_binary).isExecutable());
        QVERIFY(m_server.start());
        m_server.route(
            QStringLiteral("/in/page.html"),
            TestHttpResponse::html("<!doctype html><img src=\"/in/pic.png\"><img src=\"/index/p.png\">"
                                   "<img src=\"" +
                                   top().toUtf8() + "\">"));
        const QByteArray png = QByteArray::fromBase64("iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQV"
                                                      "R42mP8z8BQDwAEhQGAhKmMIQAAAABJRU5ErkJggg==");
        for (const char* path : {"/in/pic.png", "/index/p.png", "/top.png"})
            m_server.route(QString::fromLatin1(path), TestHttpResponse::withType("image/png", png));
        m_file = m_dir.filePath(QStringLiteral("cookies.txt"));
        QFile f(m_file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("# Netscape HTTP Cookie File\r\n"
                ".x.localhost\tTRUE\t/\tFALSE\t0\tdom\t1\r\n"
                "a.x.localhost\tFALSE\t/\tFALSE\t4102444800\thost\t2\r\n"
                "#HttpOnly_a.x.localhost\tFALSE\t/in\tFALSE\t0\tdeep\t3\r\n"
                "a.x.localhost\tFALSE\t/\tTRUE\t0\tsec\t4\r\n"
                "a.x.localhost\tFALSE\t/\tFALSE\t1000000000\told\t" +
                Secret +
                "\r\n"
                "other.localhost\tFALSE\t/\tFALSE\t0\telse\t" +
                Secret +
                "\r\n"
                "a.x.localhost\tFALSE\t/\tFALSE\tnever\tbad\t" +
                Secret + "\r\n");
        f.close();
        QVERIFY(f.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
    }

    // Each address: the cookies sent, the longest path first (Chromium's order); then those of the
    // same path in the file's order. The engine's requests and libcurl's carry the same.
    void whichRequestsCarryWhichCookies_data() {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("page under /in")
            << "/in/page.html" << QStringList{"deep=3", "dom=1", "host=2", "sec=4"};
        QTest::newRow("image under /in")
            << "/in/pic.png" << QStringList{"deep=3", "dom=1", "host=2", "sec=4"};
        QTest::newRow("/index is not under /in") << "/index/p.png" << QStringList{"dom=1", "host=2", "sec=4"};
        QTest::newRow("the parent domain") << "/top.png" << QStringList{"dom=1"};
    }
    void whichRequestsCarryWhichCookies() {
        QFETCH(QString, target);
        QFETCH(QStringList, expected);
        if (!m_ran) {
            m_ran = true;
            m_server.clearLog();
            const ProgramRun::Outcome h =
                run({QStringLiteral("harvest"), QStringLiteral("--probe"), QStringLiteral("--json"),
                     QStringLiteral("--verbose"), QStringLiteral("--cookies"), m_file, page()});
            QVERIFY2(h.finished && h.exitCode == 0, h.err.constData());
            checkMessages(h);
            const ProgramRun::Outcome d =
                run({QStringLiteral("download"), QStringLiteral("--dir"),
                     m_dir.filePath(QStringLiteral("DL")), QStringLiteral("--cookies"), m_file,
                     address("/in/pic.png"), address("/index/p.png"), top()});
            QVERIFY2(d.finished && d.exitCode == 0, d.err.constData());
            checkMessages(d);
        }
        const QList<TestHttpRequest> requests = m_server.requestsFor(target);
        // The page: once by the engine; an image: by the engine, the probe (a Range) and the download.
        QVERIFY(requests.size() >= (target.endsWith(u".html") ? 1 : 2));
        bool ranged = false;
        for (const TestHttpRequest& r : requests) {
            ranged = ranged || !r.header("range").isEmpty();
            const QStringList sent = pairs(r.header("cookie"));
            QCOMPARE(sent.first(), expected.first());
            QCOMPARE(QSet<QString>(sent.cbegin(), sent.cend()),
                     QSet<QString>(expected.cbegin(), expected.cend()));
            QCOMPARE(sent.size(), expected.size());
        }
        QVERIFY(target.endsWith(u".html") || ranged);
    }

    // No cookies without the option; a file that cannot be read stops the command before any request.
    void withoutTheOptionNone() {
        m_server.clearLog();
        const ProgramRun::Outcome d = run({QStringLiteral("download"), QStringLiteral("--dir"),
                                           m_dir.filePath(QStringLiteral("DL2")), address("/in/pic.png")});
        QCOMPARE(d.exitCode, 0);
        QVERIFY(m_server.requestsFor(QStringLiteral("/in/pic.png")).first().header("cookie").isEmpty());
        const ProgramRun::Outcome missing =
            run({QStringLiteral("download"), QStringLiteral("--cookies"),
                 m_dir.filePath(QStringLiteral("none")), address("/in/pic.png")});
        QCOMPARE(missing.exitCode, 2);
        QCOMPARE(m_server.requestsFor(QStringLiteral("/in/pic.png")).size(), 1);
    }

private:
    QString address(const char* path) const {
        return QStringLiteral("http://a.x.localhost:%1%2").arg(m_server.port()).arg(QLatin1String(path));
    }
    QString page() const { return address("/in/page.html"); }
    QString top() const { return QStringLiteral("http://x.localhost:%1/top.png").arg(m_server.port()); }

    ProgramRun::Outcome run(const QStringList& arguments) const {
        ProgramRun program;
        program.binary = m_binary;
        program.arguments = arguments;
        program.environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        program.environment.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
        program.timeoutMs = 90000;
        return program.run();
    }

    // The bad line named by its number, the expired one counted; no value of any cookie anywhere.
    void checkMessages(const ProgramRun::Outcome& o) const {
        QVERIFY2(o.err.contains((m_file + QStringLiteral(":8: ")).toUtf8()), o.err.constData());
        QVERIFY(o.err.contains("1 expired"));
        QVERIFY(!o.err.contains(Secret) && !o.out.contains(Secret));
        QVERIFY(!o.err.contains("warning"));
    }

    TestHttpServer m_server;
    QTemporaryDir m_dir;
    QString m_binary;
    QString m_file;
    bool m_ran = false;
};

QTEST_GUILESS_MAIN(TestLoginCookies)
#include "tst_logincookies.moc"
