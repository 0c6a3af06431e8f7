#include "ProgramRun.h"
#include "TestHttpServer.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

QByteArray pictureBody(const QString& name) {
    return "picture " + name.toUtf8();
}

} // namespace

// The download history as a user meets it: `nepirika download` records, `--new-only` skips,
// `nepirika history` lists and forgets, and a history that is damaged or shared stays usable.
class TestHistory : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void newOnly_data();
    void newOnly();
    void damagedHistory_data();
    void damagedHistory();
    void twoProcessesRecordAtOnce();
    void killedProcessLeavesReadableHistory();
    void listAndForget_data();
    void listAndForget();

private:
    ProgramRun::Outcome run(const QStringList& arguments, int timeoutMs = 60000) const;
    QProcess* startProcess(const QStringList& arguments) const;
    QList<QJsonObject> history(const QString& text = {}) const;
    QString address(const QString& name) const;
    QString historyFile() const;

    QString m_binary;
    TestHttpServer m_server;
    std::unique_ptr<QTemporaryDir> m_home; // the data and configuration folders of one case
    QTemporaryDir m_work;
};

void TestHistory::initTestCase() {
    m_binary = ProgramRun::builtProgram();
    QVERIFY2(QFileInfo(m_binary).isExecutable(), qPrintable(m_binary));
    QVERIFY(m_server.start());
    for (const QString& name : {u"a"_qs, u"b"_qs, u"c"_qs, u"d"_qs})
        m_server.route(u"/pics/"_qs + name + u".jpg"_qs,
                       TestHttpResponse::withType("image/jpeg", pictureBody(name)));
    // The same bytes as a.jpg under another address.
    m_server.route(QStringLiteral("/mirror/copy.jpg"),
                   TestHttpResponse::withType("image/jpeg", pictureBody("a")));
    m_server.route(QStringLiteral("/go/a"), TestHttpResponse::redirect(302, "/pics/a.jpg"));
    for (int i = 0; i < 40; ++i)
        m_server.route(QStringLiteral("/many/%1.png").arg(i),
                       TestHttpResponse::withType("image/png", "many " + QByteArray::number(i)));
    TestHttpResponse slow = TestHttpResponse::withType("image/png", QByteArray(60000, 's'));
    slow.bytesPerSecond = 2000;
    m_server.route(QStringLiteral("/slow.png"), slow);
}

void TestHistory::init() {
    m_home = std::make_unique<QTemporaryDir>();
}

QString TestHistory::address(const QString& name) const {
    return m_server.urlText(name);
}

QString TestHistory::historyFile() const {
    return m_home->filePath(QStringLiteral("data/nepirika/history.sqlite3"));
}

ProgramRun::Outcome TestHistory::run(const QStringList& arguments, int timeoutMs) const {
    ProgramRun program;
    program.binary = m_binary;
    program.arguments = arguments;
    program.workingDirectory = m_work.path();
    program.environment.insert(QStringLiteral("XDG_DATA_HOME"), m_home->filePath(QStringLiteral("data")));
    program.environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home->filePath(QStringLiteral("config")));
    program.environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    program.timeoutMs = timeoutMs;
    return program.run();
}

QProcess* TestHistory::startProcess(const QStringList& arguments) const {
    auto* process = new QProcess;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DATA_HOME"), m_home->filePath(QStringLiteral("data")));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home->filePath(QStringLiteral("config")));
    process->setProcessEnvironment(environment);
    process->setWorkingDirectory(m_work.path());
    process->start(m_binary, arguments);
    return process;
}

QList<QJsonObject> TestHistory::history(const QString& text) const {
    QStringList arguments{QStringLiteral("history"), QStringLiteral("--json")};
    if (!text.isEmpty())
        arguments.append(text);
    const ProgramRun::Outcome listed = run(arguments);
    QList<QJsonObject> entries;
    if (!listed.finished || listed.exitCode != 0)
        return entries;
    for (const QString& line : listed.outLines())
        entries.append(QJsonDocument::fromJson(line.toUtf8()).object());
    return entries;
}

// Each row: a first download, changes to its files, then --new-only over the addresses; what is
// fetched, kept and printed as skipped.
void TestHistory::newOnly_data() {
    QTest::addColumn<QStringList>("first");
    QTest::addColumn<QString>("removeAfterFirst"); // a file of the first download deleted
    QTest::addColumn<QString>("changeAfterFirst"); // a file of the first download rewritten
    QTest::addColumn<QStringList>("second");
    QTest::addColumn<QStringList>("expected"); // ok / skipped-address / skipped-content per address
    QTest::addColumn<int>("requests");         // requests of the second run

    const QStringList abc{u"/pics/a.jpg"_qs, u"/pics/b.jpg"_qs, u"/pics/c.jpg"_qs};
    QTest::newRow("saved addresses are not fetched")
        << abc << QString() << QString()
        << QStringList{u"/pics/a.jpg"_qs, u"/pics/d.jpg"_qs, u"/pics/c.jpg"_qs}
        << QStringList{u"skipped-address"_qs, u"ok"_qs, u"skipped-address"_qs} << 1;
    QTest::newRow("a deleted file is fetched again")
        << abc << u"b.jpg"_qs << QString() << abc
        << QStringList{u"skipped-address"_qs, u"ok"_qs, u"skipped-address"_qs} << 1;
    QTest::newRow("the same bytes under another address are not kept")
        << abc << QString() << QString() << QStringList{u"/mirror/copy.jpg"_qs, u"/pics/d.jpg"_qs}
        << QStringList{u"skipped-content"_qs, u"ok"_qs} << 2;
    QTest::newRow("a saved file changed since is no copy")
        << abc << QString() << u"a.jpg"_qs << QStringList{u"/mirror/copy.jpg"_qs} << QStringList{u"ok"_qs}
        << 1;
    QTest::newRow("copies within one run: the first is kept")
        << QStringList{u"/pics/d.jpg"_qs} << QString() << QString()
        << QStringList{u"/pics/a.jpg"_qs, u"/mirror/copy.jpg"_qs}
        << QStringList{u"ok"_qs, u"skipped-content"_qs} << 2;
    QTest::newRow("the address asked for counts, not where it led")
        << QStringList{u"/go/a"_qs} << QString() << QString() << QStringList{u"/go/a"_qs, u"/pics/a.jpg"_qs}
        << QStringList{u"skipped-address"_qs, u"skipped-content"_qs} << 1;
}

void TestHistory::newOnly() {
    QFETCH(QStringList, first);
    QFETCH(QString, removeAfterFirst);
    QFETCH(QString, changeAfterFirst);
    QFETCH(QStringList, second);
    QFETCH(QStringList, expected);
    QFETCH(int, requests);

    const QString folder = m_home->filePath(QStringLiteral("saved"));
    QStringList arguments{QStringLiteral("download"), QStringLiteral("--dir"), folder};
    for (const QString& path : first)
        arguments.append(address(path));
    const ProgramRun::Outcome firstRun = run(arguments);
    QVERIFY(firstRun.finished);
    QCOMPARE(firstRun.exitCode, 0);
    if (!removeAfterFirst.isEmpty())
        QVERIFY(QFile::remove(QDir(folder).filePath(removeAfterFirst)));
    if (!changeAfterFirst.isEmpty()) {
        QFile file(QDir(folder).filePath(changeAfterFirst));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("edited by hand");
    }
    const QStringList before = QDir(folder).entryList(QDir::Files);

    m_server.clearLog();
    arguments = QStringList{QStringLiteral("download"), QStringLiteral("--new-only"), QStringLiteral("--dir"),
                            folder};
    for (const QString& path : second)
        arguments.append(address(path));
    const ProgramRun::Outcome secondRun = run(arguments);
    QVERIFY(secondRun.finished);
    QCOMPARE(secondRun.exitCode, 0); // skipping is no failure
    const QStringList lines = secondRun.outLines();
    QCOMPARE(lines.size(), second.size());
    int kept = 0;
    for (qsizetype i = 0; i < second.size(); ++i) {
        const QStringList fields = lines.at(i).split(u'\t');
        QCOMPARE(fields.size(), 3);
        QCOMPARE(fields.at(1), address(second.at(i)));
        if (expected.at(i) == u"ok") {
            QCOMPARE(fields.at(0), QStringLiteral("ok"));
            ++kept;
            continue;
        }
        QCOMPARE(fields.at(0), QStringLiteral("skipped"));
        // The reason names the earlier file, which is there.
        const QString earlier = fields.at(2).section(u' ', -1);
        QVERIFY2(QFileInfo(earlier).isFile() && earlier.startsWith(folder), qPrintable(lines.at(i)));
        QCOMPARE(fields.at(2).startsWith(u"same content"), expected.at(i) == u"skipped-content");
    }
    QCOMPARE(m_server.requests().size(), requests);
    // Only the files printed as ok were added.
    QCOMPARE(QDir(folder).entryList(QDir::Files).size(), before.size() + kept);
}

// Each row: what the history file is before a download; the download saves its file all the same,
// the file is set aside under a name that the message gives, and a new history holds the file.
void TestHistory::damagedHistory_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("random bytes") << QByteArray(3000, '\x5a');
    QByteArray header("SQLite format 3");
    header.append('\0');
    QTest::newRow("a header and nothing after it")
        << header + QByteArray(84, '\0') + QByteArray(4000, '\x01');
    QTest::newRow("empty file") << QByteArray();
}

void TestHistory::damagedHistory() {
    QFETCH(QByteArray, content);
    QVERIFY(QDir().mkpath(QFileInfo(historyFile()).absolutePath()));
    {
        QFile file(historyFile());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    const QString folder = m_home->filePath(QStringLiteral("saved"));
    const ProgramRun::Outcome ran = run({QStringLiteral("download"), QStringLiteral("--new-only"),
                                         QStringLiteral("--dir"), folder, address(u"/pics/a.jpg"_qs)});
    QVERIFY(ran.finished);
    QCOMPARE(ran.exitCode, 0);
    QCOMPARE(ran.outLines(),
             QStringList{QStringLiteral("ok\t%1\t%2/a.jpg").arg(address(u"/pics/a.jpg"_qs), folder)});
    const QString aside = historyFile() + QStringLiteral(".damaged");
    if (content.isEmpty()) {
        // An empty file is a new database: nothing to set aside.
        QVERIFY(!QFileInfo::exists(aside));
    } else {
        QVERIFY2(QString::fromUtf8(ran.err).contains(aside), ran.err.constData());
        QFile kept(aside);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), content);
    }
    const QList<QJsonObject> entries = history();
    QCOMPARE(entries.size(), 1);
    QCOMPARE(entries.first().value(u"path").toString(), folder + QStringLiteral("/a.jpg"));
}

void TestHistory::twoProcessesRecordAtOnce() {
    // Two downloads of 20 files each, started together, both into the one history.
    QList<QProcess*> processes;
    for (int p = 0; p < 2; ++p) {
        QStringList arguments{QStringLiteral("download"), QStringLiteral("--jobs"), QStringLiteral("4"),
                              QStringLiteral("--dir"), m_home->filePath(QStringLiteral("run%1").arg(p))};
        for (int i = 0; i < 20; ++i)
            arguments.append(address(QStringLiteral("/many/%1.png").arg(p * 20 + i)));
        processes.append(startProcess(arguments));
    }
    for (QProcess* process : std::as_const(processes)) {
        QVERIFY(process->waitForFinished(60000));
        QCOMPARE(process->exitCode(), 0);
        delete process;
    }
    const QList<QJsonObject> entries = history();
    QSet<QString> addresses;
    for (const QJsonObject& entry : entries) {
        addresses.insert(entry.value(u"url").toString());
        QCOMPARE(entry.value(u"sha256").toString().size(), 64);
    }
    QCOMPARE(entries.size(), 40);
    QCOMPARE(addresses.size(), 40);
}

void TestHistory::killedProcessLeavesReadableHistory() {
    // Fast files first, then one that takes seconds: the process is killed while it arrives.
    QStringList arguments{QStringLiteral("download"), QStringLiteral("--jobs"), QStringLiteral("1"),
                          QStringLiteral("--dir"), m_home->filePath(QStringLiteral("killed"))};
    for (int i = 0; i < 5; ++i)
        arguments.append(address(QStringLiteral("/many/%1.png").arg(i)));
    arguments.append(address(u"/slow.png"_qs));
    std::unique_ptr<QProcess> process(startProcess(arguments));
    QVERIFY(process->waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(!m_server.requestsFor(u"/slow.png"_qs).isEmpty(), 30000);
    // The files before it are recorded while it runs, and can be read meanwhile.
    QTRY_COMPARE_WITH_TIMEOUT(history().size(), 5, 30000);
    QCOMPARE(process->state(), QProcess::Running);
    ::kill(static_cast<pid_t>(process->processId()), SIGKILL);
    QVERIFY(process->waitForFinished(10000));

    QCOMPARE(history().size(), 5);
    // The history goes on being written after the kill.
    const ProgramRun::Outcome again =
        run({QStringLiteral("download"), QStringLiteral("--dir"), m_home->filePath(QStringLiteral("again")),
             address(u"/pics/b.jpg"_qs)});
    QCOMPARE(again.exitCode, 0);
    QCOMPARE(history().size(), 6);
}

// Each row: a text for `history` and `history --forget` over the same four saved files.
void TestHistory::listAndForget_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("matching"); // file names, newest first
    QTest::newRow("a name in the address") << u"b.jpg"_qs << QStringList{u"b.jpg"_qs};
    QTest::newRow("letter case aside") << u"/PICS/"_qs << QStringList{u"c.jpg"_qs, u"b.jpg"_qs, u"a.jpg"_qs};
    QTest::newRow("the folder in the path")
        << u"saved-list"_qs << QStringList{u"copy.jpg"_qs, u"c.jpg"_qs, u"b.jpg"_qs, u"a.jpg"_qs};
    QTest::newRow("nothing matches") << u"nowhere"_qs << QStringList{};
}

void TestHistory::listAndForget() {
    QFETCH(QString, text);
    QFETCH(QStringList, matching);
    const QString folder = m_home->filePath(QStringLiteral("saved-list"));
    // One at a time, so that the order of saving is known.
    for (const QString& path :
         {u"/pics/a.jpg"_qs, u"/pics/b.jpg"_qs, u"/pics/c.jpg"_qs, u"/mirror/copy.jpg"_qs})
        QCOMPARE(run({QStringLiteral("download"), QStringLiteral("--dir"), folder, address(path)}).exitCode,
                 0);

    const ProgramRun::Outcome listed = run({QStringLiteral("history"), text});
    QCOMPARE(listed.exitCode, 0);
    QStringList names;
    for (const QString& line : listed.outLines()) {
        const QStringList fields = line.split(u'\t');
        QCOMPARE(fields.size(), 4); // time, address, path, bytes
        QCOMPARE(fields.at(3).toLongLong(), QFileInfo(fields.at(2)).size());
        names.append(QFileInfo(fields.at(2)).fileName());
    }
    QCOMPARE(names, matching);

    const ProgramRun::Outcome forgot = run({QStringLiteral("history"), QStringLiteral("--forget"), text});
    QCOMPARE(forgot.exitCode, 0);
    QCOMPARE(forgot.outLines(), QStringList{QStringLiteral("forgot %1 entries").arg(matching.size())});
    QCOMPARE(history().size(), 4 - matching.size());
    QVERIFY(history(text).isEmpty());
    // The files stay.
    QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 4);
}

QTEST_GUILESS_MAIN(TestHistory)
#include "tst_history.moc"
