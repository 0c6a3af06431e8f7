#pragma once

#include <QByteArray>

// Standard error through a pipe that the process reads itself (EngineNoise's line filter): the
// process's own writes and those of the child processes that inherit it go into the pipe, and the
// real standard error stays reachable beside it.
namespace StandardErrorPipe {

// Makes standard error the writing end of a new pipe (inherited by child processes started later).
// readEnd gets the reading end and realError a copy of the standard error before (both closed on
// exec). False, with nothing changed, when the system refuses.
bool redirect(int* readEnd, int* realError);

// Gives standard error back to realError (from redirect). realError stays open.
void restore(int realError);

// Up to size bytes from fd, waiting for them; 0 at the end of the pipe, -1 on failure.
qint64 read(int fd, char* buffer, qint64 size);

// All of out to fd, as far as it takes it.
void writeAll(int fd, const QByteArray& out);

// out to the current standard error in one write; true when all of it went.
bool writeToStandardError(const QByteArray& out);

} // namespace StandardErrorPipe
