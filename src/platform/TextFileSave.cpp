#include "TextFileSave.h"

#include "FileErrorText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace TextFileSave {

QString write(const QString& path, const QByteArray& content, const QString& failure) {
    const auto failed = [&](int errorNumber) {
        const QString what = failure.isEmpty() ? QStringLiteral("「%1」に保存できません") : failure;
        return FileErrorText::describe(what.arg(QDir::toNativeSeparators(path)), errorNumber);
    };
    QSaveFile file(path);
    errno = 0;
    if (!file.open(QIODevice::WriteOnly))
        return failed(errno ? errno : EIO);
    if (file.write(content) != content.size() || !file.flush() || ::fsync(file.handle()) != 0) {
        const int error = errno ? errno : EIO;
        file.cancelWriting();
        return failed(error);
    }
    errno = 0;
    if (!file.commit())
        return failed(errno ? errno : EIO);
    syncFolderOf(path);
    return {};
}

void syncFolderOf(const QString& path) {
    const int fd = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(),
                          O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace TextFileSave
