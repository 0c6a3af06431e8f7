#include "ImageNarrowing.h"

#include <QTest>

// Ordering by area and the largest of a set, with sizes as hostile servers claim them: a side
// beyond a million pixels is no size, and no area wraps around.
class TestImageNarrowing : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void orders_data() {
        QTest::addColumn<QList<qint64>>("sizes"); // width, height of each entry in turn
        QTest::addColumn<bool>("largestOnly");    // all entries are candidates of one set
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("by area") << QList<qint64>{10, 10, 300, 200, 20, 20} << false
                                 << QStringList{"e1", "e2", "e0"};
        QTest::newRow("4e9 square claimed is no size: after a 10×10")
            << QList<qint64>{4000000000, 4000000000, 10, 10} << false << QStringList{"e1", "e0"};
        QTest::newRow("2^32-1 wide claimed, and a negative height")
            << QList<qint64>{4294967295, 2, 5, 5, 7, -7} << false << QStringList{"e1", "e0", "e2"};
        QTest::newRow("a million square, the largest size there is")
            << QList<qint64>{1000000, 1000000, 999999, 1000000} << false << QStringList{"e0", "e1"};
        QTest::newRow("largest of a set: a 4e9 square claimed loses to a 10×10")
            << QList<qint64>{4000000000, 4000000000, 10, 10} << true << QStringList{"e1"};
        QTest::newRow("largest of a set: 3e9×3e9 against 1e6×1e6")
            << QList<qint64>{3000000000, 3000000000, 1000000, 1000000} << true << QStringList{"e1"};
    }
    void orders() {
        QFETCH(QList<qint64>, sizes);
        QFETCH(bool, largestOnly);
        QFETCH(QStringList, expected);
        ResultFilter::Entries entries;
        std::vector<tURLData> records;
        for (qsizetype i = 0; i < sizes.size() / 2; ++i) {
            entries.addresses.append(QStringLiteral("e%1").arg(i));
            entries.records.append(i);
            tURLData record =
                tURLData::make(QStringLiteral("http://h/e%1").arg(i), tURLData::KindImage, 0, {});
            record.Set = largestOnly ? 1 : 0;
            records.push_back(record);
        }
        ImageNarrowing::Criteria criteria;
        criteria.largestOnly = largestOnly;
        criteria.order = ImageNarrowing::Order::Area;
        const auto result = ImageNarrowing::apply(entries, records, criteria, [&](qsizetype i) {
            ImageNarrowing::Facts facts;
            facts.known = true;
            facts.typeName = QStringLiteral("PNG");
            facts.width = sizes.at(2 * i);
            facts.height = sizes.at(2 * i + 1);
            return facts;
        });
        QCOMPARE(result.addresses, expected);
    }
};

QTEST_GUILESS_MAIN(TestImageNarrowing)
#include "tst_imagenarrowing.moc"
