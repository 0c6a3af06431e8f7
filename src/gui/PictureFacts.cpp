#include "PictureFacts.h"

#include "ImageFacts.h"

#include <QStringList>

bool PictureFacts::hasSize() const {
    return ImageFacts::plausible(width, height);
}

QString PictureFacts::pixelText() const {
    return hasSize() ? QStringLiteral("%1×%2").arg(width).arg(height) : QString();
}

QString PictureFacts::byteText() const {
    return bytes >= 0 ? byteText(bytes) : QString();
}

QString PictureFacts::byteText(qint64 bytes) {
    if (bytes < 1024)
        return QStringLiteral("%1 B").arg(bytes);
    static const char* const units[] = {"KB", "MB", "GB", "TB"};
    double value = double(bytes) / 1024;
    int unit = 0;
    while (value >= 1024 && unit < 3) {
        value /= 1024;
        ++unit;
    }
    // One decimal below ten units ("1.2 MB"), none above ("34 KB").
    return QStringLiteral("%1 %2").arg(QString::number(value, 'f', value < 10 ? 1 : 0),
                                       QLatin1String(units[unit]));
}

QString PictureFacts::toolTipText() const {
    QStringList lines;
    if (!typeName.isEmpty())
        lines.append(QStringLiteral("種類: %1").arg(typeName));
    if (hasSize())
        lines.append(QStringLiteral("大きさ: %1").arg(pixelText()));
    if (bytes >= 0)
        lines.append(QStringLiteral("ファイルサイズ: %1").arg(byteText()));
    if (!problem.isEmpty())
        lines.append(state == State::Failed ? QStringLiteral("取得できません: %1").arg(problem) : problem);
    return lines.join(QLatin1Char('\n'));
}
