#include "UniqueFileReservation.h"

#include "FileErrorText.h"
#include "LocalFileName.h"
#include "ReservationFolder.h"
#include "ReservedFile.h"

#include <QFile>
#include <QMutexLocker>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// More files of one name than this in one folder is not a naming problem any more.
constexpr int MaxNumber = 9999;

} // namespace

UniqueFileReservation::UniqueFileReservation(QString folder)
    : m_folder(std::move(folder)) {}

UniqueFileReservation::~UniqueFileReservation() = default;

QString UniqueFileReservation::folder() const {
    return m_folder;
}

bool UniqueFileReservation::open(QString* error) {
    if (m_state)
        return true;
    const QByteArray path = QFile::encodeName(m_folder.isEmpty() ? QStringLiteral(".") : m_folder);
    const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        *error = FileErrorText::describe(QStringLiteral("フォルダを開けません (%1)").arg(m_folder), errno);
        return false;
    }
    m_state = std::make_shared<ReservationFolder>();
    m_state->path = m_folder;
    m_state->fd = fd;
    return true;
}

std::unique_ptr<ReservedFile> UniqueFileReservation::reserve(const QString& name, bool numberIfTaken,
                                                             QString* error) {
    if (!m_state && !open(error))
        return nullptr;
    if (!LocalFileNames::isPlainName(name)) {
        *error = QStringLiteral("ファイル名として使えない名前です: ") + name;
        return nullptr;
    }
    QMutexLocker lock(&m_state->mutex);
    for (int n = 1; n <= (numberIfTaken ? MaxNumber : 1); ++n) {
        const QString candidate = LocalFileNames::numbered(name, n);
        const QString key = ReservationFolder::folded(candidate);
        if (m_state->taken.contains(key))
            continue;
        const QByteArray bytes = QFile::encodeName(candidate);
        // O_EXCL fails on any existing entry, a symbolic link (even a dangling one) included.
        const int fd = ::openat(m_state->fd, bytes.constData(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            *error = FileErrorText::describe(QStringLiteral("ファイルを作成できません (%1)").arg(candidate),
                                             errno);
            return nullptr;
        }
        // The placeholder's identity is what later tells it from a file put there by someone else;
        // without it the download could never be given its name.
        struct stat st {};
        const int statError = ::fstat(fd, &st) == 0 ? 0 : errno;
        ::close(fd);
        if (statError != 0) {
            ::unlinkat(m_state->fd, bytes.constData(), 0);
            *error = FileErrorText::describe(QStringLiteral("ファイルを作成できません (%1)").arg(candidate),
                                             statError);
            return nullptr;
        }
        m_state->taken.insert(key);
        lock.unlock();
        std::unique_ptr<ReservedFile> file(new ReservedFile(m_state, candidate, st.st_dev, st.st_ino));
        if (!file->openTemporary(error))
            return nullptr; // the destructor removes the placeholder again
        return file;
    }
    *error = numberIfTaken ? QStringLiteral("空いている名前がありません: ") + name
                           : QStringLiteral("同じ名前のファイルがあります: ") + name;
    return nullptr;
}
