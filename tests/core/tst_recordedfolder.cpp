#include "RecordedFolder.h"

#include <QTest>

// Which folders a kept download record may name: a damaged or planted record must not send the
// files of a continued batch anywhere but a plain folder of the file system.
class TestRecordedFolder : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void usable_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<bool>("usable");
        QTest::newRow("plain") << "/home/a/Downloads/ネピリカ" << true;
        QTest::newRow("root") << "/" << true;
        QTest::newRow("spaces and emoji joined") << "/home/a/my pics/👩‍👩‍👧" << true;
        QTest::newRow("Qt resource path") << ":dl" << false;
        QTest::newRow("Qt resource path with slash") << ":/dl" << false;
        QTest::newRow("relative") << "DL" << false;
        QTest::newRow("home shorthand") << "~/DL" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("NUL inside") << QStringLiteral("/tmp/a") + QChar(0) + QStringLiteral("b") << false;
        QTest::newRow("line break") << "/tmp/a\nb" << false;
        QTest::newRow("escape") << "/tmp/\x1b[31m" << false;
        QTest::newRow("C1 control") << "/tmp/a\u0085b" << false;
        QTest::newRow("right-to-left override") << "/tmp/a\u202Egpj.exe" << false;
        QTest::newRow("isolate") << "/tmp/\u2067x\u2069" << false;
        QTest::newRow("Arabic letter mark") << "/tmp/\u061C" << false;
        QTest::newRow("line separator") << "/tmp/a\u2028b" << false;
        QTest::newRow("lone surrogate") << QStringLiteral("/tmp/a") + QChar(0xD800) << false;
        QTest::newRow("noncharacter") << "/tmp/\uFFFF" << false;
        QTest::newRow("longer than a path may be") << "/" + QString(4095, u'a') << false;
    }
    void usable() {
        QFETCH(QString, folder);
        QFETCH(bool, usable);
        QCOMPARE(RecordedFolder::isUsable(folder), usable);
    }
};

QTEST_GUILESS_MAIN(TestRecordedFolder)
#include "tst_recordedfolder.moc"
