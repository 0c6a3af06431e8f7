#include "ReservedFile.h"
#include "UniqueFileReservation.h"
#include "VfatImage.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {

QByteArray readAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<unreadable>");
    return file.readAll();
}

bool writeFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QStringList entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

// Claims name, writes content into a new file and publishes it; the final name, or "" on failure.
QString save(UniqueFileReservation& folder, const QString& name, const QByteArray& content,
             bool numberIfTaken = true, QString* error = nullptr) {
    QString ignored;
    QString* reason = error ? error : &ignored;
    auto file = folder.createFile(reason);
    if (!file)
        return {};
    const QString claimed = folder.claim(name, numberIfTaken, reason);
    if (claimed.isEmpty() || !file->write(content.constData(), content.size(), reason))
        return {};
    if (!folder.publish(*file, name, claimed, numberIfTaken, reason))
        return {};
    return file->fileName();
}

} // namespace

class TestUniqueFileReservation : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void sameNameTwiceInOneBatch();
    void existingFileIsNeverOverwritten();
    void symbolicLinksAreNeverFollowed();
    void namesDifferingInCaseAreNumbered();
    void dataHasNoNameUntilPublished_data();
    void dataHasNoNameUntilPublished();
    void discardLeavesNothing_data();
    void discardLeavesNothing();
    void releasedNameIsFreeAgain();
    void takenNameWithoutNumbering();
    void nameTakenAfterClaimMovesOn_data();
    void nameTakenAfterClaimMovesOn();
    void truncateStartsOver();
    void pathNamesAreRefused_data();
    void pathNamesAreRefused();
    void missingFolder();
};

void TestUniqueFileReservation::sameNameTwiceInOneBatch() {
    QTemporaryDir dir;
    UniqueFileReservation folder(dir.path());
    QString error;
    // Claimed in this order, numbered in this order, whatever the order of publication.
    const QString first = folder.claim(QStringLiteral("logo.gif"), true, &error);
    const QString second = folder.claim(QStringLiteral("logo.gif"), true, &error);
    const QString third = folder.claim(QStringLiteral("logo.gif"), true, &error);
    QCOMPARE(first, QStringLiteral("logo.gif"));
    QCOMPARE(second, QStringLiteral("logo (2).gif"));
    QCOMPARE(third, QStringLiteral("logo (3).gif"));
    auto file = folder.createFile(&error);
    QVERIFY2(file, qPrintable(error));
    QVERIFY(folder.publish(*file, QStringLiteral("logo.gif"), third, true, &error));
    QCOMPARE(file->path(), dir.path() + QStringLiteral("/logo (3).gif"));
    QCOMPARE(entries(dir.path()), QStringList{QStringLiteral("logo (3).gif")});
}

void TestUniqueFileReservation::existingFileIsNeverOverwritten() {
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(QStringLiteral("a.txt")), "precious"));
    UniqueFileReservation folder(dir.path());
    QString error;
    QCOMPARE(save(folder, QStringLiteral("a.txt"), "new", true, &error), QStringLiteral("a (2).txt"));
    QCOMPARE(readAll(dir.filePath(QStringLiteral("a.txt"))), QByteArray("precious"));
    QCOMPARE(readAll(dir.filePath(QStringLiteral("a (2).txt"))), QByteArray("new"));
}

void TestUniqueFileReservation::symbolicLinksAreNeverFollowed() {
    QTemporaryDir dir;
    QTemporaryDir outside;
    const QString victim = outside.filePath(QStringLiteral("victim.txt"));
    QVERIFY(writeFile(victim, "keep me"));
    QVERIFY(QFile::link(victim, dir.filePath(QStringLiteral("a.txt"))));
    // A dangling link would let a plain create make a file outside the folder.
    QVERIFY(
        QFile::link(outside.filePath(QStringLiteral("created.txt")), dir.filePath(QStringLiteral("b.txt"))));

    UniqueFileReservation folder(dir.path());
    QCOMPARE(save(folder, QStringLiteral("a.txt"), "x"), QStringLiteral("a (2).txt"));
    QCOMPARE(save(folder, QStringLiteral("b.txt"), "y"), QStringLiteral("b (2).txt"));
    QCOMPARE(readAll(victim), QByteArray("keep me"));
    QVERIFY(!QFile::exists(outside.filePath(QStringLiteral("created.txt"))));
    QVERIFY(QFileInfo(dir.filePath(QStringLiteral("a.txt"))).isSymLink());
}

void TestUniqueFileReservation::namesDifferingInCaseAreNumbered() {
    QTemporaryDir dir;
    UniqueFileReservation folder(dir.path());
    QString error;
    QCOMPARE(folder.claim(QStringLiteral("Logo.GIF"), true, &error), QStringLiteral("Logo.GIF"));
    QCOMPARE(folder.claim(QStringLiteral("logo.gif"), true, &error), QStringLiteral("logo (2).gif"));
}

void TestUniqueFileReservation::dataHasNoNameUntilPublished_data() {
    QTest::addColumn<bool>("allowUnnamed");
    QTest::newRow("unnamed file") << true;
    QTest::newRow("hidden temporary file") << false;
}

void TestUniqueFileReservation::dataHasNoNameUntilPublished() {
    QFETCH(bool, allowUnnamed);
    QTemporaryDir dir;
    UniqueFileReservation folder(dir.path());
    QString error;
    auto file = folder.createFile(&error, allowUnnamed);
    QVERIFY2(file, qPrintable(error));
    const QString claimed = folder.claim(QStringLiteral("data.bin"), true, &error);
    QVERIFY(file->write("0123456789", 10, &error));
    // While the data arrives, nothing holds the final name: no placeholder.
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("data.bin"))));
    QCOMPARE(entries(dir.path()).size(), file->isUnnamed() ? 0 : 1);
    QVERIFY2(folder.publish(*file, QStringLiteral("data.bin"), claimed, true, &error), qPrintable(error));
    QCOMPARE(entries(dir.path()), QStringList{QStringLiteral("data.bin")});
    QCOMPARE(readAll(dir.filePath(QStringLiteral("data.bin"))), QByteArray("0123456789"));
    QCOMPARE(file->bytesWritten(), 10);
}

void TestUniqueFileReservation::discardLeavesNothing_data() {
    dataHasNoNameUntilPublished_data();
}

void TestUniqueFileReservation::discardLeavesNothing() {
    QFETCH(bool, allowUnnamed);
    QTemporaryDir dir;
    UniqueFileReservation folder(dir.path());
    QString error;
    {
        auto file = folder.createFile(&error, allowUnnamed);
        QVERIFY(file && file->write("part", 4, &error));
        file->discard();
        QVERIFY(entries(dir.path()).isEmpty());
        auto dropped = folder.createFile(&error, allowUnnamed);
        QVERIFY(dropped && dropped->write("part", 4, &error));
        // Destroyed without being published.
    }
    QVERIFY(entries(dir.path()).isEmpty());
}

void TestUniqueFileReservation::releasedNameIsFreeAgain() {
    QTemporaryDir dir;
    UniqueFileReservation folder(dir.path());
    QString error;
    const QString failed = folder.claim(QStringLiteral("a.jpg"), true, &error);
    QCOMPARE(failed, QStringLiteral("a.jpg"));
    folder.release(failed);
    QCOMPARE(folder.claim(QStringLiteral("a.jpg"), true, &error), QStringLiteral("a.jpg"));
}

void TestUniqueFileReservation::takenNameWithoutNumbering() {
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(QStringLiteral("a.txt")), "old"));
    UniqueFileReservation folder(dir.path());
    QString error;
    QVERIFY(folder.claim(QStringLiteral("a.txt"), false, &error).isEmpty());
    QVERIFY(error.contains(QStringLiteral("a.txt")));
    QCOMPARE(entries(dir.path()), QStringList{QStringLiteral("a.txt")});
    QCOMPARE(readAll(dir.filePath(QStringLiteral("a.txt"))), QByteArray("old"));
}

void TestUniqueFileReservation::nameTakenAfterClaimMovesOn_data() {
    QTest::addColumn<bool>("numberIfTaken");
    QTest::addColumn<bool>("allowUnnamed");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<bool>("onFat");
    const QStringList both{QStringLiteral("a (2).txt"), QStringLiteral("a.txt")};
    QTest::newRow("numbered, unnamed file") << true << true << both << false;
    QTest::newRow("numbered, temporary file") << true << false << both << false;
    QTest::newRow("not numbered") << false << true << QStringList{QStringLiteral("a.txt")} << false;
    // No hard links there: the rename must not replace what appeared.
    QTest::newRow("numbered, FAT") << true << true << both << true;
    QTest::newRow("not numbered, FAT") << false << true << QStringList{QStringLiteral("a.txt")} << true;
}

void TestUniqueFileReservation::nameTakenAfterClaimMovesOn() {
    QFETCH(bool, numberIfTaken);
    QFETCH(bool, allowUnnamed);
    QFETCH(QStringList, expected);
    QFETCH(bool, onFat);
    QTemporaryDir temporary;
    VfatImage fat;
    if (onFat && !fat.mount())
        QSKIP(qPrintable(fat.skipReason()));
    const QDir dir(onFat ? fat.path() : temporary.path());
    UniqueFileReservation folder(dir.path());
    QString error;
    auto file = folder.createFile(&error, allowUnnamed);
    QVERIFY(file && file->write("download", 8, &error));
    const QString claimed = folder.claim(QStringLiteral("a.txt"), numberIfTaken, &error);
    QCOMPARE(claimed, QStringLiteral("a.txt"));
    // Another program puts its own file under the claimed name meanwhile.
    QVERIFY(writeFile(dir.filePath(QStringLiteral("a.txt")), "theirs"));
    QCOMPARE(folder.publish(*file, QStringLiteral("a.txt"), claimed, numberIfTaken, &error), numberIfTaken);
    QCOMPARE(readAll(dir.filePath(QStringLiteral("a.txt"))), QByteArray("theirs"));
    if (numberIfTaken)
        QCOMPARE(readAll(dir.filePath(QStringLiteral("a (2).txt"))), QByteArray("download"));
    else
        QVERIFY(!error.isEmpty());
    file.reset();
    QCOMPARE(entries(dir.path()), expected);
}

void TestUniqueFileReservation::truncateStartsOver() {
    QTemporaryDir dir;
    UniqueFileReservation folder(dir.path());
    QString error;
    auto file = folder.createFile(&error);
    QVERIFY(file && file->write("stale data", 10, &error));
    QVERIFY(file->truncate(&error));
    QVERIFY(file->write("fresh", 5, &error));
    const QString claimed = folder.claim(QStringLiteral("f.txt"), true, &error);
    QVERIFY(folder.publish(*file, QStringLiteral("f.txt"), claimed, true, &error));
    QCOMPARE(readAll(dir.filePath(QStringLiteral("f.txt"))), QByteArray("fresh"));
}

void TestUniqueFileReservation::pathNamesAreRefused_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("dot dot") << "..";
    QTest::newRow("relative path") << "../escape.txt";
    QTest::newRow("absolute path") << "/tmp/escape.txt";
    QTest::newRow("empty") << "";
}

void TestUniqueFileReservation::pathNamesAreRefused() {
    QFETCH(QString, name);
    QTemporaryDir parent;
    QVERIFY(QDir(parent.path()).mkdir(QStringLiteral("inner")));
    const QString inner = parent.filePath(QStringLiteral("inner"));
    UniqueFileReservation folder(inner);
    QString error;
    QVERIFY(folder.claim(name, true, &error).isEmpty());
    QVERIFY(!error.isEmpty());
    QCOMPARE(entries(parent.path()), QStringList{QStringLiteral("inner")});
    QVERIFY(entries(inner).isEmpty());
}

void TestUniqueFileReservation::missingFolder() {
    QTemporaryDir dir;
    UniqueFileReservation folder(dir.filePath(QStringLiteral("missing")));
    QString error;
    QVERIFY(!folder.open(&error));
    QVERIFY(error.contains(QStringLiteral("missing")));
    QVERIFY(!folder.createFile(&error));
    QVERIFY(folder.claim(QStringLiteral("a.txt"), true, &error).isEmpty());
}

QTEST_GUILESS_MAIN(TestUniqueFileReservation)
#include "tst_uniquefilereservation.moc"
