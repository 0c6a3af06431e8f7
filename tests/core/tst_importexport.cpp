#include "AddressImport.h"
#include "RecordFormat.h"
#include "ResultExport.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

class TestImportExport : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString write(const QString& name, const QByteArray& content) {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
            qWarning("cannot write %s", qPrintable(path));
        return path;
    }

    static QByteArray read(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // A CSV reader that knows quoted fields, for reading the export back.
    static QList<QStringList> parseCsv(const QString& text) {
        QList<QStringList> rows;
        QStringList row;
        QString field;
        bool quoted = false;
        for (qsizetype i = 0; i < text.size(); ++i) {
            const QChar c = text.at(i);
            if (quoted) {
                if (c == u'"' && i + 1 < text.size() && text.at(i + 1) == u'"')
                    field += c, ++i;
                else if (c == u'"')
                    quoted = false;
                else
                    field += c;
            } else if (c == u'"') {
                quoted = true;
            } else if (c == u',') {
                row.append(field), field.clear();
            } else if (c == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n') {
                row.append(field), field.clear();
                rows.append(row), row.clear();
                ++i;
            } else {
                field += c;
            }
        }
        return rows;
    }

private Q_SLOTS:
    void import_data() {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("addresses");

        QTest::newRow("text, line ends and blanks")
            << "list.txt" << QByteArray("http://a/1\r\n  http://a/2  \n\n\rhttp://a/3")
            << QStringList{"http://a/1", "http://a/2", "http://a/3"};
        QTest::newRow("harvest JSON lines and a saved failure list")
            << "mixed.txt"
            << QByteArray("{\"kind\":\"image\",\"url\":\"http://a/x.jpg\",\"source\":\"http://a/\"}\n"
                          "http://a/gone.html\tサーバーが見つかりません\n")
            << QStringList{"http://a/x.jpg", "http://a/gone.html"};
        QTest::newRow("a JSON line's address holding a line break is left out")
            << "lines.jsonl"
            << QByteArray("{\"url\":\"http://a/x\\nhttp://evil.example/\"}\n{\"url\":\"http://a/y\"}\n")
            << QStringList{"http://a/y"};
        QTest::newRow("the result lists' CSV: its address column")
            << "saved.csv"
            << QByteArray(
                   "\xEF\xBB\xBFkind,address,source,via\r\n"
                   "image,\"http://a/%E5%86%99,\"\"q\"\".jpg\",http://a/,img\r\npage,http://a/p.html,,\r\n")
            << QStringList{"http://a/%E5%86%99,\"q\".jpg", "http://a/p.html"};
        QTest::newRow("CSV without an address column: its first field")
            << "other.CSV" << QByteArray("http://a/1,x\nhttp://a/2,\"y\nz\"\n")
            << QStringList{"http://a/1", "http://a/2"};
        QTest::newRow("UTF-8 with a byte-order mark")
            << "bom.txt" << QByteArray("\xEF\xBB\xBFhttp://a/\xE5\x86\x99.htm\n")
            << QStringList{"http://a/写.htm"};
        QStringEncoder sjis("Shift_JIS");
        if (sjis.isValid())
            QTest::newRow("Shift_JIS text")
                << "sjis.txt" << QByteArray(sjis(QStringLiteral("http://a/写真.htm\n")))
                << QStringList{"http://a/写真.htm"};
        QTest::newRow("saved page: links resolved against where it was saved from")
            << "page.html"
            << QByteArray("<!DOCTYPE html>\n<!-- saved from url=(0024)http://site.example/d/p -->\n"
                          "<a href=\"next.html\">n</a> <A HREF='/top?a=1&amp;b=2#x'>t</A>\n"
                          "<a href=mailto:me@site.example>m</a><a href=\"#here\">h</a>\n"
                          "<area shape=rect href=\"https://other.example/\">\n"
                          "<!-- <a href=\"hidden.html\"> --><script>'<a href=\"s.html\">'</script>\n"
                          "<a href=\"next.html\">again</a><img src=\"i.jpg\">\n")
            << QStringList{"http://site.example/d/next.html", "http://site.example/top?a=1&b=2",
                           "https://other.example/"};
        QTest::newRow("saved page: base element, relative links without any base dropped")
            << "p.htm" << QByteArray("<html><base href=\"http://b.example/x/\"><a href=\"y\">y</a></html>")
            << QStringList{"http://b.example/x/y"};
        QTest::newRow("saved page: addresses as the input box reads them back")
            << "r.html"
            << QByteArray("<!-- saved from url=(0016)http:/host/dir/ --><a href=\"a.html\"></a>"
                          "<a href=\"https:x\"></a><a href=\"http:b.html\"></a><a href=\"http://[::1/\"></a>")
            << QStringList{"http://host/dir/a.html", "https://x", "http://host/dir/b.html"};
        QTest::newRow("page without an address keeps only absolute links")
            << "q.html" << QByteArray("<html><a href=\"rel.html\"></a><a href=\"http://c.example/\"></a>")
            << QStringList{"http://c.example/"};
    }

    void import() {
        QFETCH(QString, fileName);
        QFETCH(QByteArray, content);
        QFETCH(QStringList, addresses);
        const AddressImport::Result result = AddressImport::fromFile(write(fileName, content));
        QCOMPARE(result.error, QString());
        QCOMPARE(result.addresses, addresses);
    }

    void importFailuresAreReported() {
        QVERIFY(
            AddressImport::fromFile(m_dir.filePath(QStringLiteral("none.txt"))).error.contains(u"none.txt"));
        const AddressImport::Result empty =
            AddressImport::fromFile(write(QStringLiteral("empty.txt"), "\n \n"));
        QVERIFY(empty.addresses.isEmpty());
        QVERIFY(empty.error.contains(QStringLiteral("アドレスがありません")));
    }

    void exportReadsBack() {
        const QList<tURLData> rows = {
            tURLData::make(QStringLiteral("http://a/p.html"), tURLData::KindPage, 0,
                           QStringLiteral("http://a/")),
            tURLData::make(QStringLiteral("http://a/%E5%86%99,\"q\".jpg"), tURLData::KindImage, 0,
                           QStringLiteral("http://a/p.html"), QStringLiteral("img")),
        };

        const QString text = m_dir.filePath(QStringLiteral("out.txt"));
        QCOMPARE(ResultExport::save(text, rows), QString());
        QCOMPARE(read(text), QByteArray("http://a/p.html\nhttp://a/%E5%86%99,\"q\".jpg\n"));
        QCOMPARE(AddressImport::fromFile(text).addresses, QStringList({rows[0].URL, rows[1].URL}));

        const QString csv = m_dir.filePath(QStringLiteral("out.CSV"));
        QCOMPARE(ResultExport::save(csv, rows), QString());
        const QByteArray csvBytes = read(csv);
        QVERIFY(csvBytes.startsWith("\xEF\xBB\xBF"));
        QCOMPARE(AddressImport::fromFile(csv).addresses, QStringList({rows[0].URL, rows[1].URL}));
        const QList<QStringList> table = parseCsv(QString::fromUtf8(csvBytes.mid(3)));
        QCOMPARE(table.size(), 3);
        QCOMPARE(table[0], QStringList({"kind", "address", "source", "via", "charset", "width", "height",
                                        "bytes", "type", "title", "alt", "name"}));
        for (int i = 0; i < 2; ++i)
            QCOMPARE(table[i + 1].mid(0, 4), QStringList({tURLData::kindName(rows[i].Kind), rows[i].URL,
                                                          rows[i].Source, rows[i].Via}));
        for (int i = 0; i < 2; ++i)
            QCOMPARE(table[i + 1].mid(9, 2), QStringList({rows[i].Title, rows[i].Alt}));
        // The name each entry is saved under, decoded as the download would decode it.
        QCOMPARE(table[1].last(), QStringLiteral("p.html"));
        QCOMPARE(table[2].last(), QStringLiteral("写,\"q\".jpg").replace(u'"', u'_'));

        const QString jsonl = m_dir.filePath(QStringLiteral("out.jsonl"));
        QCOMPARE(ResultExport::save(jsonl, rows), QString());
        const QList<QByteArray> lines = read(jsonl).split('\n');
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines.last().isEmpty());
        for (int i = 0; i < 2; ++i) {
            const QJsonObject o = QJsonDocument::fromJson(lines[i]).object();
            QCOMPARE(o.value(u"kind").toString(), tURLData::kindName(rows[i].Kind));
            QCOMPARE(o.value(u"url").toString(), rows[i].URL);
            QCOMPARE(o.value(u"source").toString(), rows[i].Source);
            QCOMPARE(o.value(u"via").toString(), rows[i].Via);
            QString url, source;
            QVERIFY(AddressImport::parseJsonLine(QString::fromUtf8(lines[i]), &url, &source));
            QCOMPARE(url, rows[i].URL);
            QCOMPARE(source, rows[i].Source);
        }
    }

    // Each record in the three forms, and each form read back: JSON gives the record whole, CSV all but
    // the page's facts of an image, the plain line its kind, address and page.
    void recordForms_data() {
        QTest::addColumn<tURLData>("record");
        QTest::addColumn<QString>("tsv");
        QTest::addColumn<QString>("json");
        QTest::addColumn<QString>("csv");

        QTest::newRow("image with how it was found")
            << tURLData::make("http://a/x.jpg", tURLData::KindImage, 0, "http://a/", "frame>img@srcset",
                              "Shift_JIS")
            << "image\thttp://a/x.jpg\thttp://a/"
            << "{\"alt\":\"\",\"charset\":\"Shift_JIS\",\"kind\":\"image\",\"name\":\"x.jpg\",\"source\":\"http://a/"
               "\",\"title\":\"\",\"url\":\"http://a/"
               "x.jpg\",\"via\":\"frame>img@srcset\"}"
            << "image,http://a/x.jpg,http://a/,frame>img@srcset,Shift_JIS,,,,,,,x.jpg";
        QTest::newRow("cells a spreadsheet would run")
            << tURLData::make("=HYPERLINK(\"http://evil.example/\")", tURLData::KindPage, 0, "-1+2", "@x")
            << "page\t=HYPERLINK(\"http://evil.example/\")\t-1+2"
            << "{\"charset\":\"\",\"kind\":\"page\",\"name\":\"_)\",\"source\":\"-1+2\",\"title\":\"\",\"url\":\"=HYPERLINK("
               "\\\"http://"
               "evil.example/"
               "\\\")\",\"via\":\"@x\"}"
            << "page,\"'=HYPERLINK(\"\"http://evil.example/\"\")\",'-1+2,'@x,,,,,,,,_)";
        QTest::newRow("formula signs, tab and carriage return first")
            << tURLData::make("+http://a/", tURLData::KindEmbed, 0, "\thttp://a/", "\rvideo@src")
            << "embed\t+http://a/\thttp://a/"
            << "{\"charset\":\"\",\"kind\":\"embed\",\"name\":\"index.html\",\"source\":\"\\thttp://a/"
               "\",\"title\":\"\",\"url\":\"+http://a/"
               "\",\"via\":\"\\rvideo@src\"}"
            << "embed,'+http://a/,'\thttp://a/,\"'\rvideo@src\",,,,,,,,index.html";
        QTest::newRow("apostrophes that would read back as the guard")
            << tURLData::make("'+p", tURLData::KindPage, 0, "''=x", "'plain") << "page\t'+p\t''=x"
            << "{\"charset\":\"\",\"kind\":\"page\",\"name\":\"'+p\",\"source\":\"''=x\",\"title\":\"\",\"url\":\"'+p\","
               "\"via\":\"'plain\"}"
            << "page,''+p,'''=x,'plain,,,,,,,,''+p";
        QTest::newRow("tabs, line breaks, commas and quotes inside")
            << tURLData::make("http://a/b\tc\nd", tURLData::KindPage, 0, "http://a/p\r\nq", "a,\"b\"")
            << "page\thttp://a/bcd\thttp://a/pq"
            << "{\"charset\":\"\",\"kind\":\"page\",\"name\":\"b_c_d\",\"source\":\"http://a/"
               "p\\r\\nq\",\"title\":\"\",\"url\":\"http://a/"
               "b\\tc\\nd\",\"via\":\"a,\\\"b\\\"\"}"
            << "page,\"http://a/b\tc\nd\",\"http://a/p\r\nq\",\"a,\"\"b\"\"\",,,,,,,,b_c_d";
        QTest::newRow("no source, no via, not ASCII")
            << tURLData::make("http://例え.jp/写真.js", tURLData::KindScript, 0, QString())
            << "script\thttp://例え.jp/写真.js\t"
            << "{\"charset\":\"\",\"kind\":\"script\",\"name\":\"写真.js\",\"source\":\"\",\"title\":\"\",\"url\":\"http://"
               "例え.jp/"
               "写真.js\",\"via\":\"\"}"
            << "script,http://例え.jp/写真.js,,,,,,,,,,写真.js";
        tURLData probed =
            tURLData::make("http://a/x.webp", tURLData::KindImage, 0, "http://a/", "img@srcset", "EUC-JP");
        probed.Set = 3;
        probed.Descriptor = "1280w";
        probed.ElementWidth = 640;
        probed.Width = 1280;
        probed.Height = 960;
        probed.Bytes = 5000000000;
        probed.Type = "image/webp";
        QTest::newRow("an image's facts, each where known")
            << probed << "image\thttp://a/x.webp\thttp://a/"
            << "{\"alt\":\"\",\"bytes\":5000000000,\"charset\":\"EUC-JP\",\"descriptor\":\"1280w\",\"element_width\":640,"
               "\"height\":960,"
               "\"kind\":\"image\",\"name\":\"x.webp\",\"set\":3,\"source\":\"http://a/\",\"title\":\"\",\"type\":\"image/"
               "webp\",\"url\":"
               "\"http://a/x.webp\",\"via\":\"img@srcset\",\"width\":1280}"
            << "image,http://a/x.webp,http://a/,img@srcset,EUC-JP,1280,960,5000000000,image/webp,,,x.webp";
        // The page's title and an image's alternative text: in the JSON and the CSV, guarded as cells.
        tURLData named = tURLData::make("http://a/n.jpg", tURLData::KindImage, 0, "http://a/", "a@href");
        named.Title = "=写真, \"旅\"";
        named.Alt = "猫\n2";
        QTest::newRow("title and alt")
            << named << "image\thttp://a/n.jpg\thttp://a/"
            << "{\"alt\":\"猫\\n2\",\"charset\":\"\",\"kind\":\"image\",\"name\":\"n.jpg\",\"source\":\"http://a/\","
               "\"title\":\"=写真, \\\"旅\\\"\",\"url\":\"http://a/n.jpg\",\"via\":\"a@href\"}"
            << "image,http://a/n.jpg,http://a/,a@href,,,,,,\"'=写真, \"\"旅\"\"\",\"猫\n2\",n.jpg";
        tURLData failed = tURLData::make("http://a/e.jpg", tURLData::KindImage, 0, "http://a/", "img@src");
        failed.ElementHeight = 0;
        failed.Bytes = 50;
        failed.ProbeError = "画像ではありません";
        QTest::newRow("a probe that failed, a height of 0")
            << failed << "image\thttp://a/e.jpg\thttp://a/"
            << "{\"alt\":\"\",\"bytes\":50,\"charset\":\"\",\"element_height\":0,\"kind\":\"image\",\"name\":\"e.jpg\","
               "\"probe_error\":"
               "\"画像ではありません\","
               "\"source\":\"http://a/\",\"title\":\"\",\"url\":\"http://a/e.jpg\",\"via\":\"img@src\"}"
            << "image,http://a/e.jpg,http://a/,img@src,,,,50,,,,e.jpg";
    }

    void recordForms() {
        QFETCH(tURLData, record);
        QFETCH(QString, tsv);
        QFETCH(QString, json);
        QFETCH(QString, csv);
        QCOMPARE(RecordFormat::tsvLine(record), tsv);
        QCOMPARE(RecordFormat::jsonLine(record), json);
        QCOMPARE(RecordFormat::csvRow(record), csv);

        auto same = [](const tURLData& a, const tURLData& b) {
            return a.Kind == b.Kind && a.URL == b.URL && a.Source == b.Source && a.Via == b.Via &&
                   a.Title == b.Title && a.Alt == b.Alt;
        };
        // What only the JSON form carries.
        auto facts = [](const tURLData& r) {
            return QStringList{r.Charset,
                               QString::number(r.Set),
                               r.Descriptor,
                               QString::number(r.ElementWidth),
                               QString::number(r.ElementHeight),
                               QString::number(r.Width),
                               QString::number(r.Height),
                               QString::number(r.Bytes),
                               r.Type,
                               r.ProbeError};
        };
        tURLData read;
        QVERIFY(RecordFormat::fromJsonLine(json, &read));
        QVERIFY(same(read, record));
        QCOMPARE(facts(read), facts(record));
        const QList<RecordFormat::Entry> fromCsv =
            RecordFormat::readText(QChar(0xFEFF) + RecordFormat::csvHeader() + "\r\n" + csv + "\r\n");
        QCOMPARE(fromCsv.size(), 1);
        QVERIFY(fromCsv.front().isRecord);
        QVERIFY(same(fromCsv.front().record, record));
        // The CSV form carries the page's encoding and what the probe measured, not the page's facts.
        tURLData measured;
        measured.Charset = record.Charset;
        measured.Width = record.Width;
        measured.Height = record.Height;
        measured.Bytes = record.Bytes;
        measured.Type = record.Type;
        QCOMPARE(facts(fromCsv.front().record), facts(measured));
        const QList<RecordFormat::Entry> fromLines = RecordFormat::readText(tsv + "\n" + json + "\n");
        QCOMPARE(fromLines.size(), 2);
        QVERIFY(fromLines[0].isRecord && fromLines[1].isRecord);
        QCOMPARE(fromLines[0].record.Kind, record.Kind);
        QCOMPARE(fromLines[0].record.URL, QString(record.URL).remove('\t').remove('\r').remove('\n'));
        QCOMPARE(fromLines[0].record.Source, QString(record.Source).remove('\t').remove('\r').remove('\n'));
        QVERIFY(same(fromLines[1].record, record));
    }

    void failedSaveKeepsTheOldFile() {
        const QString missingFolder = m_dir.filePath(QStringLiteral("no/such/out.txt"));
        QVERIFY(ResultExport::save(missingFolder, {}).contains(QStringLiteral("保存できません")));
        QVERIFY(!QFile::exists(missingFolder));
    }
};

QTEST_GUILESS_MAIN(TestImportExport)
#include "tst_importexport.moc"
