#include "UniqueFileReservation.h"

#include "FileErrorText.h"
#include "LocalFileName.h"
#include "ReservationFolder.h"
#include "ReservedFile.h"

#include <QFile>
#include <QMutexLocker>

#include <cerrno>

namespace {

// More files of one name than this in one folder is not a naming problem any more.
constexpr int MaxNumber = 9999;

// Names that other programs may take between a claim and its publication before we give up.
constexpr int MaxPublishAttempts = 100;

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
    auto state = std::make_shared<ReservationFolder>();
    if (!state->open(m_folder)) {
        *error = FileErrorText::describe(QStringLiteral("フォルダを開けません (%1)").arg(m_folder), errno);
        return false;
    }
    state->numberedName = &LocalFileNames::numbered;
    m_state = std::move(state);
    m_state->removeAbandonedFiles();
    return true;
}

std::unique_ptr<ReservedFile> UniqueFileReservation::createFile(QString* error, bool allowUnnamed) {
    if (!m_state && !open(error))
        return nullptr;
    std::unique_ptr<ReservedFile> file(new ReservedFile(m_state));
    if (!file->open(allowUnnamed, error))
        return nullptr;
    return file;
}

std::unique_ptr<ReservedFile> UniqueFileReservation::openPartial(const QString& name, QString* error) {
    if (!m_state && !open(error))
        return nullptr;
    std::unique_ptr<ReservedFile> file(new ReservedFile(m_state));
    if (!file->openPartial(name, error))
        return nullptr;
    return file;
}

QString UniqueFileReservation::claim(const QString& name, bool numberIfTaken, QString* error) {
    if (!m_state && !open(error))
        return {};
    if (!LocalFileNames::isRelativePath(name)) {
        *error = QStringLiteral("ファイル名として使えない名前です: ") + name;
        return {};
    }
    // A name with folders: the folders are made (never through a symbolic link), the file name is
    // numbered inside the last one.
    const qsizetype slash = name.lastIndexOf(u'/');
    const QString fileName = name.mid(slash + 1);
    QMutexLocker lock(&m_state->mutex);
    QString folders;
    const int dir = m_state->folderFd(slash < 0 ? QString() : name.left(slash), &folders);
    if (dir < 0) {
        *error = FileErrorText::describe(
            QStringLiteral("フォルダを作成できません (%1)").arg(name.left(slash)), errno);
        return {};
    }
    if (!folders.isEmpty())
        folders += u'/';
    for (int n = 1; n <= (numberIfTaken ? MaxNumber : 1); ++n) {
        const QString leaf = LocalFileNames::numbered(fileName, n);
        const QString candidate = folders + leaf;
        const QString key = ReservationFolder::folded(candidate);
        if (m_state->taken.contains(key))
            continue;
        // Any entry counts as taken, a dangling symbolic link included.
        const int status = ReservationFolder::entryStatus(dir, leaf);
        if (status == 0)
            continue;
        if (status != ENOENT) {
            *error = FileErrorText::describe(QStringLiteral("ファイルを作成できません (%1)").arg(candidate),
                                             status);
            return {};
        }
        m_state->taken.insert(key);
        return candidate;
    }
    *error = numberIfTaken ? QStringLiteral("空いている名前がありません: ") + name
                           : QStringLiteral("同じ名前のファイルがあります: ") + name;
    return {};
}

void UniqueFileReservation::release(const QString& claimed) {
    if (!m_state || claimed.isEmpty())
        return;
    QMutexLocker lock(&m_state->mutex);
    m_state->taken.remove(ReservationFolder::folded(claimed));
}

bool UniqueFileReservation::publish(ReservedFile& file, const QString& base, const QString& claimed,
                                    bool numberIfTaken, QString* error) {
    QString name = claimed;
    for (int attempt = 0; attempt < MaxPublishAttempts; ++attempt) {
        switch (file.publish(name, error)) {
        case ReservedFile::Published::Done:
            return true;
        case ReservedFile::Published::Failed:
            release(name);
            return false;
        case ReservedFile::Published::NameTaken:
            // Someone else's file appeared under the name after it was claimed: keep ours claimed so
            // that no later item of the batch takes it, and move on.
            if (!numberIfTaken) {
                release(name);
                return false;
            }
            name = claim(base, true, error);
            if (name.isEmpty())
                return false;
            break;
        }
    }
    release(name);
    *error = QStringLiteral("空いている名前がありません: ") + base;
    return false;
}
