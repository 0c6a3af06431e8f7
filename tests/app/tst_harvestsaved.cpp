#include "HarvestOutput.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

// What `nepirika harvest` prints of records that the download history has saved: "saved" in a
// --json record, and --new-only leaving them out with their count.
class TestHarvestSaved : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void savedRecords_data() {
        QTest::addColumn<bool>("json");
        QTest::addColumn<bool>("newOnly");
        QTest::addColumn<QStringList>("printedUrls");
        QTest::addColumn<int>("leftOut");
        const QString a = QStringLiteral("http://h/a.jpg");
        const QString b = QStringLiteral("http://h/b.jpg");
        const QString c = QStringLiteral("http://h/c.jpg");
        QTest::newRow("--json marks") << true << false << QStringList{a, b, c} << 0;
        QTest::newRow("--json --new-only") << true << true << QStringList{b} << 2;
        QTest::newRow("plain --new-only") << false << true << QStringList{b} << 2;
    }

    void savedRecords() {
        QFETCH(bool, json);
        QFETCH(bool, newOnly);
        QFETCH(QStringList, printedUrls);
        QFETCH(int, leftOut);
        // a was saved under a name that needs escaping in JSON; c too.
        const QHash<QString, QString> saved{
            {QStringLiteral("http://h/a.jpg"), QStringLiteral("/dl/\"q\"\\a.jpg")},
            {QStringLiteral("http://h/c.jpg"), QStringLiteral("/dl/写真.jpg")}};
        HarvestOutput::Options options;
        options.json = json;
        options.newOnly = newOnly;
        int lookups = 0;
        options.savedLookup = [&](const QStringList& urls) {
            ++lookups;
            QHash<QString, QString> found;
            for (const QString& url : urls)
                if (saved.contains(url))
                    found.insert(url, saved.value(url));
            return found;
        };
        QStringList lines;
        HarvestOutput output(
            options, [&](const QString& line) { lines.append(line); }, [] {});
        QList<tURLData> page;
        for (const char* name : {"a", "b", "c"})
            page.append(tURLData::make(QStringLiteral("http://h/%1.jpg").arg(QLatin1String(name)),
                                       tURLData::KindImage, 0, QStringLiteral("http://h/")));
        output.addPage(page);
        output.finish();
        QCOMPARE(lookups, 1); // one look-up a page
        QCOMPARE(output.savedLeftOut(), leftOut);
        QCOMPARE(lines.size(), printedUrls.size());
        for (qsizetype i = 0; i < lines.size(); ++i) {
            if (!json) {
                QCOMPARE(lines.at(i), QStringLiteral("image\t") + printedUrls.at(i) + QStringLiteral("\thttp://h/"));
                continue;
            }
            QJsonParseError error;
            const QJsonObject record = QJsonDocument::fromJson(lines.at(i).toUtf8(), &error).object();
            QCOMPARE(error.error, QJsonParseError::NoError);
            QCOMPARE(record.value(u"url").toString(), printedUrls.at(i));
            QCOMPARE(record.value(u"saved").toString(), saved.value(printedUrls.at(i)));
            QCOMPARE(record.contains(u"saved"), saved.contains(printedUrls.at(i)));
        }
    }
};

QTEST_GUILESS_MAIN(TestHarvestSaved)
#include "tst_harvestsaved.moc"
