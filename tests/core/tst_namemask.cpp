#include "LocalFileName.h"
#include "NameMask.h"
#include "ReservedFile.h"
#include "UniqueFileReservation.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

tURLData image(const QString& url, const QString& title = {}, const QString& alt = {},
               const QString& type = QStringLiteral("image/jpeg")) {
    tURLData r = tURLData::make(url, tURLData::KindImage, 0, QStringLiteral("http://example.com/gallery/"));
    r.Title = title;
    r.Alt = alt;
    r.Type = type;
    return r;
}

// Every file and folder under root, relative to it, folders with a trailing "/".
QStringList tree(const QString& root) {
    QStringList found;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        found.append(QDir(root).relativeFilePath(path) +
                     (it.fileInfo().isDir() ? QStringLiteral("/") : QString()));
    }
    found.sort();
    return found;
}

} // namespace

class TestNameMask : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void saved_data();
    void saved();
};

// One batch per row: each record named by the mask as a download names it, claimed and saved in a
// fresh folder (beside a file "outside.txt" that must stay alone outside it). expected: the
// relative paths the records get, "" for one refused, or "!" and a word of the mask's error.
void TestNameMask::saved_data() {
    QTest::addColumn<QString>("mask");
    QTest::addColumn<QList<tURLData>>("records");
    QTest::addColumn<QStringList>("existing"); // files (or "name->target" links) there before
    QTest::addColumn<QStringList>("expected");

    const QString a = QStringLiteral("http://example.com/img/a.jpg");
    const QString b = QStringLiteral("http://example.com/img/b.png");
    using L = QList<tURLData>;
    using S = QStringList;

    QTest::newRow("folder per title, numbered in order")
        << "{title}/{n:03}.{ext}" << L{image(a, "Gallery"), image(b, "Gallery", {}, "image/png")} << S{}
        << S{"Gallery/001.jpg", "Gallery/002.png"};
    // Escapes: a value never makes a folder, never is "." or "..", never leaves the folder.
    QTest::newRow("title of dot dot") << "{title}/{name}.{ext}" << L{image(a, "..")} << S{} << S{"_/a.jpg"};
    QTest::newRow("title climbing out")
        << "{title}/{name}.{ext}" << L{image(a, "../../etc/passwd")} << S{} << S{"_.._etc_passwd/a.jpg"};
    QTest::newRow("title only slashes") << "{title}" << L{image(a, "///")} << S{} << S{"___.jpg"};
    QTest::newRow("title only dots") << "{title}/{name}.{ext}" << L{image(a, "....")} << S{} << S{"_/a.jpg"};
    QTest::newRow("backslash in alt") << "{alt}" << L{image(a, {}, "..\\..\\win")} << S{} << S{"_.._win.jpg"};
    QTest::newRow("mask's own dot dot") << "../{name}.{ext}" << L{image(a)} << S{} << S{"_/a.jpg"};
    QTest::newRow("absolute mask") << "/{name}.{ext}" << L{image(a)} << S{} << S{"a.jpg"};
    QTest::newRow("empty parts skipped") << "x//{name}.{ext}" << L{image(a)} << S{} << S{"x/a.jpg"};
    QTest::newRow("link where a folder goes")
        << "{title}/{name}.{ext}" << L{image(a, "Gallery"), image(b, "Mine", {}, "image/png")}
        << S{"Gallery->.."} << S{"Gallery (2)/a.jpg", "Mine/b.png"};
    QTest::newRow("device name") << "{title}/{name}.{ext}" << L{image(a, "con")} << S{} << S{"_con/a.jpg"};
    QTest::newRow("controls and right-to-left")
        << "{title}" << L{image(a, QStringLiteral("a\u202Egpj.exe\u0007b\tc"))} << S{}
        << S{"a_gpj.exe_b_c.jpg"};
    QTest::newRow("dot in a title") << "{title}"
                                    << L{image(a, "Mr. Smith"), image(b, "x.png", {}, "image/png")} << S{}
                                    << S{"Mr. Smith.jpg", "x.png"};
    QTest::newRow("emoji kept") << "{alt}" << L{image(a, {}, QStringLiteral("😀 猫"))} << S{}
                                << S{QStringLiteral("😀 猫.jpg")};
    QTest::newRow("2000-character title") << "{title}/{n}" << L{image(a, QString(2000, QChar(0x3042)))} << S{}
                                          << S{QString(85, QChar(0x3042)) + QStringLiteral("/1.jpg")};
    QTest::newRow("trailing dots and spaces")
        << "{title}/{name}." << L{image(a, "folder. . ")} << S{} << S{"folder/a.jpg"};
    QTest::newRow("empty value") << "{alt}" << L{image(a)} << S{} << S{"_.jpg"};
    // Collisions: numbered as without a mask, nothing overwritten.
    QTest::newRow("every file alike")
        << "photo" << L{image(a), image(a + "?2"), image(b, {}, {}, "image/png")} << S{}
        << S{"photo.jpg", "photo (2).jpg", "photo.png"};
    QTest::newRow("existing file") << "{title}/{n:03}.{ext}" << L{image(a, "G")} << S{"G/001.jpg"}
                                   << S{"G/001 (2).jpg"};
    QTest::newRow("names differing in case")
        << "{title}" << L{image(a, "Cat"), image(b, "CAT", {}, "image/jpeg")} << S{}
        << S{"Cat.jpg", "CAT (2).jpg"};
    QTest::newRow("file where a folder goes")
        << "{title}/{name}.{ext}" << L{image(a, "x"), image(b, "x", {}, "image/png")} << S{"x"}
        << S{"x (2)/a.jpg", "x (2)/b.png"};
    // The facts of the batch and of the record.
    tURLData sized = image(QStringLiteral("http://xn--r8jz45g.jp:8080/p"), {}, {}, "image/png");
    sized.Width = 640;
    sized.Height = 480;
    QTest::newRow("host date size braces")
        << "{host}/{page}/{date}_{w}x{h}{{{n}}}" << L{sized} << S{}
        << S{QStringLiteral("例え.jp/example.com_gallery/2026-01-02_640x480{1}.png")};
    // Masks that are no masks: named before anything is saved.
    QTest::newRow("only a folder") << "{title}/" << L{image(a)} << S{} << S{"!フォルダだけ"};
    QTest::newRow("unknown token") << "{titel}" << L{image(a)} << S{} << S{"!{titel}"};
    QTest::newRow("unclosed brace") << "{name" << L{image(a)} << S{} << S{"!1 文字目"};
    QTest::newRow("lone closing brace") << "a}" << L{image(a)} << S{} << S{"!2 文字目"};
    QTest::newRow("bad padding") << "{n:x}" << L{image(a)} << S{} << S{"!{n:x}"};
    QTest::newRow("too deep") << "a/b/c/d/e/f/g/h/i/{n}" << L{image(a)} << S{} << S{"!深すぎ"};
}

void TestNameMask::saved() {
    QFETCH(QString, mask);
    QFETCH(QList<tURLData>, records);
    QFETCH(QStringList, existing);
    QFETCH(QStringList, expected);

    QString error;
    NameMask parsed;
    const bool ok = parsed.parse(mask, &error);
    if (expected.size() == 1 && expected.front().startsWith(u'!')) {
        QVERIFY(!ok);
        QVERIFY2(error.contains(expected.front().mid(1)), qPrintable(error));
        return;
    }
    QVERIFY2(ok, qPrintable(error));

    QTemporaryDir parent;
    QVERIFY(QFile(parent.filePath(QStringLiteral("outside.txt"))).open(QIODevice::WriteOnly));
    const QString root = parent.filePath(QStringLiteral("DL"));
    QVERIFY(QDir().mkpath(root));
    for (const QString& entry : existing) {
        const QStringList link = entry.split(QStringLiteral("->"));
        const QString path = QDir(root).filePath(link.front());
        QDir().mkpath(QFileInfo(path).path());
        if (link.size() == 2)
            QVERIFY(QFile::link(link.back(), path));
        else
            QVERIFY(QFile(path).open(QIODevice::WriteOnly));
    }

    UniqueFileReservation folder(root);
    QStringList saved;
    for (qsizetype i = 0; i < records.size(); ++i) {
        NameMask::Values values = NameMask::valuesOf(records.at(i), int(i) + 1, QDate(2026, 1, 2));
        values.name = LocalFileName(records.at(i).URL);
        const QString wanted = parsed.finalPath(values, records.at(i).Type);
        QVERIFY2(LocalFileNames::isRelativePath(wanted), qPrintable(wanted));
        auto file = folder.createFile(&error);
        QVERIFY2(file, qPrintable(error));
        const QString claimed = folder.claim(wanted, true, &error);
        if (claimed.isEmpty()) {
            QVERIFY(!error.isEmpty());
            saved.append(QString());
            continue;
        }
        QVERIFY(file->write("x", 1, &error));
        QVERIFY2(folder.publish(*file, wanted, claimed, true, &error), qPrintable(error));
        QCOMPARE(file->path(), root + u'/' + claimed);
        saved.append(claimed);
    }
    QCOMPARE(saved, expected);
    // Nothing beside the folder, and in it only what was there and what was saved.
    QCOMPARE(tree(parent.path()).filter(QRegularExpression(QStringLiteral("^[^/]+/?$"))),
             (QStringList{QStringLiteral("DL/"), QStringLiteral("outside.txt")}));
    for (const QString& path : saved) {
        if (!path.isEmpty())
            QVERIFY2(QFileInfo(QDir(root).filePath(path)).isFile(), qPrintable(path));
    }
}

QTEST_GUILESS_MAIN(TestNameMask)
#include "tst_namemask.moc"
