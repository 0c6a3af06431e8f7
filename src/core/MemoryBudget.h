#pragma once

#include <QByteArray>
#include <QtGlobal>

// How many pages an analysis may load at once with the memory the system has left: each page at
// once is a renderer of its own, and on a machine short of memory the pages beyond the first wait
// rather than push the system into swapping. The records are the same whatever the number.
namespace MemoryBudget {

// What one more page at once can take at its peak, and what is left to the rest of the system.
inline constexpr qint64 BytesPerPage = 192LL * 1024 * 1024;
inline constexpr qint64 KeptForTheSystem = 512LL * 1024 * 1024;

// The memory the system can give without swapping, from /proc/meminfo's MemAvailable; -1 when the
// system does not say.
qint64 availableBytes();

// MemAvailable from the text of /proc/meminfo, in bytes; -1 when it is missing or unreadable.
qint64 availableFromMeminfo(const QByteArray& meminfo);

// Pages at once for the wanted number, given the bytes still available and the pages already
// open: pages already open stay, one page is always allowed, and an unknown amount (-1) lets the
// wanted number stand.
int pagesAtOnce(int wanted, int open, qint64 available);

} // namespace MemoryBudget
