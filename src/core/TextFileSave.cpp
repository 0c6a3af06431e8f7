#include "TextFileSave.h"

#include "FileErrorText.h"

#include <QDir>
#include <QSaveFile>

#include <cerrno>

namespace TextFileSave {

QString write(const QString& path, const QByteArray& content) {
    const auto failure = [&path](int errorNumber) {
        return FileErrorText::describe(
            QStringLiteral("「%1」に保存できません").arg(QDir::toNativeSeparators(path)), errorNumber);
    };
    QSaveFile file(path);
    errno = 0;
    if (!file.open(QIODevice::WriteOnly))
        return failure(errno ? errno : EIO);
    if (file.write(content) != content.size()) {
        const int error = errno ? errno : EIO;
        file.cancelWriting();
        return failure(error);
    }
    errno = 0;
    if (!file.commit())
        return failure(errno ? errno : EIO);
    return {};
}

} // namespace TextFileSave
