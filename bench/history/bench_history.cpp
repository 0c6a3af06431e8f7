// The download history at scale (not a test: run it by hand, see README.md):
//   1. a history of ENTRIES entries (default 1,000,000) is written, and its size on disk measured;
//   2. marking: the saved files of the 10,000 records of a harvest (half of them saved, their files
//      there) looked up, directly and through the recorder's thread;
//   3. recording: files handed to the recorder one by one as a download saves them (hashed and
//      written in batched transactions): the time on the caller's thread, and the recorder's own
//      time per file;
//   4. `nepirika download --new-only` over 1,000 addresses of which 990 are in the history: the
//      requests the server gets, and the same download with recording on and off (time per file).
// Run: bench_history [ENTRIES] (NEPIRIKA_BINARY names the program for step 4; without it, skipped).
#include "DownloadHistory.h"
#include "HistoryRecorder.h"
#include "ProgramRun.h"
#include "TestHttpServer.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <cstdio>
#include <ctime>

namespace {

// CPU time of the calling thread: the machine this runs on may be busy with other work.
double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

void say(const QString& line) {
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

qint64 sizeOf(const QString& file) {
    return QFileInfo(file).size() + QFileInfo(file + QStringLiteral("-wal")).size();
}

QString fakeUrl(qint64 i) {
    return QStringLiteral("https://img%1.example.net/gallery/%2/photo_%3.jpg")
        .arg(i % 50)
        .arg(i / 1000)
        .arg(i);
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Runs the event loop until count signals of spy have come.
bool waitFor(QSignalSpy& spy, int count, int timeoutMs = 600000) {
    QElapsedTimer timer;
    timer.start();
    while (spy.size() < count && timer.elapsed() < timeoutMs)
        spy.wait(1000);
    return spy.size() >= count;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const qint64 total = argc > 1 ? QByteArray(argv[1]).toLongLong() : 1000000;
    QTemporaryDir work;
    // NEPIRIKA_BENCH_HISTORY: a history written by an earlier run is copied instead of written anew
    // (and one written now is kept there).
    const QString kept = qEnvironmentVariable("NEPIRIKA_BENCH_HISTORY");
    const QString file = work.filePath(QStringLiteral("history.sqlite3"));
    const bool reuse = !kept.isEmpty() && QFileInfo(kept).isFile();
    if (reuse)
        QFile::copy(kept, file);
    const QString files = work.filePath(QStringLiteral("files"));
    QDir().mkpath(files);

    // 1. The history: fake addresses and paths, and for the harvest's 5,000 saved records real files.
    constexpr int HarvestRecords = 10000;
    QStringList harvest;
    {
        DownloadHistory history(file);
        if (!history.open()) {
            say(QStringLiteral("cannot open %1: %2").arg(file, history.error()));
            return 1;
        }
        QElapsedTimer timer;
        timer.start();
        const qint64 chunk = 50000;
        for (qint64 start = 0; start < total && !reuse; start += chunk) {
            QList<HistoryEntry> entries;
            for (qint64 i = start; i < std::min(total, start + chunk); ++i) {
                HistoryEntry e;
                e.timeMs = 1700000000000 + i * 1000;
                e.url = fakeUrl(i);
                e.finalUrl = e.url;
                e.page = QStringLiteral("https://img%1.example.net/gallery/%2/").arg(i % 50).arg(i / 1000);
                e.path = QStringLiteral("/home/someone/Downloads/ネピリカ/gallery%1/photo_%2.jpg")
                             .arg(i / 1000)
                             .arg(i);
                e.bytes = 100000 + i % 5000;
                e.sha256 = QCryptographicHash::hash(QByteArray::number(i), QCryptographicHash::Sha256);
                entries.append(e);
            }
            if (!history.add(&entries)) {
                say(QStringLiteral("write failed: %1").arg(history.error()));
                return 1;
            }
        }
        say(QStringLiteral("written: %1 entries in %2 s")
                .arg(total)
                .arg(timer.elapsed() / 1000.0, 0, 'f', 1));
        // The harvest: every other record saved before, its file there.
        QList<HistoryEntry> saved;
        for (int i = 0; i < HarvestRecords; ++i) {
            const QString url = QStringLiteral("https://cdn.example.org/pics/%1.jpg").arg(i);
            harvest.append(url);
            if (i % 2)
                continue;
            HistoryEntry e;
            e.timeMs = 1800000000000 + i;
            e.url = url;
            e.finalUrl = url;
            e.path = files + QStringLiteral("/h%1.jpg").arg(i);
            writeFile(e.path, QByteArray::number(i));
            e.bytes = 5;
            saved.append(e);
        }
        history.add(&saved);
    }
    if (!kept.isEmpty() && !reuse)
        QFile::copy(file, kept);
    say(QStringLiteral("size: %1 MB (%2 bytes an entry)")
            .arg(sizeOf(file) / 1e6, 0, 'f', 1)
            .arg(sizeOf(file) / (total + HarvestRecords / 2)));

    // 2. Marking the harvest's records.
    {
        DownloadHistory history(file);
        history.open();
        for (int round = 0; round < 3; ++round) {
            QElapsedTimer timer;
            timer.start();
            const double cpu = threadCpuMs();
            const auto found = history.savedFor(harvest);
            say(QStringLiteral("marking %1 records directly (round %2): %3 ms wall, %4 ms CPU, %5 saved")
                    .arg(HarvestRecords)
                    .arg(round + 1)
                    .arg(timer.nsecsElapsed() / 1e6, 0, 'f', 1)
                    .arg(threadCpuMs() - cpu, 0, 'f', 1)
                    .arg(found.size()));
        }
    }
    {
        HistoryRecorder recorder(file);
        QSignalSpy looked(&recorder, &HistoryRecorder::lookedUp);
        QElapsedTimer timer;
        timer.start();
        recorder.lookUp(harvest);
        waitFor(looked, 1);
        say(QStringLiteral("marking %1 records through the recorder's thread: %2 ms")
                .arg(HarvestRecords)
                .arg(timer.nsecsElapsed() / 1e6, 0, 'f', 1));
    }

    // 3. Recording files as a download saves them: 2,000 files of 100 KB.
    {
        constexpr int Files = 2000;
        QList<HistoryEntry> entries;
        const QByteArray body(100 * 1024, 'p');
        for (int i = 0; i < Files; ++i) {
            HistoryEntry e;
            e.timeMs = 1900000000000 + i;
            e.url = QStringLiteral("https://new.example.org/%1.jpg").arg(i);
            e.finalUrl = e.url;
            e.path = files + QStringLiteral("/n%1.jpg").arg(i);
            QByteArray own = body;
            own.replace(0, 8, QByteArray::number(i).rightJustified(8, '0'));
            writeFile(e.path, own);
            e.bytes = own.size();
            entries.append(e);
        }
        HistoryRecorder recorder(file);
        QSignalSpy settled(&recorder, &HistoryRecorder::settled);
        QElapsedTimer timer;
        timer.start();
        qint64 callerNs = 0;
        for (const HistoryEntry& e : std::as_const(entries)) {
            QElapsedTimer call;
            call.start();
            recorder.fileSaved(e, true, true);
            callerNs += call.nsecsElapsed();
        }
        waitFor(settled, Files);
        recorder.flush();
        const double elapsed = timer.nsecsElapsed() / 1e6;
        say(QStringLiteral("recording %1 files of 100 KB (hashed, checked for copies, written): "
                           "%2 ms on the caller's thread a file, %3 ms a file on the recorder's thread")
                .arg(Files)
                .arg(callerNs / 1e6 / Files, 0, 'f', 4)
                .arg(elapsed / Files, 0, 'f', 3));
    }
    say(QStringLiteral("size after: %1 MB").arg(sizeOf(file) / 1e6, 0, 'f', 1));

    // 4. The program itself: --new-only over 1,000 addresses of which 990 are known.
    const QString binary = ProgramRun::builtProgram();
    if (binary.isEmpty()) {
        say(QStringLiteral("NEPIRIKA_BINARY not set: the download steps are skipped"));
        return 0;
    }
    TestHttpServer server;
    server.start();
    for (int i = 0; i < 1000; ++i)
        server.route(QStringLiteral("/g/%1.jpg").arg(i),
                     TestHttpResponse::withType("image/jpeg", "picture " + QByteArray::number(i)));
    const QString data = work.filePath(QStringLiteral("data"));
    QDir().mkpath(data + QStringLiteral("/nepirika"));
    QFile::copy(file, data + QStringLiteral("/nepirika/history.sqlite3"));
    QFile::copy(file + QStringLiteral("-wal"), data + QStringLiteral("/nepirika/history.sqlite3-wal"));
    const auto download = [&](const QStringList& arguments, const QString& config) {
        ProgramRun program;
        program.binary = binary;
        program.arguments =
            QStringList{QStringLiteral("download"), QStringLiteral("--jobs"), QStringLiteral("4")} +
            arguments;
        program.environment.insert(QStringLiteral("XDG_DATA_HOME"), data);
        program.environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
        program.timeoutMs = 600000;
        QElapsedTimer timer;
        timer.start();
        const ProgramRun::Outcome outcome = program.run();
        return qMakePair(outcome, timer.elapsed());
    };
    QStringList known;
    for (int i = 0; i < 990; ++i)
        known.append(server.urlText(QStringLiteral("/g/%1.jpg").arg(i)));
    const QString on = work.filePath(QStringLiteral("config-on"));
    const auto first =
        download(QStringList{QStringLiteral("--dir"), work.filePath(QStringLiteral("known"))} + known, on);
    QStringList all = known;
    for (int i = 990; i < 1000; ++i)
        all.append(server.urlText(QStringLiteral("/g/%1.jpg").arg(i)));
    server.clearLog();
    const auto newOnly = download(QStringList{QStringLiteral("--new-only"), QStringLiteral("--dir"),
                                              work.filePath(QStringLiteral("known"))} +
                                      all,
                                  on);
    say(QStringLiteral("--new-only over 1,000 addresses, 990 known: %1 requests, %2 lines skipped, %3 ms")
            .arg(server.requests().size())
            .arg(newOnly.first.outLines().filter(QStringLiteral("skipped\t")).size())
            .arg(newOnly.second));

    // Recording on and off over the same 990 files (new folders, so every file is saved).
    const QString off = work.filePath(QStringLiteral("config-off"));
    QDir().mkpath(off + QStringLiteral("/nepirika"));
    writeFile(off + QStringLiteral("/nepirika/nepirika.ini"), "[download]\nrecordHistory=false\n");
    qint64 withMs = first.second;
    qint64 withoutMs = 0;
    for (int round = 0; round < 2; ++round) {
        withoutMs +=
            download(QStringList{QStringLiteral("--dir"), work.filePath(QStringLiteral("off%1").arg(round))} +
                         known,
                     off)
                .second;
        if (round == 1)
            withMs += download(QStringList{QStringLiteral("--dir"),
                                           work.filePath(QStringLiteral("on%1").arg(round))} +
                                   known,
                               on)
                          .second;
    }
    say(QStringLiteral("download of 990 files, recording on: %1 ms a file; off: %2 ms a file (2 runs each)")
            .arg(withMs / 2.0 / 990, 0, 'f', 3)
            .arg(withoutMs / 2.0 / 990, 0, 'f', 3));
    return 0;
}
