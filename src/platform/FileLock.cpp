#include "FileLock.h"

#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

FileLock::FileLock(const QString& path)
    : m_path(QFile::encodeName(path)) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        m_fd = ::open(m_path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (m_fd < 0)
            return;
        if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(m_fd);
            m_fd = -1;
            return;
        }
        struct stat held {};
        struct stat named {};
        if (::fstat(m_fd, &held) == 0 && ::stat(m_path.constData(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino)
            return;
        ::close(m_fd);
        m_fd = -1;
    }
}

FileLock::~FileLock() {
    if (m_fd < 0)
        return;
    // Removed while still held, so that no one takes the lock of a file that is about to go.
    ::unlink(m_path.constData());
    ::close(m_fd);
}

bool FileLock::held() const {
    return m_fd >= 0;
}
