#include "DownloadBatch.h"
#include "HostPauses.h"
#include "ImageProbe.h"
#include "TestHttpServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QMutex>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

QByteArray be32(quint32 v) {
    return QByteArray(1, char(v >> 24)) + char(v >> 16) + char(v >> 8) + char(v);
}

// A PNG header the probe reads as 64×48 pixels, with some data after it.
QByteArray png() {
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + be32(13) + "IHDR" + be32(64) + be32(48) +
           QByteArray("\x08\x02\0\0\0", 5) + be32(0) + QByteArray(2000, 'd');
}

// When each request reached the servers, on one clock, in the order they came.
struct ArrivalLog {
    QMutex mutex;
    QElapsedTimer clock;
    QList<QPair<QString, qint64>> arrivals;

    void add(const QString& what) {
        QMutexLocker lock(&mutex);
        arrivals.append({what, clock.elapsed()});
    }
    QList<QPair<QString, qint64>> all() {
        QMutexLocker lock(&mutex);
        return arrivals;
    }
};

// One client of the process fetching addresses: a download batch or the image probe. Reports
// whether each address was fetched (empty) or why not.
class Client {
public:
    Client(const QString& kind, const QStringList& urls, const QString& folder) {
        if (kind == u"download") {
            QList<DownloadItem> items;
            for (const QString& url : urls) {
                DownloadItem item;
                item.url = url;
                items.append(item);
            }
            DownloadOptions options;
            options.retryDelayMs = 20;
            m_batch = std::make_unique<DownloadBatch>(folder, items, options);
            m_done = std::make_unique<QSignalSpy>(m_batch.get(), &DownloadBatch::finished);
            m_batch->start();
            return;
        }
        m_probe = std::make_unique<ImageProbe>(DownloadOptions{});
        m_done = std::make_unique<QSignalSpy>(m_probe.get(), &ImageProbe::probed);
        for (const QString& url : urls)
            m_probe->add({url, {}});
        m_expected = int(urls.size());
    }

    bool finished() const { return m_batch ? m_done->size() == 1 : m_done->size() == m_expected; }

    QStringList problems() const {
        QStringList problems;
        if (m_batch) {
            for (const DownloadResult& result : m_batch->results())
                problems.append(result.message);
            return problems;
        }
        problems.resize(m_expected);
        for (const QList<QVariant>& probed : *m_done)
            problems[probed.at(0).toInt()] = probed.at(1).value<ImageProbeResult>().problem;
        return problems;
    }

private:
    std::unique_ptr<DownloadBatch> m_batch;
    std::unique_ptr<ImageProbe> m_probe;
    std::unique_ptr<QSignalSpy> m_done;
    int m_expected = 0;
};

} // namespace

class TestHostPauses : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void bound_data();
    void bound();
    void sharedPause_data();
    void sharedPause();

private:
    TestHttpServer m_busy;
    TestHttpServer m_other;
    ArrivalLog m_log;
    std::shared_ptr<QAtomicInt> m_busyCalls = std::make_shared<QAtomicInt>(0);
};

void TestHostPauses::initTestCase() {
    qRegisterMetaType<ImageProbeResult>();
    QVERIFY(m_busy.start());
    QVERIFY(m_other.start(0, QStringLiteral("127.0.0.2")));
    m_log.clock.start();
    ArrivalLog* log = &m_log;
    auto calls = m_busyCalls;
    // The busy host asks to wait two seconds, once per test row.
    m_busy.route("/busy.png", [log, calls](const TestHttpRequest&) {
        log->add(QStringLiteral("busy"));
        if (calls->fetchAndAddOrdered(1) == 0) {
            TestHttpResponse busy = TestHttpResponse::error(429);
            busy.headers.append(qMakePair(QByteArray("Retry-After"), QByteArray("2")));
            return busy;
        }
        return TestHttpResponse::withType("image/png", png());
    });
    m_busy.route("/next.png", [log](const TestHttpRequest&) {
        log->add(QStringLiteral("next"));
        return TestHttpResponse::withType("image/png", png());
    });
    m_other.route("/elsewhere.png", [log](const TestHttpRequest&) {
        log->add(QStringLiteral("elsewhere"));
        return TestHttpResponse::withType("image/png", png());
    });
}

// The pause a Retry-After asks for, bounded; checked on the clock, without waiting for it.
void TestHostPauses::bound_data() {
    QTest::addColumn<qint64>("retryAfter");
    QTest::addColumn<qint64>("seconds");
    QTest::newRow("absent") << qint64(-1) << qint64(0);
    QTest::newRow("zero") << qint64(0) << qint64(0);
    QTest::newRow("two seconds") << qint64(2) << qint64(2);
    QTest::newRow("ten minutes") << qint64(600) << qint64(600);
    QTest::newRow("a second past ten minutes") << qint64(601) << qint64(600);
    QTest::newRow("an hour") << qint64(3600) << qint64(600);
    QTest::newRow("a date years ahead") << qint64(400'000'000) << qint64(600);
}

void TestHostPauses::bound() {
    QFETCH(qint64, retryAfter);
    QFETCH(qint64, seconds);
    QCOMPARE(HostPauses::boundedSeconds(retryAfter), seconds);
    HostPauses* pauses = HostPauses::instance();
    const QString host = QStringLiteral("Bound.Example");
    QSignalSpy resumed(pauses, &HostPauses::resumed);
    pauses->pause(host, retryAfter);
    QCOMPARE(pauses->isPaused(QStringLiteral("bound.example")), seconds > 0);
    const qint64 left = pauses->remainingMs(host);
    QVERIFY2(left <= seconds * 1000 && left > seconds * 1000 - 1000, qPrintable(QString::number(left)));
    // A shorter pause asked for later does not cut a longer one short.
    pauses->pause(host, 1);
    QVERIFY(pauses->remainingMs(host) >= left - 1000);
    QCOMPARE(pauses->pauses().size(), 1);
    if (seconds > 0)
        QCOMPARE(HostPauses::waitingText(pauses->pauses().first()),
                 QStringLiteral("bound.example が混雑しているため %1 秒待っています").arg(seconds));
    pauses->clear();
    QVERIFY(!pauses->isPaused(host));
    QCOMPARE(resumed.size(), 1);
}

// A client meets 429 with Retry-After: 2 from the busy host. Until two seconds have passed, no client
// of the process sends that host anything, while the other host is served; then all go on.
void TestHostPauses::sharedPause_data() {
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::newRow("download, then download") << "download"
                                             << "download";
    QTest::newRow("download, then probe") << "download"
                                          << "probe";
    QTest::newRow("probe, then download") << "probe"
                                          << "download";
}

void TestHostPauses::sharedPause() {
    QFETCH(QString, first);
    QFETCH(QString, second);
    m_busyCalls->storeRelease(0);
    {
        QMutexLocker lock(&m_log.mutex);
        m_log.arrivals.clear();
    }
    QTemporaryDir dir;
    const QString host = m_busy.url("/").host();
    HostPauses* pauses = HostPauses::instance();
    QVERIFY(!pauses->isPaused(host));

    QVERIFY(QDir().mkpath(dir.filePath("a")) && QDir().mkpath(dir.filePath("b")));
    Client asked(first, {m_busy.urlText("/busy.png")}, dir.filePath("a"));
    QTRY_VERIFY_WITH_TIMEOUT(pauses->isPaused(host), 10000);
    Client waiting(second, {m_busy.urlText("/next.png"), m_other.urlText("/elsewhere.png")},
                   dir.filePath("b"));
    QTRY_VERIFY_WITH_TIMEOUT(asked.finished() && waiting.finished(), 20000);
    QCOMPARE(asked.problems(), QStringList{QString()});
    QCOMPARE(waiting.problems(), QStringList({QString(), QString()}));
    QVERIFY(!pauses->isPaused(host));

    // busy (429), elsewhere during the pause, then busy again and next once it has ended.
    const auto arrivals = m_log.all();
    QCOMPARE(arrivals.size(), 4);
    QCOMPARE(arrivals.first().first, QStringLiteral("busy"));
    const qint64 asking = arrivals.first().second;
    for (const auto& [what, at] : arrivals.mid(1)) {
        if (what == u"elsewhere")
            QVERIFY2(at < asking + 1900,
                     qPrintable(QStringLiteral("another host waited %1 ms").arg(at - asking)));
        else
            QVERIFY2(at >= asking + 1950,
                     qPrintable(QStringLiteral("%1 came %2 ms after the 429").arg(what).arg(at - asking)));
    }
}

QTEST_GUILESS_MAIN(TestHostPauses)
#include "tst_hostpauses.moc"
