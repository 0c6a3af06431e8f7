#include "StandardErrorPipe.h"

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

namespace StandardErrorPipe {

bool redirect(int* readEnd, int* realError) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return false;
    const int saved = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    if (saved < 0) {
        ::close(ends[0]);
        ::close(ends[1]);
        return false;
    }
    std::fflush(stderr);
    // The new standard error is inherited by the helper processes (dup2 clears close-on-exec).
    if (::dup2(ends[1], STDERR_FILENO) < 0) {
        ::close(ends[0]);
        ::close(ends[1]);
        ::close(saved);
        return false;
    }
    ::close(ends[1]);
    *readEnd = ends[0];
    *realError = saved;
    return true;
}

void restore(int realError) {
    ::dup2(realError, STDERR_FILENO);
}

qint64 read(int fd, char* buffer, qint64 size) {
    for (;;) {
        const ssize_t n = ::read(fd, buffer, static_cast<size_t>(size));
        if (n < 0 && errno == EINTR)
            continue;
        return n;
    }
}

void writeAll(int fd, const QByteArray& out) {
    qsizetype written = 0;
    while (written < out.size()) {
        const ssize_t n = ::write(fd, out.constData() + written, static_cast<size_t>(out.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        written += n;
    }
}

bool writeToStandardError(const QByteArray& out) {
    return ::write(STDERR_FILENO, out.constData(), static_cast<size_t>(out.size())) == out.size();
}

} // namespace StandardErrorPipe
