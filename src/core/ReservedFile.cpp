#include "ReservedFile.h"

#include "FileErrorText.h"
#include "ReservationFolder.h"

#include <QMutexLocker>
#include <QRandomGenerator>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

ReservedFile::ReservedFile(std::shared_ptr<ReservationFolder> folder, QString name, dev_t device, ino_t inode)
    : m_folder(std::move(folder))
    , m_name(std::move(name))
    , m_nameBytes(m_name.toUtf8())
    , m_device(device)
    , m_inode(inode) {}

ReservedFile::~ReservedFile() {
    discard();
}

QString ReservedFile::fileName() const {
    return m_name;
}

QString ReservedFile::path() const {
    QString folder = m_folder->path;
    if (!folder.endsWith(u'/'))
        folder += u'/';
    return folder + m_name;
}

qint64 ReservedFile::bytesWritten() const {
    return m_written;
}

bool ReservedFile::openTemporary(QString* error) {
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

bool ReservedFile::placeholderIsOurs() const {
    struct stat st {};
    if (::fstatat(m_folder->fd, m_nameBytes.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    return S_ISREG(st.st_mode) && st.st_dev == m_device && st.st_ino == m_inode && st.st_size == 0;
}

void ReservedFile::closeTemporary() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

bool ReservedFile::commit(QString* error) {
    if (m_finished || m_fd < 0) {
        *error = QStringLiteral("ファイルは閉じられています");
        return false;
    }
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0) {
        *error = FileErrorText::describe(QStringLiteral("ファイルに書き込めません"), errno);
        discard();
        return false;
    }
    // The placeholder is overwritten by the rename; make sure it is still the empty file created
    // for this download and not something put there since.
    if (!placeholderIsOurs()) {
        *error = QStringLiteral("保存先の名前が別のファイルに使われました: ") + m_name;
        ::unlinkat(m_folder->fd, m_tempBytes.constData(), 0);
        m_finished = true;
        QMutexLocker lock(&m_folder->mutex);
        m_folder->taken.remove(ReservationFolder::folded(m_name));
        return false;
    }
    if (::renameat(m_folder->fd, m_tempBytes.constData(), m_folder->fd, m_nameBytes.constData()) != 0) {
        *error = FileErrorText::describe(QStringLiteral("ファイル名を付けられません"), errno);
        discard();
        return false;
    }
    m_finished = true;
    return true;
}

void ReservedFile::discard() {
    if (m_finished)
        return;
    m_finished = true;
    closeTemporary();
    if (!m_tempBytes.isEmpty())
        ::unlinkat(m_folder->fd, m_tempBytes.constData(), 0);
    if (placeholderIsOurs())
        ::unlinkat(m_folder->fd, m_nameBytes.constData(), 0);
    QMutexLocker lock(&m_folder->mutex);
    m_folder->taken.remove(ReservationFolder::folded(m_name));
}
