#include "tURLDataList.h"

#include <QTest>

class TestRecords : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void emptyListFindsNothing();
    void duplicatesAreKeptOutPerKind();
    void addressesAreComparedExactly();
    void orderIsKept();
    void indexOutOfRangeSaysWhich();
    void largeListStaysLinear();
};

void TestRecords::emptyListFindsNothing() {
    tURLDataList list;
    for (qint32 kind : {tURLData::KindPage, tURLData::KindImage, tURLData::KindEmbed, tURLData::KindScript})
        QVERIFY(!list.Contains(QStringLiteral("http://a/"), kind));
    QCOMPARE(list.Count(), 0);
}

void TestRecords::duplicatesAreKeptOutPerKind() {
    tURLDataList list;
    const QString a = QStringLiteral("http://host/a.gif");
    QVERIFY(list.Add(tURLData::make(a, tURLData::KindImage, 0, QStringLiteral("http://host/"))));
    QVERIFY(!list.Add(tURLData::make(a, tURLData::KindImage, 0, QStringLiteral("http://other/"))));
    QVERIFY(list.Add(tURLData::make(a, tURLData::KindPage, 0, QStringLiteral("http://host/"))));
    QCOMPARE(list.Count(), 2);
    // The first finding stays: its source is the first page.
    QCOMPARE(list.Items(0).Source, QStringLiteral("http://host/"));
    QCOMPARE(list.Items(0).StatusText, QStringLiteral("取得不能"));
}

void TestRecords::addressesAreComparedExactly() {
    tURLDataList list;
    QVERIFY(list.Add(tURLData::make(QStringLiteral("http://host/A"), tURLData::KindPage, 0, {})));
    QVERIFY(list.Add(tURLData::make(QStringLiteral("http://host/a"), tURLData::KindPage, 0, {})));
    QVERIFY(list.Add(tURLData::make(QStringLiteral("http://host/a/"), tURLData::KindPage, 0, {})));
    QCOMPARE(list.Count(), 3);
}

void TestRecords::orderIsKept() {
    tURLDataList list;
    for (int i = 9; i >= 0; --i)
        list.Add(tURLData::make(QStringLiteral("http://h/%1").arg(i), tURLData::KindPage, 0, {}));
    for (int i = 0; i < 10; ++i)
        QCOMPARE(list.Items(i).URL, QStringLiteral("http://h/%1").arg(9 - i));
}

void TestRecords::indexOutOfRangeSaysWhich() {
    // A bad position is a programming error: logged with the position, answered with an empty
    // record, and never thrown (it may be reached from a path that the browser engine calls).
    tURLDataList list;
    list.Add(tURLData::make(QStringLiteral("http://h/"), tURLData::KindPage, 0, {}));
    for (const qsizetype bad : {qsizetype(5), qsizetype(-1), qsizetype(1)}) {
        QTest::ignoreMessage(
            QtCriticalMsg,
            qPrintable(QStringLiteral("リストのインデックスが範囲を超えています (%1)").arg(bad)));
        QVERIFY(list.Items(bad).URL.isEmpty());
    }
    QCOMPARE(list.Items(0).URL, QStringLiteral("http://h/"));
}

void TestRecords::largeListStaysLinear() {
    // 200,000 insertions, half of them duplicates: a quadratic duplicate test would not finish.
    tURLDataList list;
    for (int round = 0; round < 2; ++round)
        for (int i = 0; i < 100000; ++i)
            list.Add(tURLData::make(QStringLiteral("http://h/%1").arg(i), tURLData::KindImage, 0, {}));
    QCOMPARE(list.Count(), 100000);
}

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
