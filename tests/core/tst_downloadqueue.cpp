#include "DownloadQueue.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// The kept record of an unfinished download batch, as the next run reads it: whatever the file
// holds, a batch to continue or a clear message, never an entry that reaches outside its folder.
class TestDownloadQueue : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void readKept_data();
    void readKept();
};

void TestDownloadQueue::readKept_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QList<int>>("unfinished");
    const QByteArray head = R"({"format":"nepirika-download-queue","version":1,"folder":"FOLDER","items":)";
    // a.jpg (empty) is in the folder, b.jpg and c.jpg are not: c.jpg, saved once, is gone and is
    // fetched again.
    QTest::newRow("kept batch")
        << head + R"([{"url":"http://h/w","referer":"http://h/p","charset":"EUC-JP",)"
                  R"("state":"waiting"},{"url":"http://h/a","state":"claimed","name":"a.jpg"},)"
                  R"({"url":"http://h/b","state":"claimed","name":"b.jpg"},)"
                  R"({"url":"http://h/c","state":"saved","name":"c.jpg"}]})"
        << QString() << QList<int>{0, 2, 3};
    const QByteArray head2 =
        R"({"format":"nepirika-download-queue","version":2,"folder":"FOLDER","batch":"b1","items":)";
    // The size recorded is checked: a file of another size (cut short by a power cut, replaced)
    // is no saved file of the batch.
    QTest::newRow("saved, size as recorded")
        << head2 +
               R"([{"url":"http://h/a","referer":"http://h/p","charset":"EUC-JP","state":"saved","name":"a.jpg","size":0}]})"
        << QString() << QList<int>{};
    QTest::newRow("saved, another size")
        << head2 +
               R"([{"url":"http://h/a","referer":"http://h/p","charset":"EUC-JP","state":"saved","name":"a.jpg","size":5}]})"
        << QString() << QList<int>{0};
    QTest::newRow("claimed, another size than announced")
        << head2 +
               R"([{"url":"http://h/a","referer":"http://h/p","charset":"EUC-JP","state":"claimed","name":"a.jpg","size":5,"validator":"\"v\""}]})"
        << QString() << QList<int>{0};
    QTest::newRow("batch name not ours")
        << QByteArray(
               R"({"format":"nepirika-download-queue","version":2,"folder":"/x","batch":"../a","items":[]})")
        << "名前が壊れています" << QList<int>();
    QTest::newRow("empty file") << QByteArray() << "ネピリカのダウンロードの記録ではありません"
                                << QList<int>();
    QTest::newRow("cut short by a crash") << head + R"([{"url":"http://h/w","sta)"
                                          << "ネピリカのダウンロードの記録ではありません" << QList<int>();
    QTest::newRow("another program's JSON") << QByteArray(R"({"items":[{"url":"http://h/"}]})")
                                            << "ネピリカのダウンロードの記録ではありません" << QList<int>();
    QTest::newRow("a later version")
        << QByteArray(R"({"format":"nepirika-download-queue","version":3,"folder":"/x","items":[]})")
        << "版 3" << QList<int>();
    QTest::newRow("relative folder")
        << QByteArray(R"({"format":"nepirika-download-queue","version":1,"folder":"DL","items":[]})")
        << "フォルダ" << QList<int>();
    QTest::newRow("folder Qt would read as a resource")
        << QByteArray(R"({"format":"nepirika-download-queue","version":1,"folder":":dl","items":[]})")
        << "フォルダ" << QList<int>();
    QTest::newRow("folder holding NUL and an override")
        << QByteArray(
               R"({"format":"nepirika-download-queue","version":1,"folder":"/tmp/a\u0000\u202eb","items":[]})")
        << "フォルダ" << QList<int>();
    QTest::newRow("name outside the folder")
        << head +
               R"([{"url":"http://h/a","state":"waiting"},{"url":"http://h/b","state":"claimed","name":"../b.jpg"}]})"
        << "2 件目が壊れています" << QList<int>();
    QTest::newRow("name Qt reads as a resource path")
        << head + R"([{"url":"http://h/a","state":"claimed","name":":dl"}]})"
        << "1 件目が壊れています" << QList<int>();
    QTest::newRow("claimed without a name") << head + R"([{"url":"http://h/a","state":"claimed"}]})"
                                            << "1 件目が壊れています" << QList<int>();
    QTest::newRow("unknown state") << head + R"([{"url":"http://h/a","state":"half"}]})"
                                   << "1 件目が壊れています" << QList<int>();
    QTest::newRow("no address") << head + R"([{"state":"waiting"}]})"
                                << "1 件目が壊れています" << QList<int>();
}

void TestDownloadQueue::readKept() {
    QFETCH(QByteArray, content);
    QFETCH(QString, error);
    QFETCH(QList<int>, unfinished);
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("DL"));
    QVERIFY(QDir().mkpath(folder));
    QFile published(folder + QStringLiteral("/a.jpg"));
    QVERIFY(published.open(QIODevice::WriteOnly));
    const QString path = dir.filePath(QStringLiteral("queue.json"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(content).replace("FOLDER", folder.toUtf8()));
    file.close();

    DownloadQueue queue;
    QString message;
    const DownloadQueue::ReadStatus status = DownloadQueue::read(path, &queue, &message);
    if (!error.isEmpty()) {
        QCOMPARE(status, DownloadQueue::ReadStatus::Damaged);
        QVERIFY2(message.contains(error) && message.contains(path), qPrintable(message));
        return;
    }
    QCOMPARE(status, DownloadQueue::ReadStatus::Read);
    QCOMPARE(queue.entries.first().referer, QStringLiteral("http://h/p"));
    QCOMPARE(queue.entries.first().charset, QStringLiteral("EUC-JP"));
    // A claim whose file exists was saved before the run ended; one whose file never appeared waits.
    queue.settleClaims();
    QCOMPARE(queue.unfinished(), unfinished);
    // What is written reads back the same, in place of the old record.
    QVERIFY(queue.write(path, &message));
    DownloadQueue again;
    QCOMPARE(DownloadQueue::read(path, &again, &message), DownloadQueue::ReadStatus::Read);
    QCOMPARE(again.toJson(), queue.toJson());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("queue.json")});
    // A batch running elsewhere holds its record: no second run takes it until that one ends.
    {
        const DownloadQueue::Lock running(path);
        QVERIFY(running.held());
        QVERIFY(!DownloadQueue::Lock(path).held());
    }
    QVERIFY(DownloadQueue::Lock(path).held());
    // The same folder written otherwise is kept in the same record.
    QCOMPARE(DownloadQueue::fileFor(folder + QStringLiteral("/./"), QStringLiteral("b")),
             DownloadQueue::fileFor(folder, QStringLiteral("b")));
}

QTEST_GUILESS_MAIN(TestDownloadQueue)
#include "tst_downloadqueue.moc"
