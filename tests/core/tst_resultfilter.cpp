#include "ResultFilter.h"

#include <QTest>

class TestResultFilter : public QObject {
    Q_OBJECT

private:
    static tURLDataList sample() {
        tURLDataList list;
        const QList<QPair<QString, qint32>> records = {
            {QStringLiteral("http://host/index.htm"), tURLData::KindPage},
            {QStringLiteral("http://host/a.jpg"), tURLData::KindImage},
            {QStringLiteral("http://host/page.html"), tURLData::KindPage},
            {QStringLiteral("javascript:go('x.htm')"), tURLData::KindScript},
            {QStringLiteral("http://host/x.htm?y=1"), tURLData::KindPage},
            {QStringLiteral("http://host/movie.swf"), tURLData::KindEmbed},
            {QStringLiteral("http://host/PHOTO.JPG"), tURLData::KindImage},
            {QStringLiteral("http://host/index.htm"), tURLData::KindImage},
            {QStringLiteral("http://host/ÄRGER.htm"), tURLData::KindPage},
            {QStringLiteral("http://host/%E6%97%A5%E6%9C%AC%E8%AA%9E/a%20b.JPG"), tURLData::KindImage},
            {QStringLiteral("http://host/X") + QChar(0xd800) + QStringLiteral(".swf"), tURLData::KindEmbed},
        };
        for (const auto& [url, kind] : records)
            list.Add(tURLData::make(url, kind, 0, QStringLiteral("http://host/")));
        return list;
    }

private Q_SLOTS:
    void allKeepsHarvestOrderAndSplitsByKind() {
        const tURLDataList list = sample();
        const ResultFilter::Entries pages = ResultFilter::all(list, ResultFilter::Side::LinkedPages);
        QCOMPARE(pages.addresses, QStringList({"http://host/index.htm", "http://host/page.html",
                                               "http://host/x.htm?y=1", "http://host/ÄRGER.htm"}));
        QCOMPARE(pages.records, QList<qsizetype>({0, 2, 4, 8}));
        const ResultFilter::Entries files = ResultFilter::all(list, ResultFilter::Side::DataFiles);
        QCOMPARE(files.addresses,
                 QStringList({"http://host/a.jpg", "http://host/movie.swf", "http://host/PHOTO.JPG",
                              "http://host/index.htm", "http://host/%E6%97%A5%E6%9C%AC%E8%AA%9E/a%20b.JPG",
                              QStringLiteral("http://host/X") + QChar(0xd800) + QStringLiteral(".swf")}));
        // A script link is in neither list.
        QCOMPARE(files.records, QList<qsizetype>({1, 5, 6, 7, 9, 10}));
    }

    void matching_data() {
        QTest::addColumn<int>("side");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QStringList>("expected");

        const int pages = int(ResultFilter::Side::LinkedPages);
        const int files = int(ResultFilter::Side::DataFiles);
        QTest::newRow("default .htm matches inside the address too")
            << pages << ".htm"
            << QStringList{"http://host/index.htm", "http://host/page.html", "http://host/x.htm?y=1",
                           "http://host/ÄRGER.htm"};
        QTest::newRow("capitals find the same entries")
            << pages << ".HTM"
            << QStringList{"http://host/index.htm", "http://host/page.html", "http://host/x.htm?y=1",
                           "http://host/ÄRGER.htm"};
        QTest::newRow("stored capitals are shown as stored")
            << files << ".jpg"
            << QStringList{"http://host/a.jpg", "http://host/PHOTO.JPG",
                           "http://host/%E6%97%A5%E6%9C%AC%E8%AA%9E/a%20b.JPG"};
        QTest::newRow("non-ASCII letters are lowered too")
            << pages << "ärger" << QStringList{"http://host/ÄRGER.htm"};
        QTest::newRow("a script link is no data file") << files << "('X.HTM" << QStringList{};
        QTest::newRow("data files include embeds")
            << files << "MOVIE" << QStringList{"http://host/movie.swf"};
        QTest::newRow("percent-encoded address matches its decoded form")
            << files << "日本語/A B" << QStringList{"http://host/%E6%97%A5%E6%9C%AC%E8%AA%9E/a%20b.JPG"};
        QTest::newRow("percent-encoded address matches as stored")
            << files << "%e6%97%a5" << QStringList{"http://host/%E6%97%A5%E6%9C%AC%E8%AA%9E/a%20b.JPG"};
        // Lower-casing the address alone would turn its lone surrogate into U+FFFD.
        QTest::newRow("lone surrogate lowered on both sides alike")
            << files << QStringLiteral("x") + QChar(0xd800)
            << QStringList{QStringLiteral("http://host/X") + QChar(0xd800) + QStringLiteral(".swf")};
        QTest::newRow("empty filter matches nothing") << pages << "" << QStringList{};
        QTest::newRow("no match") << files << ".png" << QStringList{};
        QTest::newRow("same address under another kind stays on its side")
            << files << "index" << QStringList{"http://host/index.htm"};
        QTest::newRow("legacy-encoded names match as they are saved")
            << files << "写真"
            << QStringList{"http://host/%8E%CA%90%5E2.gif", "http://host/%BC%CC%BF%BF6.gif"};
    }

    void matching() {
        QFETCH(int, side);
        QFETCH(QString, filter);
        QFETCH(QStringList, expected);
        tURLDataList list = sample();
        // Names in the bytes of older Japanese pages: 写真 in Shift_JIS and in EUC-JP, and a legacy
        // query that names no file.
        const QList<QPair<QString, QString>> legacy = {
            {QStringLiteral("http://host/%8E%CA%90%5E2.gif"), QStringLiteral("Shift_JIS")},
            {QStringLiteral("http://host/%BC%CC%BF%BF6.gif"), QStringLiteral("EUC-JP")},
            {QStringLiteral("http://host/dir/?q=%8E%CA%90%5E"), QStringLiteral("Shift_JIS")},
        };
        for (const auto& [url, charset] : legacy)
            list.Add(
                tURLData::make(url, tURLData::KindImage, 0, QStringLiteral("http://host/"), {}, charset));
        const ResultFilter::Entries entries = ResultFilter::matching(list, ResultFilter::Side(side), filter);
        QCOMPARE(entries.addresses, expected);
        QCOMPARE(entries.records.size(), expected.size());
        for (qsizetype i = 0; i < expected.size(); ++i) {
            const tURLData& record = list.Items(entries.records.at(i));
            QCOMPARE(record.URL, expected.at(i));
            QVERIFY(ResultFilter::matches(record.URL, filter, record.Charset));
        }
    }

    void emptyListGivesNothing() {
        const tURLDataList list;
        QVERIFY(ResultFilter::all(list, ResultFilter::Side::LinkedPages).addresses.isEmpty());
        QVERIFY(ResultFilter::matching(list, ResultFilter::Side::DataFiles, ".jpg").addresses.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestResultFilter)
#include "tst_resultfilter.moc"
