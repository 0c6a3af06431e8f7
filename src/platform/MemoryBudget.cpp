#include "MemoryBudget.h"

#include <QFile>
#include <QList>

#include <algorithm>
#include <limits>

namespace MemoryBudget {

namespace {

// /proc and /sys files report a size of 0: read what is there.
QByteArray readSmall(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(16 * 1024);
}

qint64 lesserKnown(qint64 a, qint64 b) {
    if (a < 0)
        return b;
    if (b < 0)
        return a;
    return std::min(a, b);
}

// The room under the limits of the control groups this process is in, looked up where the group's
// path says and at the root of the mount (a container sees its own group there).
qint64 cgroupRoom() {
    qint64 room = -1;
    const QList<QByteArray> lines = readSmall(QStringLiteral("/proc/self/cgroup")).split('\n');
    for (const QByteArray& line : lines) {
        const QList<QByteArray> parts = line.split(':');
        if (parts.size() < 3)
            continue;
        const QString path = QString::fromUtf8(parts.mid(2).join(':'));
        if (path.contains(QLatin1String("..")))
            continue;
        if (parts[0] == "0" && parts[1].isEmpty()) {
            for (const QString& dir :
                 {QStringLiteral("/sys/fs/cgroup") + path, QStringLiteral("/sys/fs/cgroup")})
                room = lesserKnown(room, roomUnderLimit(readSmall(dir + QStringLiteral("/memory.max")),
                                                        readSmall(dir + QStringLiteral("/memory.current"))));
        } else if (parts[1].split(',').contains("memory")) {
            for (const QString& dir :
                 {QStringLiteral("/sys/fs/cgroup/memory") + path, QStringLiteral("/sys/fs/cgroup/memory")})
                room = lesserKnown(room,
                                   roomUnderLimit(readSmall(dir + QStringLiteral("/memory.limit_in_bytes")),
                                                  readSmall(dir + QStringLiteral("/memory.usage_in_bytes"))));
        }
    }
    return room;
}

} // namespace

qint64 availableBytes() {
    return lesserKnown(availableFromMeminfo(readSmall(QStringLiteral("/proc/meminfo"))), cgroupRoom());
}

qint64 roomUnderLimit(const QByteArray& limit, const QByteArray& usage) {
    bool limitOk = false;
    bool usageOk = false;
    const qint64 most = limit.trimmed().toLongLong(&limitOk);
    const qint64 used = usage.trimmed().toLongLong(&usageOk);
    // v1 writes "no limit" as the largest number rounded down to a page.
    if (!limitOk || !usageOk || most < 0 || used < 0 || most >= (qint64(1) << 62))
        return -1;
    return std::max<qint64>(0, most - used);
}

qint64 availableFromMeminfo(const QByteArray& meminfo) {
    for (const QByteArray& line : meminfo.split('\n')) {
        if (!line.startsWith("MemAvailable:"))
            continue;
        const QList<QByteArray> fields = line.mid(13).simplified().split(' ');
        bool ok = false;
        const qint64 value = fields.value(0).toLongLong(&ok);
        if (!ok || value < 0 || value > (std::numeric_limits<qint64>::max() >> 10))
            return -1;
        const QByteArray unit = fields.value(1).toLower();
        if (unit == "kb")
            return value * 1024;
        if (unit.isEmpty() || unit == "b")
            return value;
        return -1;
    }
    return -1;
}

int pagesAtOnce(int wanted, int open, qint64 available) {
    wanted = std::max(1, wanted);
    open = std::clamp(open, 0, wanted);
    if (available < 0 || open >= wanted)
        return wanted;
    const qint64 spare = std::max<qint64>(0, available - KeptForTheSystem);
    const qint64 more = spare / BytesPerPage;
    return int(std::clamp<qint64>(qint64(std::max(open, 1)) + more, 1, wanted));
}

} // namespace MemoryBudget
