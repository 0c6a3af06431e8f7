#include "ReservedFile.h"

#include "FileErrorText.h"
#include "ReservationFolder.h"

#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

bool ReservedFile::open(bool allowUnnamed, QString* error) {
#ifdef O_TMPFILE
    if (allowUnnamed) {
        const int fd = ::openat(m_folder->fd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
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
    // A short hidden name, so that it never runs over the name length limit whatever the final name.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray candidate =
            ".part-" + QByteArray::number(QRandomGenerator::global()->generate64(), 16) + ".tmp";
        const int fd = ::openat(m_folder->fd, candidate.constData(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
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
    while (size > 0) {
        const ssize_t n = ::write(m_fd, data, static_cast<size_t>(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            *error = FileErrorText::describe(QStringLiteral("ファイルに書き込めません"), errno);
            return false;
        }
        data += n;
        size -= n;
        m_written += n;
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
    return true;
}

ReservedFile::Published ReservedFile::linkNamed(const QByteArray& name, int* errorNumber) {
    // link() fails with EEXIST on any existing entry, a dangling symbolic link included: nothing is
    // ever replaced or written through a link.
    if (!m_tempBytes.isEmpty()) {
        if (::linkat(m_folder->fd, m_tempBytes.constData(), m_folder->fd, name.constData(), 0) == 0)
            return Published::Done;
        *errorNumber = errno;
        return errno == EEXIST ? Published::NameTaken : Published::Failed;
    }
    // An unnamed file is linked through its descriptor: AT_EMPTY_PATH needs a privilege that
    // /proc/self/fd does not.
    if (::linkat(m_fd, "", m_folder->fd, name.constData(), AT_EMPTY_PATH) == 0)
        return Published::Done;
    if (errno == EEXIST) {
        *errorNumber = errno;
        return Published::NameTaken;
    }
    const QByteArray proc = "/proc/self/fd/" + QByteArray::number(m_fd);
    if (::linkat(AT_FDCWD, proc.constData(), m_folder->fd, name.constData(), AT_SYMLINK_FOLLOW) == 0)
        return Published::Done;
    *errorNumber = errno;
    return errno == EEXIST ? Published::NameTaken : Published::Failed;
}

ReservedFile::Published ReservedFile::publish(const QString& name, QString* error) {
    if (m_finished || m_fd < 0) {
        *error = QStringLiteral("ファイルは閉じられています");
        return Published::Failed;
    }
    int errorNumber = 0;
    const Published result = linkNamed(QFile::encodeName(name), &errorNumber);
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
