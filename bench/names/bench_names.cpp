// Names 100,000 harvest records with a mask of five tokens, as a download of them does before it
// fetches anything: the name each gets without a mask, the record's values, the masked path with the
// extension rules. Then the same paths claimed in an empty folder (collisions numbered, folders made).
// Prints the times of several rounds; see README.md.

#include "LocalFileName.h"
#include "NameMask.h"
#include "UniqueFileReservation.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {

// The CPU time of this thread in microseconds: on a shared machine, wall-clock time also counts
// the time other programs had the CPU.
qint64 cpuMicroseconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

QList<tURLData> records(int count) {
    QList<tURLData> list;
    list.reserve(count);
    const QStringList titles{QStringLiteral("夏の旅 2024"), QStringLiteral("Gallery: cats / dogs"),
                             QStringLiteral("写真集 – 第%1巻"), QString(300, QChar(0x3042)),
                             QStringLiteral("..")};
    for (int i = 0; i < count; ++i) {
        tURLData r = tURLData::make(
            QStringLiteral("https://img%1.example.com/photos/%2/%E5%86%99%E7%9C%9F_%3.jpg?w=1200")
                .arg(i % 7)
                .arg(i / 100)
                .arg(i),
            tURLData::KindImage, 0, QStringLiteral("https://example.com/gallery/%1.html").arg(i / 50));
        r.Title =
            QString(titles.at(i % titles.size())).replace(QStringLiteral("%1"), QString::number(i / 50));
        r.Alt = i % 3 ? QStringLiteral("猫の写真 %1 <big>").arg(i) : QString();
        r.Width = 1200;
        r.Height = 800;
        r.Type = QStringLiteral("image/jpeg");
        list.append(r);
    }
    return list;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int count = 100000;
    const QList<tURLData> list = records(count);
    QString error;
    const NameMask mask = NameMask::parsed(QStringLiteral("{host}/{title}/{n:05}_{alt}.{ext}"), &error);
    if (mask.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    const QDate today = QDate::currentDate();
    QStringList paths(count);
    QList<qint64> rounds;
    QList<qint64> walls;
    for (int round = 0; round < 7; ++round) {
        QElapsedTimer clock;
        clock.start();
        const qint64 cpu = cpuMicroseconds();
        for (int i = 0; i < count; ++i) {
            const tURLData& r = list.at(i);
            NameMask::Values values = NameMask::valuesOf(r, i + 1, today);
            values.name = LocalFileName(r.URL, r.Charset);
            paths[i] = mask.finalPath(values, r.Type);
        }
        rounds.append(cpuMicroseconds() - cpu);
        walls.append(clock.nsecsElapsed() / 1000);
    }
    std::sort(rounds.begin(), rounds.end());
    std::sort(walls.begin(), walls.end());
    std::printf("naming %d records, mask %s\n", count, qPrintable(mask.text()));
    std::printf("  CPU time: fastest %.1f ms, median %.1f ms, slowest %.1f ms (7 rounds)\n",
                rounds.front() / 1000.0, rounds.at(3) / 1000.0, rounds.back() / 1000.0);
    std::printf("  wall clock: fastest %.1f ms, median %.1f ms\n", walls.front() / 1000.0,
                walls.at(3) / 1000.0);
    std::printf("  e.g. %s\n", qPrintable(paths.at(1)));
    // A digest of every path: a change that makes naming faster must leave it as it is.
    QCryptographicHash digest(QCryptographicHash::Sha256);
    for (const QString& path : std::as_const(paths))
        digest.addData((path + u'\n').toUtf8());
    std::printf("  SHA-256 of the paths: %s\n", digest.result().toHex().constData());
    // "--naming-only": stop here (for a profiler).
    if (app.arguments().contains(QStringLiteral("--naming-only")))
        return 0;
    // Where the time goes, one round each.
    auto timed = [&](const char* what, auto&& step) {
        const qint64 cpu = cpuMicroseconds();
        for (int i = 0; i < count; ++i)
            step(i);
        std::printf("  %-45s %.1f ms CPU\n", what, (cpuMicroseconds() - cpu) / 1000.0);
    };
    QList<NameMask::Values> kept(count);
    timed("the names without a mask (LocalFileName)",
          [&](int i) { kept[i].name = LocalFileName(list.at(i).URL, list.at(i).Charset); });
    timed("the records' values (two URLs parsed)", [&](int i) {
        const QString name = kept[i].name;
        kept[i] = NameMask::valuesOf(list.at(i), i + 1, today);
        kept[i].name = name;
    });
    timed("the masked paths", [&](int i) { paths[i] = mask.path(kept.at(i)); });
    timed("the masked paths with the extension rules",
          [&](int i) { paths[i] = mask.finalPath(kept.at(i), list.at(i).Type); });

    QTemporaryDir dir;
    UniqueFileReservation folder(dir.path());
    QElapsedTimer clock;
    clock.start();
    const qint64 claimCpu = cpuMicroseconds();
    int numbered = 0;
    for (const QString& path : std::as_const(paths)) {
        const QString claimed = folder.claim(path, true, &error);
        if (claimed.isEmpty()) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        numbered += claimed != path;
    }
    std::printf(
        "claiming them in an empty folder (folders made): %.1f ms CPU, %.1f ms wall clock (%d numbered)\n",
        (cpuMicroseconds() - claimCpu) / 1000.0, clock.nsecsElapsed() / 1e6, numbered);
    return 0;
}
