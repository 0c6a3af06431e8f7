#include "DownloadFolderRule.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

// Which program folder a row stands for.
enum class Program { Writable, ReadOnly, Missing, Unmarked, MarkerIsFolder };
Q_DECLARE_METATYPE(Program)

class TestDownloadFolderRule : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_root;

    QString path(const QString& name) const { return m_root.path() + QLatin1Char('/') + name; }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_root.isValid());
        for (const char* name :
             {"program", "readonly", "unmarked", "odd/nepirika.portable", "home", "home/Downloads"})
            QVERIFY(QDir().mkpath(path(QString::fromLatin1(name))));
        // A portable copy says so with a file beside the program.
        for (const char* name : {"program", "readonly"}) {
            QFile marker(path(QString::fromLatin1(name) + QStringLiteral("/nepirika.portable")));
            QVERIFY(marker.open(QIODevice::WriteOnly));
        }
        QVERIFY(QFile::setPermissions(path(QStringLiteral("readonly")), QFile::ReadOwner | QFile::ExeOwner |
                                                                            QFile::ReadOther |
                                                                            QFile::ExeOther));
    }

    void cleanupTestCase() {
        QFile::setPermissions(path(QStringLiteral("readonly")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    void resolve_data() {
        QTest::addColumn<Program>("program");
        QTest::addColumn<QString>("boxText");
        QTest::addColumn<QString>("expected"); // relative to the temporary root

        QTest::newRow("portable copy: name beside the program") << Program::Writable << "DL"
                                                                << "program/DL";
        QTest::newRow("portable copy: nested name") << Program::Writable << "pics/2026"
                                                    << "program/pics/2026";
        QTest::newRow("portable copy: empty box") << Program::Writable << ""
                                                  << "program";
        QTest::newRow("portable copy: dots cleaned") << Program::Writable << "a/../Page"
                                                     << "program/Page";
        QTest::newRow("installed: read-only folder") << Program::ReadOnly << "DL"
                                                     << "home/Downloads/ネピリカ/DL";
        QTest::newRow("installed: missing folder") << Program::Missing << "Page"
                                                   << "home/Downloads/ネピリカ/Page";
        QTest::newRow("installed: empty box") << Program::Missing << ""
                                              << "home/Downloads/ネピリカ";
        QTest::newRow("writable but not marked portable") << Program::Unmarked << "DL"
                                                          << "home/Downloads/ネピリカ/DL";
        QTest::newRow("marker that is a folder") << Program::MarkerIsFolder << "Page"
                                                 << "home/Downloads/ネピリカ/Page";
        QTest::newRow("absolute path as is") << Program::Writable << "@/abs/pics"
                                             << "abs/pics";
        QTest::newRow("absolute path, installed") << Program::Missing << "@/abs/pics/"
                                                  << "abs/pics";
        QTest::newRow("tilde alone") << Program::Writable << "~"
                                     << "home";
        QTest::newRow("tilde and a folder") << Program::Missing << "~/写真"
                                            << "home/写真";
        QTest::newRow("tilde inside a name is a name") << Program::Writable << "a~b"
                                                       << "program/a~b";
        QTest::newRow("surrounding blanks dropped") << Program::Writable << "  DL "
                                                    << "program/DL";
    }

    void resolve() {
        QFETCH(Program, program);
        QFETCH(QString, boxText);
        QFETCH(QString, expected);
        // Root may write anywhere: a read-only folder is then writable, as it is for the program.
        if (program == Program::ReadOnly && ::geteuid() == 0)
            QSKIP("permissions do not bind root");

        DownloadFolderRule::Places places;
        places.programFolder = program == Program::Writable         ? path(QStringLiteral("program"))
                               : program == Program::ReadOnly       ? path(QStringLiteral("readonly"))
                               : program == Program::Unmarked       ? path(QStringLiteral("unmarked"))
                               : program == Program::MarkerIsFolder ? path(QStringLiteral("odd"))
                                                                    : path(QStringLiteral("gone"));
        places.downloadFolder = path(QStringLiteral("home/Downloads"));
        places.homeFolder = path(QStringLiteral("home"));
        boxText.replace(QLatin1Char('@'), m_root.path());

        const DownloadFolderRule rule(places);
        QCOMPARE(rule.resolve(boxText), path(expected));
        QVERIFY(QDir::isAbsolutePath(rule.resolve(boxText)));
    }
};

QTEST_GUILESS_MAIN(TestDownloadFolderRule)
#include "tst_downloadfolderrule.moc"
