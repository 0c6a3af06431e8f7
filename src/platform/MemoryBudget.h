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

// The memory the program can take without swapping: /proc/meminfo's MemAvailable, or less when its
// control group (a container, a user's slice) has a limit closer; -1 when neither says.
qint64 availableBytes();

// MemAvailable from the text of /proc/meminfo, in bytes; -1 when it is missing or unreadable.
qint64 availableFromMeminfo(const QByteArray& meminfo);

// The room under a control group's limit, from the texts of its limit file and its usage file
// (v2: memory.max, memory.current; v1: memory.limit_in_bytes, memory.usage_in_bytes); -1 when
// there is no limit ("max", or v1's page-rounded largest number) or a text is unreadable.
qint64 roomUnderLimit(const QByteArray& limit, const QByteArray& usage);

// Pages at once for the wanted number, given the bytes still available and the pages already
// open: pages already open stay, one page is always allowed, and an unknown amount (-1) lets the
// wanted number stand.
int pagesAtOnce(int wanted, int open, qint64 available);

} // namespace MemoryBudget
