#include "ReservationFolder.h"

#include <QFile>
#include <QRegularExpression>

#include <cerrno>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

ReservationFolder::~ReservationFolder() {
    for (const int folder : std::as_const(openFolders))
        ::close(folder);
    if (fd >= 0)
        ::close(fd);
}

bool ReservationFolder::open(const QString& folderPath) {
    const QByteArray bytes = QFile::encodeName(folderPath.isEmpty() ? QStringLiteral(".") : folderPath);
    fd = ::open(bytes.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    path = folderPath;
    return true;
}

int ReservationFolder::entryStatus(int dir, const QString& name) {
    struct stat st {};
    const QByteArray bytes = QFile::encodeName(name);
    return ::fstatat(dir, bytes.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
}

int ReservationFolder::folderFd(const QString& relative, QString* actual) {
    if (relative.isEmpty()) {
        if (actual)
            actual->clear();
        return fd;
    }
    if (const auto open = subfolders.constFind(relative); open != subfolders.cend()) {
        if (actual)
            *actual = open->path;
        return open->fd;
    }
    const qsizetype slash = relative.lastIndexOf(u'/');
    QString parentPath;
    const int parent = folderFd(slash < 0 ? QString() : relative.left(slash), &parentPath);
    if (parent < 0)
        return -1;
    const QString name = relative.mid(slash + 1);
    // A file, or a symbolic link, where the folder goes is left alone: the folder gets a number as
    // a file name would ("Gallery (2)").
    for (int n = 1; n <= 100; ++n) {
        const QString tried = numberedName(name, n);
        const QByteArray bytes = QFile::encodeName(tried);
        if (::mkdirat(parent, bytes.constData(), 0777) != 0 && errno != EEXIST)
            return -1;
        // O_NOFOLLOW: a symbolic link in the folder's place is refused (ELOOP), never followed.
        const int folder =
            ::openat(parent, bytes.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (folder < 0 && (errno == ENOTDIR || errno == ELOOP))
            continue;
        if (folder < 0)
            return -1;
        openFolders.append(folder);
        const Subfolder opened{folder, parentPath.isEmpty() ? tried : parentPath + u'/' + tried};
        subfolders.insert(relative, opened);
        subfolders.insert(opened.path, opened);
        if (actual)
            *actual = opened.path;
        return folder;
    }
    errno = EEXIST;
    return -1;
}

QString ReservationFolder::folded(const QString& name) {
    return name.toCaseFolded();
}

bool ReservationFolder::isTemporaryName(const QByteArray& name) {
    static const QRegularExpression pattern(QStringLiteral("^\\.part-[0-9a-f]{1,16}\\.tmp$"));
    return pattern.match(QString::fromLatin1(name)).hasMatch();
}

void ReservationFolder::removeAbandonedFiles() {
    if (fd < 0)
        return;
    const int listFd = ::openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listFd < 0)
        return;
    DIR* listing = ::fdopendir(listFd);
    if (!listing) {
        ::close(listFd);
        return;
    }
    Lock lock(*this);
    while (const dirent* entry = ::readdir(listing)) {
        const QByteArray name(entry->d_name);
        if (!isTemporaryName(name))
            continue;
        const int file = ::openat(fd, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (file < 0)
            continue;
        struct stat st {};
        // Only a file whose owner is gone can be locked; where locks are not to be had, nothing goes.
        if (::fstat(file, &st) == 0 && S_ISREG(st.st_mode) && ::flock(file, LOCK_EX | LOCK_NB) == 0)
            ::unlinkat(fd, name.constData(), 0);
        ::close(file);
    }
    ::closedir(listing);
}

ReservationFolder::Lock::Lock(ReservationFolder& folder)
    : m_folder(folder) {
    m_folder.mutex.lock();
    // Best effort: a file system without locks still has the lock of this batch.
    int status = -1;
    do
        status = ::flock(m_folder.fd, LOCK_EX);
    while (status != 0 && errno == EINTR);
    m_locked = status == 0;
}

ReservationFolder::Lock::~Lock() {
    if (m_locked)
        ::flock(m_folder.fd, LOCK_UN);
    m_folder.mutex.unlock();
}
