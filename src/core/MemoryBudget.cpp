#include "MemoryBudget.h"

#include <QFile>
#include <QList>

#include <algorithm>
#include <limits>

namespace MemoryBudget {

qint64 availableBytes() {
    QFile meminfo(QStringLiteral("/proc/meminfo"));
    if (!meminfo.open(QIODevice::ReadOnly))
        return -1;
    // /proc files report a size of 0: read what is there.
    return availableFromMeminfo(meminfo.read(16 * 1024));
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
