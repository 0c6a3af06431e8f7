// cmake --install puts the program, its desktop entry, icons and AppStream metainfo in their places.

#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

class TestInstall : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_prefix;

    struct Ran {
        int exitCode = -1;
        QString output;
    };

    static Ran run(const QString& program, const QStringList& arguments) {
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(program, arguments);
        Ran ran;
        if (process.waitForFinished(90000) && process.exitStatus() == QProcess::NormalExit)
            ran.exitCode = process.exitCode();
        ran.output = QString::fromUtf8(process.readAll());
        return ran;
    }

    QString installed(const QString& path) const { return m_prefix.filePath(path); }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_prefix.isValid());
        const Ran ran = run(QStringLiteral(NEPIRIKA_CMAKE_COMMAND),
                            {QStringLiteral("--install"), QStringLiteral(NEPIRIKA_BUILD_DIR),
                             QStringLiteral("--prefix"), m_prefix.path()});
        QVERIFY2(ran.exitCode == 0, qPrintable(ran.output));
    }

    void filesInPlace_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("iconSize"); // 0: not a PNG icon
        QTest::newRow("program") << "bin/nepirika" << 0;
        QTest::newRow("desktop entry") << "share/applications/nepirika.desktop" << 0;
        QTest::newRow("metainfo") << "share/metainfo/example.nepirika.nepirika.metainfo.xml" << 0;
        QTest::newRow("copyright") << "share/doc/nepirika/copyright" << 0;
        QTest::newRow("changelog") << "share/doc/nepirika/changelog.gz" << 0;
        QTest::newRow("user's guide") << "share/doc/nepirika/README.md" << 0;
        QTest::newRow("scalable icon") << "share/icons/hicolor/scalable/apps/nepirika.svg" << 0;
        for (int size : {16, 24, 32, 48, 64, 128, 256})
            QTest::newRow(qPrintable(QStringLiteral("icon %1").arg(size)))
                << QStringLiteral("share/icons/hicolor/%1x%1/apps/nepirika.png").arg(size) << size;
    }

    void filesInPlace() {
        QFETCH(QString, path);
        QFETCH(int, iconSize);
        const QFileInfo file(installed(path));
        QVERIFY2(file.isFile() && file.size() > 0, qPrintable(path));
        if (iconSize > 0)
            QCOMPARE(QImage(file.filePath()).size(), QSize(iconSize, iconSize));
    }

    void programRunsFromTheTree() {
        const Ran ran = run(installed(QStringLiteral("bin/nepirika")), {QStringLiteral("--version")});
        QCOMPARE(ran.exitCode, 0);
        QVERIFY(ran.output.startsWith(QStringLiteral("nepirika ")));
        // The browser engine's part is a module that the installed program finds in its own tree.
        const Ran harvest = run(installed(QStringLiteral("bin/nepirika")),
                                {QStringLiteral("harvest"), QStringLiteral("--help")});
        QVERIFY2(harvest.exitCode == 0 && harvest.output.contains(QStringLiteral("harvest")),
                 qPrintable(harvest.output));
    }

    void desktopEntry() {
        QSettings entry(installed(QStringLiteral("share/applications/nepirika.desktop")),
                        QSettings::IniFormat);
        entry.beginGroup(QStringLiteral("Desktop Entry"));
        QCOMPARE(entry.value(QStringLiteral("Name")).toString(), QStringLiteral("Nepirika"));
        QCOMPARE(entry.value(QStringLiteral("Name[ja]")).toString(), QStringLiteral("ネピリカ"));
        QVERIFY(entry.value(QStringLiteral("Categories")).toStringList().join(u';').startsWith(u"Network"));
        QCOMPARE(entry.value(QStringLiteral("Icon")).toString(), QStringLiteral("nepirika"));

        const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
        if (validator.isEmpty())
            QSKIP("desktop-file-validate is not installed");
        const Ran ran = run(validator, {installed(QStringLiteral("share/applications/nepirika.desktop"))});
        QVERIFY2(ran.exitCode == 0 && ran.output.trimmed().isEmpty(), qPrintable(ran.output));
    }

    void metainfo() {
        const QString validator = QStandardPaths::findExecutable(QStringLiteral("appstreamcli"));
        if (validator.isEmpty())
            QSKIP("appstreamcli is not installed");
        const Ran ran = run(
            validator, {QStringLiteral("validate"), QStringLiteral("--no-net"),
                        installed(QStringLiteral("share/metainfo/example.nepirika.nepirika.metainfo.xml"))});
        QVERIFY2(ran.exitCode == 0, qPrintable(ran.output));
    }
};

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
