#include "ReservedFile.h"
#include "UniqueFileReservation.h"

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

} // namespace

class TestUniqueFileReservation : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void sameNameTwiceInOneBatch();
    void existingFileIsNeverOverwritten();
    void symbolicLinksAreNeverFollowed();
    void namesDifferingInCaseAreNumbered();
    void commitLeavesOnlyTheFinalFile();
    void discardLeavesNothing();
    void releasedNameIsFreeAgain();
    void takenNameWithoutNumbering();
    void replacedPlaceholderIsNotOverwritten();
    void pathNamesAreRefused_data();
    void pathNamesAreRefused();
    void missingFolder();
};

void TestUniqueFileReservation::sameNameTwiceInOneBatch() {
    QTemporaryDir dir;
    UniqueFileReservation folder(dir.path());
    QString error;
    auto first = folder.reserve(QStringLiteral("logo.gif"), true, &error);
    auto second = folder.reserve(QStringLiteral("logo.gif"), true, &error);
    auto third = folder.reserve(QStringLiteral("logo.gif"), true, &error);
    QVERIFY2(first && second && third, qPrintable(error));
    QCOMPARE(first->fileName(), QStringLiteral("logo.gif"));
    QCOMPARE(second->fileName(), QStringLiteral("logo (2).gif"));
    QCOMPARE(third->fileName(), QStringLiteral("logo (3).gif"));
    QCOMPARE(second->path(), dir.path() + QStringLiteral("/logo (2).gif"));
}

void TestUniqueFileReservation::existingFileIsNeverOverwritten() {
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(QStringLiteral("a.txt")), "precious"));
    UniqueFileReservation folder(dir.path());
    QString error;
    auto file = folder.reserve(QStringLiteral("a.txt"), true, &error);
    QVERIFY2(file, qPrintable(error));
    QCOMPARE(file->fileName(), QStringLiteral("a (2).txt"));
    QVERIFY(file->write("new", 3, &error));
    QVERIFY2(file->commit(&error), qPrintable(error));
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
    QString error;
    auto a = folder.reserve(QStringLiteral("a.txt"), true, &error);
    auto b = folder.reserve(QStringLiteral("b.txt"), true, &error);
    QVERIFY2(a && b, qPrintable(error));
    QCOMPARE(a->fileName(), QStringLiteral("a (2).txt"));
    QCOMPARE(b->fileName(), QStringLiteral("b (2).txt"));
    QVERIFY(a->write("x", 1, &error) && a->commit(&error));
    QVERIFY(b->write("y", 1, &error) && b->commit(&error));
    QCOMPARE(readAll(victim), QByteArray("keep me"));
    QVERIFY(!QFile::exists(outside.filePath(QStringLiteral("created.txt"))));
    QVERIFY(QFileInfo(dir.filePath(QStringLiteral("a.txt"))).isSymLink());
}

void TestUniqueFileReservation::namesDifferingInCaseAreNumbered() {
    QTemporaryDir dir;
    UniqueFileReservation folder(dir.path());
    QString error;
    auto upper = folder.reserve(QStringLiteral("Logo.GIF"), true, &error);
    auto lower = folder.reserve(QStringLiteral("logo.gif"), true, &error);
    QVERIFY2(upper && lower, qPrintable(error));
    QCOMPARE(lower->fileName(), QStringLiteral("logo (2).gif"));
}

void TestUniqueFileReservation::commitLeavesOnlyTheFinalFile() {
    QTemporaryDir dir;
    UniqueFileReservation folder(dir.path());
    QString error;
    auto file = folder.reserve(QStringLiteral("data.bin"), true, &error);
    QVERIFY2(file, qPrintable(error));
    // While the data arrives, the final name holds nothing.
    QVERIFY(file->write("0123456789", 10, &error));
    QCOMPARE(readAll(dir.filePath(QStringLiteral("data.bin"))), QByteArray());
    QCOMPARE(entries(dir.path()).size(), 2);
    QVERIFY2(file->commit(&error), qPrintable(error));
    QCOMPARE(entries(dir.path()), QStringList{QStringLiteral("data.bin")});
    QCOMPARE(readAll(dir.filePath(QStringLiteral("data.bin"))), QByteArray("0123456789"));
    QCOMPARE(file->bytesWritten(), 10);
}

void TestUniqueFileReservation::discardLeavesNothing() {
    QTemporaryDir dir;
    UniqueFileReservation folder(dir.path());
    QString error;
    {
        auto file = folder.reserve(QStringLiteral("a.jpg"), true, &error);
        QVERIFY(file && file->write("part", 4, &error));
        file->discard();
        QVERIFY(entries(dir.path()).isEmpty());
        auto dropped = folder.reserve(QStringLiteral("b.jpg"), true, &error);
        QVERIFY(dropped && dropped->write("part", 4, &error));
        // Destroyed without commit.
    }
    QVERIFY(entries(dir.path()).isEmpty());
}

void TestUniqueFileReservation::releasedNameIsFreeAgain() {
    QTemporaryDir dir;
    UniqueFileReservation folder(dir.path());
    QString error;
    auto failed = folder.reserve(QStringLiteral("a.jpg"), true, &error);
    QVERIFY(failed);
    failed->discard();
    auto next = folder.reserve(QStringLiteral("a.jpg"), true, &error);
    QVERIFY(next);
    QCOMPARE(next->fileName(), QStringLiteral("a.jpg"));
}

void TestUniqueFileReservation::takenNameWithoutNumbering() {
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(QStringLiteral("a.txt")), "old"));
    UniqueFileReservation folder(dir.path());
    QString error;
    QVERIFY(!folder.reserve(QStringLiteral("a.txt"), false, &error));
    QVERIFY(error.contains(QStringLiteral("a.txt")));
    QCOMPARE(entries(dir.path()), QStringList{QStringLiteral("a.txt")});
    QCOMPARE(readAll(dir.filePath(QStringLiteral("a.txt"))), QByteArray("old"));
}

void TestUniqueFileReservation::replacedPlaceholderIsNotOverwritten() {
    QTemporaryDir dir;
    UniqueFileReservation folder(dir.path());
    QString error;
    auto file = folder.reserve(QStringLiteral("a.txt"), true, &error);
    QVERIFY(file && file->write("download", 8, &error));
    // Another program puts its own file under the reserved name meanwhile.
    QVERIFY(QFile::remove(dir.filePath(QStringLiteral("a.txt"))));
    QVERIFY(writeFile(dir.filePath(QStringLiteral("a.txt")), "theirs"));
    QVERIFY(!file->commit(&error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(readAll(dir.filePath(QStringLiteral("a.txt"))), QByteArray("theirs"));
    QCOMPARE(entries(dir.path()), QStringList{QStringLiteral("a.txt")});
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
    QVERIFY(!folder.reserve(name, true, &error));
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
    QVERIFY(!folder.reserve(QStringLiteral("a.txt"), true, &error));
}

QTEST_GUILESS_MAIN(TestUniqueFileReservation)
#include "tst_uniquefilereservation.moc"
