#include "FileErrorText.h"

#include <cerrno>
#include <cstring>

namespace FileErrorText {

QString reason(int errorNumber) {
    switch (errorNumber) {
    case ENOSPC:
        return QStringLiteral("ディスクの空きがありません");
    case EDQUOT:
        return QStringLiteral("ディスク容量の制限を超えました");
    case EFBIG:
        return QStringLiteral("ファイルが大きすぎます");
    case EACCES:
    case EPERM:
        return QStringLiteral("書き込む権限がありません");
    case EROFS:
        return QStringLiteral("読み取り専用の場所です");
    case ENAMETOOLONG:
        return QStringLiteral("名前が長すぎます");
    case ENOENT:
        return QStringLiteral("フォルダがありません");
    case ENOTDIR:
        return QStringLiteral("フォルダではありません");
    case EIO:
        return QStringLiteral("入出力エラーです");
    default:
        return QString::fromLocal8Bit(std::strerror(errorNumber));
    }
}

QString describe(const QString& what, int errorNumber) {
    return what + QStringLiteral(": ") + reason(errorNumber);
}

} // namespace FileErrorText
