#include "ReservedFile.h"

#include "FileErrorText.h"
#include "ReservationFolder.h"

#include <QFile>
#include <QMutexLocker>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Data written since the last start of writeback after which the disk is asked to write it.
constexpr qint64 WritebackBytes = 1024 * 1024;

// What linkat says on a file system that has no hard links (FAT, exFAT, many FUSE and network
// mounts), as opposed to a real failure.
bool meansNoHardLinks(int error) {
    return error == EPERM || error == EOPNOTSUPP || error == ENOSYS || error == EMLINK || error == EXDEV;
}

// What renameat2 says where the file system, or the kernel, cannot refuse to replace.
bool meansNoExclusiveRename(int error) {
    return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}

} // namespace

ReservedFile::ReservedFile(std::shared_ptr<ReservationFolder> folder)
    : m_folder(std::move(folder)) {}

ReservedFile::~ReservedFile() {
    discard();
}

QString ReservedFile::fileName() const {
    return m_name;
}

QString ReservedFile::path() const {
    if (m_name.isEmpty())
        return {};
    QString folder = m_folder->path;
    if (!folder.endsWith(u'/'))
        folder += u'/';
    return folder + m_name;
}

qint64 ReservedFile::bytesWritten() const {
    return m_written;
}

bool ReservedFile::isUnnamed() const {
    return m_fd >= 0 && m_tempBytes.isEmpty();
}

int ReservedFile::descriptor() const {
    return m_finished ? -1 : m_fd;
}

bool ReservedFile::openPartial(const QString& name, QString* error) {
    const QByteArray bytes = QFile::encodeName(name);
    const int fd = ::openat(m_folder->fd, bytes.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    struct stat st {};
    int reason = fd < 0 ? errno : 0;
    if (fd >= 0 && (::fstat(fd, &st) != 0 || ::lseek(fd, 0, SEEK_END) < 0))
        reason = errno;
    else if (fd >= 0 && !S_ISREG(st.st_mode))
        reason = EINVAL;
    if (reason != 0) {
        if (fd >= 0)
            ::close(fd);
        *error = FileErrorText::describe(QStringLiteral("一時ファイルを作成できません"), reason);
        return false;
    }
    m_fd = fd;
    m_tempBytes = bytes;
    m_written = st.st_size;
    m_writebackFrom = st.st_size;
    return true;
}

bool ReservedFile::open(bool allowUnnamed, QString* error) {
#ifdef O_TMPFILE
    if (allowUnnamed && !m_folder->noHardLinks) {
        const int fd = ::openat(m_folder->fd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
        if (fd >= 0) {
            m_fd = fd;
            return true;
        }
        // Only a file system without O_TMPFILE falls back; anything else is a real failure.
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT) {
            *error = FileErrorText::describe(QStringLiteral("一時ファイルを作成できません"), errno);
            return false;
        }
    }
#else
    Q_UNUSED(allowUnnamed);
#endif
    return openTemporary(error);
}

bool ReservedFile::openTemporary(QString* error) {
    // Made under the folder's lock and locked at once, so that another batch that cleans the folder
    // never takes it for the leftover of a killed transfer.
    ReservationFolder::Lock lock(*m_folder);
    // A short hidden name, so that it never runs over the name length limit whatever the final name.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray candidate =
            ".part-" + QByteArray::number(QRandomGenerator::global()->generate64(), 16) + ".tmp";
        const int fd = ::openat(m_folder->fd, candidate.constData(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::flock(fd, LOCK_EX | LOCK_NB);
            m_fd = fd;
            m_tempBytes = candidate;
            return true;
        }
        if (errno != EEXIST) {
            *error = FileErrorText::describe(QStringLiteral("一時ファイルを作成できません"), errno);
            return false;
        }
    }
    *error = QStringLiteral("一時ファイルを作成できません");
    return false;
}

bool ReservedFile::write(const char* data, qint64 size, QString* error) {
    if (m_fd < 0) {
        *error = QStringLiteral("ファイルは閉じられています");
        return false;
    }
    int errorNumber = 0;
    if (!writeAll(data, size, &errorNumber)) {
        *error = FileErrorText::describe(QStringLiteral("ファイルに書き込めません"), errorNumber);
        return false;
    }
    m_written += size;
    // The disk starts writing what has come while more arrives, so that the flush before the file
    // gets its name finds little left to do.
    if (m_written - m_writebackFrom >= WritebackBytes) {
        ::sync_file_range(m_fd, m_writebackFrom, m_written - m_writebackFrom, SYNC_FILE_RANGE_WRITE);
        m_writebackFrom = m_written;
    }
    return true;
}

bool ReservedFile::writeAll(const char* data, qint64 size, int* errorNumber) {
    while (size > 0) {
        const ssize_t n = ::write(m_fd, data, static_cast<size_t>(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            *errorNumber = errno;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

bool ReservedFile::truncate(QString* error) {
    if (m_fd < 0) {
        *error = QStringLiteral("ファイルは閉じられています");
        return false;
    }
    if (::ftruncate(m_fd, 0) != 0 || ::lseek(m_fd, 0, SEEK_SET) != 0) {
        *error = FileErrorText::describe(QStringLiteral("ファイルに書き込めません"), errno);
        return false;
    }
    m_written = 0;
    m_writebackFrom = 0;
    return true;
}

ReservedFile::Published ReservedFile::placeNamed(int target, const QByteArray& name, int* errorNumber) {
    if (!m_folder->noHardLinks) {
        const Published linked = linkNamed(target, name, errorNumber);
        if (linked != Published::Failed || !meansNoHardLinks(*errorNumber))
            return linked;
        m_folder->noHardLinks = true;
    }
    // No hard links here: the data moves into a hidden temporary file (when it is not in one
    // already) that is then renamed, never over an existing entry.
    if (m_tempBytes.isEmpty()) {
        if (!moveIntoTemporary(errorNumber))
            return Published::Failed;
    }
    return renameNamed(target, name, errorNumber);
}

ReservedFile::Published ReservedFile::renameNamed(int target, const QByteArray& name, int* errorNumber) {
    const int dir = m_folder->fd;
    if (!m_folder->noExclusiveRename) {
        if (::renameat2(dir, m_tempBytes.constData(), target, name.constData(), RENAME_NOREPLACE) == 0) {
            m_tempBytes.clear(); // the temporary file is the published one now
            return Published::Done;
        }
        *errorNumber = errno;
        if (errno == EEXIST)
            return Published::NameTaken;
        if (!meansNoExclusiveRename(errno))
            return Published::Failed;
        m_folder->noExclusiveRename = true;
    }
    // Nothing in the file system refuses to replace: the name is checked and taken under the lock
    // that every batch of this program holds while it does the same in this folder.
    ReservationFolder::Lock lock(*m_folder);
    struct stat st {};
    if (::fstatat(target, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        *errorNumber = EEXIST;
        return Published::NameTaken;
    }
    if (errno != ENOENT) {
        *errorNumber = errno;
        return Published::Failed;
    }
    if (::renameat(dir, m_tempBytes.constData(), target, name.constData()) == 0) {
        m_tempBytes.clear();
        return Published::Done;
    }
    *errorNumber = errno;
    return Published::Failed;
}

bool ReservedFile::moveIntoTemporary(int* errorNumber) {
    const int unnamed = m_fd;
    m_fd = -1;
    QString ignored;
    if (!openTemporary(&ignored)) {
        *errorNumber = errno != 0 ? errno : EIO;
        m_fd = unnamed;
        return false;
    }
    char buffer[256 * 1024];
    off_t at = 0;
    while (true) {
        const ssize_t n = ::pread(unnamed, buffer, sizeof buffer, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || (n > 0 && !writeAll(buffer, n, errorNumber))) {
            if (n < 0)
                *errorNumber = errno;
            ::unlinkat(m_folder->fd, m_tempBytes.constData(), 0);
            ::close(m_fd);
            m_tempBytes.clear();
            m_fd = unnamed;
            return false;
        }
        if (n == 0)
            break;
        at += n;
    }
    ::close(unnamed);
    return true;
}

ReservedFile::Published ReservedFile::linkNamed(int target, const QByteArray& name, int* errorNumber) {
    // link() fails with EEXIST on any existing entry, a dangling symbolic link included: nothing is
    // ever replaced or written through a link.
    if (!m_tempBytes.isEmpty()) {
        if (::linkat(m_folder->fd, m_tempBytes.constData(), target, name.constData(), 0) == 0)
            return Published::Done;
        *errorNumber = errno;
        return errno == EEXIST ? Published::NameTaken : Published::Failed;
    }
    // An unnamed file is linked through its descriptor: AT_EMPTY_PATH needs a privilege that
    // /proc/self/fd does not.
    if (::linkat(m_fd, "", target, name.constData(), AT_EMPTY_PATH) == 0)
        return Published::Done;
    if (errno == EEXIST) {
        *errorNumber = errno;
        return Published::NameTaken;
    }
    const QByteArray proc = "/proc/self/fd/" + QByteArray::number(m_fd);
    if (::linkat(AT_FDCWD, proc.constData(), target, name.constData(), AT_SYMLINK_FOLLOW) == 0)
        return Published::Done;
    // Without /proc (a container, a chroot) the unnamed file cannot be linked at all: the same as
    // a file system without hard links, so the data moves into a named temporary file instead.
    *errorNumber = errno == ENOENT ? EOPNOTSUPP : errno;
    return errno == EEXIST ? Published::NameTaken : Published::Failed;
}

ReservedFile::Published ReservedFile::publish(const QString& name, QString* error) {
    if (m_finished || m_fd < 0) {
        *error = QStringLiteral("ファイルは閉じられています");
        return Published::Failed;
    }
    int errorNumber = 0;
    // A name with folders ("a/b.jpg", see UniqueFileReservation::claim) goes into its folder, opened
    // when the name was claimed.
    const qsizetype slash = name.lastIndexOf(u'/');
    int target = m_folder->fd;
    if (slash >= 0) {
        QMutexLocker lock(&m_folder->mutex);
        target = m_folder->folderFd(name.left(slash));
        errorNumber = errno;
    }
    const Published result = target < 0
                                 ? Published::Failed
                                 : placeNamed(target, QFile::encodeName(name.mid(slash + 1)), &errorNumber);
    if (result == Published::NameTaken) {
        *error = QStringLiteral("同じ名前のファイルがあります: ") + name;
        return result;
    }
    if (result == Published::Failed) {
        *error =
            FileErrorText::describe(QStringLiteral("ファイル名を付けられません (%1)").arg(name), errorNumber);
        return result;
    }
    m_name = name;
    m_finished = true;
    // A temporary file that was linked goes (one that was renamed has no temporary name any more).
    if (!m_tempBytes.isEmpty())
        ::unlinkat(m_folder->fd, m_tempBytes.constData(), 0);
    ::close(m_fd);
    m_fd = -1;
    return result;
}

void ReservedFile::discard() {
    if (m_finished)
        return;
    m_finished = true;
    if (!m_tempBytes.isEmpty())
        ::unlinkat(m_folder->fd, m_tempBytes.constData(), 0);
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}
