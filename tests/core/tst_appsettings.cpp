#include "AppSettings.h"
#include "MemoryBudget.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestAppSettings : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString path() const { return m_dir.filePath(QStringLiteral("nepirika.ini")); }

private Q_SLOTS:
    void init() { QFile::remove(path()); }

    void defaultsWithoutAFile() {
        const AppSettings settings(path());
        QCOMPARE(settings.pagesFolder(), QStringLiteral("Page"));
        QCOMPARE(settings.filesFolder(), QStringLiteral("DL"));
        QCOMPARE(settings.pagesFilter(), QStringLiteral(".htm"));
        QCOMPARE(settings.filesFilter(), QStringLiteral(".jpg"));
        QVERIFY(settings.windowGeometry().isEmpty());
        QVERIFY(settings.recentInputs().isEmpty());
        QCOMPARE(settings.noScripts(), false);
        QCOMPARE(settings.parallelPages(), 4);
        QCOMPARE(settings.downloadJobs(), 6);
    }

    void writtenAndReadBack() {
        const QByteArray geometry("\x01\xd9\xd0\xcb\x00\x03", 6);
        {
            AppSettings settings(path());
            settings.setPagesFolder(QStringLiteral("/srv/ページ"));
            settings.setFilesFolder(QStringLiteral("~/写真"));
            settings.setPagesFilter(QString());
            settings.setFilesFilter(QStringLiteral(".PNG"));
            settings.setWindowGeometry(geometry);
            settings.setNoScripts(true);
            settings.setParallelPages(2);
            settings.setDownloadJobs(99);
            for (int i = 1; i <= 22; ++i)
                settings.addRecentInput(QStringLiteral("http://a/%1\nhttp://b/%1").arg(i));
            settings.addRecentInput(QStringLiteral("http://a/5\nhttp://b/5"));
            settings.addRecentInput(QStringLiteral("  \n"));
            QVERIFY(settings.sync());
            QCOMPARE(settings.recentLinesLeftOut().first(), 0);
            // A long input keeps its first lines and counts the rest.
            QStringList many;
            for (int i = 0; i < 250; ++i)
                many.append(QStringLiteral("http://many/%1").arg(i));
            settings.addRecentInput(many.join(QStringLiteral("\r\n")));
            settings.addRecentInput(QStringLiteral("http://a/5\nhttp://b/5"));
            QCOMPARE(settings.recentInputs().at(1), many.mid(0, 200).join(u'\n'));
            QCOMPARE(settings.recentLinesLeftOut().mid(0, 2), QList<qsizetype>({0, 50}));
        }
        const AppSettings settings(path());
        QCOMPARE(settings.pagesFolder(), QStringLiteral("/srv/ページ"));
        QCOMPARE(settings.filesFolder(), QStringLiteral("~/写真"));
        // An emptied filter box stays empty; it does not come back as the default.
        QCOMPARE(settings.pagesFilter(), QString());
        QCOMPARE(settings.filesFilter(), QStringLiteral(".PNG"));
        QCOMPARE(settings.windowGeometry(), geometry);
        QCOMPARE(settings.noScripts(), true);
        QCOMPARE(settings.parallelPages(), 2);
        QCOMPARE(settings.downloadJobs(), WorkLimits::MostTransfersAtOnce);
        const QStringList recent = settings.recentInputs();
        QCOMPARE(recent.size(), 20);
        QCOMPARE(recent.first(), QStringLiteral("http://a/5\nhttp://b/5"));
        QCOMPARE(recent.at(2), QStringLiteral("http://a/22\nhttp://b/22"));
        QCOMPARE(settings.recentLinesLeftOut().mid(0, 3), QList<qsizetype>({0, 50, 0}));
        QCOMPARE(recent.count(QStringLiteral("http://a/5\nhttp://b/5")), 1);
        QVERIFY(!recent.contains(QStringLiteral("http://a/1\nhttp://b/1")));
    }

    void inMemoryKeepsValuesButWritesNothing() {
        AppSettings settings;
        QVERIFY(settings.fileName().isEmpty());
        settings.setParallelPages(3);
        settings.addRecentInput(QStringLiteral("http://a/"));
        QVERIFY(settings.sync());
        QCOMPARE(settings.parallelPages(), 3);
        QCOMPARE(settings.recentInputs(), QStringList{QStringLiteral("http://a/")});
        QVERIFY(AppSettings::defaultFile().endsWith(QStringLiteral("/nepirika/nepirika.ini")));
    }

    void damagedValuesReadAsDefaults() {
        QFile file(path());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[harvest]\nparallelPages=lots\nnoScripts=maybe\n[download]\njobs=0\n"
                   "[follow]\ndepth=9\nspanHosts=perhaps\nignoreRobots=1\ndelaySeconds=-3\nmatch=\"a  B\"\n");
        file.close();
        const AppSettings settings(path());
        QCOMPARE(settings.parallelPages(), 4);
        QCOMPARE(settings.downloadJobs(), 6);
        QCOMPARE(settings.noScripts(), false);
        // Following: a depth beyond 3 is 3, an unclear yes is no, a negative wait none.
        const LinkFollowing::Settings follow = settings.following();
        QCOMPARE(follow.depth, 3);
        QCOMPARE(follow.spanHosts, false);
        QCOMPARE(follow.obeyRobots, false);
        QCOMPARE(follow.delaySeconds, 0.0);
        QCOMPARE(follow.match, (QStringList{QStringLiteral("a"), QStringLiteral("B")}));
    }
    // Pages at once against the memory left: the pages open stay, one is always allowed, and the
    // kernel's figure is read in kB.
    void pagesAtOnceWithinMemory_data() {
        QTest::addColumn<QByteArray>("meminfo");
        QTest::addColumn<int>("wanted");
        QTest::addColumn<int>("open");
        QTest::addColumn<int>("expected");
        const QByteArray head = "MemTotal:       24576000 kB\nMemFree:         1000 kB\n";
        auto avail = [&](qint64 mib) {
            return head + "MemAvailable:   " + QByteArray::number(mib * 1024) + " kB\n";
        };
        QTest::newRow("plenty") << avail(20000) << 4 << 1 << 4;
        QTest::newRow("room for one more") << avail(512 + 192) << 4 << 1 << 2;
        QTest::newRow("not quite one more") << avail(512 + 191) << 4 << 1 << 1;
        QTest::newRow("short: open pages stay") << avail(100) << 4 << 3 << 3;
        QTest::newRow("nothing left: still one") << avail(0) << 4 << 0 << 1;
        QTest::newRow("all open already") << avail(0) << 4 << 4 << 4;
        QTest::newRow("no MemAvailable line") << head << 8 << 1 << 8;
        QTest::newRow("unreadable figure") << QByteArray("MemAvailable: lots kB\n") << 8 << 1 << 8;
        QTest::newRow("overflowing figure")
            << QByteArray("MemAvailable: 99999999999999999999 kB\n") << 8 << 1 << 8;
    }
    void pagesAtOnceWithinMemory() {
        QFETCH(QByteArray, meminfo);
        QFETCH(int, wanted);
        QFETCH(int, open);
        QFETCH(int, expected);
        QCOMPARE(MemoryBudget::pagesAtOnce(wanted, open, MemoryBudget::availableFromMeminfo(meminfo)),
                 expected);
    }
};

QTEST_GUILESS_MAIN(TestAppSettings)
#include "tst_appsettings.moc"
