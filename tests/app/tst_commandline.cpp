// The program's own options, run as its own process (NEPIRIKA_BINARY names the executable).

#include "ProgramRun.h"

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTest>
#include <unistd.h>

#include <csignal>

class TestCommandLine : public QObject {
    Q_OBJECT

private:
    QString m_binary;

    struct Outcome {
        int exitCode = -1;
        QString out;
        QString err;
    };

    Outcome run(const QStringList& arguments, const QString& platform = QStringLiteral("offscreen"),
                const QString& locale = QStringLiteral("C.UTF-8")) {
        ProgramRun program;
        program.binary = m_binary;
        program.arguments = arguments;
        program.environment.insert(QStringLiteral("LC_ALL"), locale);
        program.environment.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
        program.environment.remove(QStringLiteral("DISPLAY"));
        program.timeoutMs = 30000;
        const ProgramRun::Outcome ran = program.run();
        Outcome outcome;
        if (!ran.finished)
            return outcome;
        outcome.exitCode = ran.exitCode;
        outcome.out = QString::fromUtf8(ran.out);
        outcome.err = QString::fromUtf8(ran.err);
        return outcome;
    }

private Q_SLOTS:
    void initTestCase() {
        m_binary = ProgramRun::builtProgram();
        QVERIFY2(QFileInfo(m_binary).isExecutable(), qPrintable(m_binary));
    }

    void help_data() {
        QTest::addColumn<QString>("option");
        QTest::newRow("--help") << "--help";
        QTest::newRow("-h") << "-h";
    }

    void help() {
        QFETCH(QString, option);
        const Outcome outcome = run({option});
        QCOMPARE(outcome.exitCode, 0);
        QVERIFY(outcome.out.startsWith(QStringLiteral("Usage:")));
        for (const char* word : {"nepirika [ADDRESS...]", "harvest", "download", "--version"})
            QVERIFY2(outcome.out.contains(QLatin1String(word)), word);
        QVERIFY(outcome.err.isEmpty());
    }

    void windowEndsOnSignal_data() {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGHUP") << int(SIGHUP);
        QTest::newRow("SIGINT") << int(SIGINT);
    }

    // The window closes cleanly on a termination signal: the event loop ends and the program
    // exits by itself, as when the window is closed.
    void windowEndsOnSignal() {
        QFETCH(int, signalNumber);
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process.setProcessEnvironment(environment);
        process.start(m_binary, {});
        QVERIFY(process.waitForStarted(10000));
        // Up and running: the window has begun loading its banner, which takes a moment.
        QTest::qWait(3000);
        QCOMPARE(process.state(), QProcess::Running);
        ::kill(static_cast<pid_t>(process.processId()), signalNumber);
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
    }

    void version() {
        const Outcome outcome = run({QStringLiteral("--version")});
        QCOMPARE(outcome.exitCode, 0);
        QCOMPARE(outcome.out, QStringLiteral("nepirika %1\n").arg(QStringLiteral(NEPIRIKA_VERSION)));
    }

    void unknownOptionIsAUsageError_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("named");
        QTest::newRow("alone") << QStringList{"--bogus"} << "--bogus";
        QTest::newRow("after an address") << QStringList{"http://127.0.0.1:9/", "-x"} << "-x";
        QTest::newRow("after a toolkit option") << QStringList{"-style", "fusion", "--json"} << "--json";
    }

    void unknownOptionIsAUsageError() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, named);
        // No display at all: the usage error comes before any window could be opened.
        const Outcome outcome = run(arguments, QStringLiteral("xcb"));
        QCOMPARE(outcome.exitCode, 2);
        QVERIFY2(outcome.err.contains(QStringLiteral("unknown option %1").arg(named)),
                 qPrintable(outcome.err));
        QVERIFY(outcome.err.contains(QStringLiteral("Usage:")));
        QVERIFY(outcome.out.isEmpty());
    }

    void windowAsRootRefusesWithoutTheUsersWordOnTheSandbox() {
        if (::geteuid() != 0)
            QSKIP("needs root");
        ProgramRun program;
        program.binary = m_binary;
        program.environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        program.environment.remove(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"));
        program.timeoutMs = 30000;
        const ProgramRun::Outcome ran = program.run();
        QVERIFY(ran.finished);
        QCOMPARE(ran.exitCode, 1);
        QVERIFY2(QString::fromUtf8(ran.err).contains(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX=1")),
                 ran.err);
        // The windowless commands keep switching it off by themselves.
        program.arguments = {QStringLiteral("harvest"), QStringLiteral("--help")};
        QCOMPARE(program.run().exitCode, 0);
    }

    void helpFollowsTheLocale_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("start");
        QTest::newRow("program, Japanese") << QStringList{"--help"} << "ja_JP.UTF-8"
                                           << "使い方:";
        QTest::newRow("harvest, Japanese") << QStringList{"harvest", "--help"} << "ja_JP.UTF-8"
                                           << "使い方: nepirika harvest";
        QTest::newRow("download, Japanese") << QStringList{"download", "--help"} << "ja_JP.UTF-8"
                                            << "使い方: nepirika download";
        QTest::newRow("harvest, English") << QStringList{"harvest", "--help"} << "en_US.UTF-8"
                                          << "Usage: nepirika harvest";
        QTest::newRow("download, C") << QStringList{"download", "--help"} << "C"
                                     << "Usage: nepirika download";
        QTest::newRow("history, Japanese") << QStringList{"history", "--help"} << "ja_JP.UTF-8"
                                           << "使い方: nepirika history";
        QTest::newRow("history, C") << QStringList{"history", "--help"} << "C"
                                    << "Usage: nepirika history";
    }

    void helpFollowsTheLocale() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, locale);
        QFETCH(QString, start);
        const Outcome outcome = run(arguments, QStringLiteral("offscreen"), locale);
        QCOMPARE(outcome.exitCode, 0);
        QVERIFY2(outcome.out.startsWith(start), qPrintable(outcome.out));
    }

    void helpListsTheSameOptions_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("required");
        QTest::newRow("program") << QStringList{"--help"}
                                 << QStringList{"--parallel", "--no-scripts", "--jobs",
                                                "--retries",  "--continue",   "--verbose"};
        QTest::newRow("harvest") << QStringList{"harvest", "--help"}
                                 << QStringList{"--json",  "--parallel", "--no-scripts",
                                                "--probe", "--new-only", "--verbose"};
        QTest::newRow("download") << QStringList{"download", "--help"}
                                  << QStringList{"--dir",      "--jobs",     "--retries",
                                                 "--new-only", "--continue", "--verbose"};
        QTest::newRow("history") << QStringList{"history", "--help"} << QStringList{"--json", "--forget"};
    }

    // The Japanese help lists every option that the English one does.
    void helpListsTheSameOptions() {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, required);
        static const QRegularExpression option(QStringLiteral("--[a-z][a-z-]*"));
        QList<QSet<QString>> listed;
        for (const char* locale : {"C.UTF-8", "ja_JP.UTF-8"}) {
            const Outcome outcome = run(arguments, QStringLiteral("offscreen"), QLatin1String(locale));
            QCOMPARE(outcome.exitCode, 0);
            QSet<QString> options;
            for (const QRegularExpressionMatch& match : option.globalMatch(outcome.out))
                options.insert(match.captured());
            listed.append(options);
        }
        QCOMPARE(listed[1], listed[0]);
        for (const QString& name : std::as_const(required))
            QVERIFY2(listed[0].contains(name), qPrintable(name));
    }

    void subcommandsAreReached() {
        const Outcome harvest = run({QStringLiteral("harvest"), QStringLiteral("--help")});
        QCOMPARE(harvest.exitCode, 0);
        QVERIFY(harvest.out.contains(QStringLiteral("nepirika harvest")));
        const Outcome download = run({QStringLiteral("download"), QStringLiteral("--help")});
        QCOMPARE(download.exitCode, 0);
        QVERIFY(download.out.contains(QStringLiteral("nepirika download")));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
