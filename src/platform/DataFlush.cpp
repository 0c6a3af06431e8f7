#include "DataFlush.h"

#include "FileErrorText.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

// From this many files on, one syncfs is cheaper than an fdatasync each.
constexpr size_t FilesForWholeSync = 4;

} // namespace

namespace DataFlush {

int duplicate(int fd) {
    return fd < 0 ? -1 : ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
}

QString flush(const std::vector<int>& descriptors) {
    int failure = 0;
    size_t open = 0;
    int any = -1;
    for (int fd : descriptors) {
        if (fd >= 0) {
            ++open;
            any = fd;
        }
    }
    if (open >= FilesForWholeSync) {
        if (::syncfs(any) != 0)
            failure = errno;
    }
    for (int fd : descriptors) {
        if (fd < 0)
            continue;
        if (open < FilesForWholeSync && ::fdatasync(fd) != 0 && failure == 0 && errno != EINVAL)
            failure = errno;
        ::close(fd);
    }
    if (failure == 0)
        return {};
    return FileErrorText::describe(QStringLiteral("ファイルをディスクに書き込めません"), failure);
}

} // namespace DataFlush
