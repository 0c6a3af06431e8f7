#include "AppIcon.h"

namespace AppIcon {

QIcon icon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/%1x%1/apps/nepirika.png").arg(size), QSize(size, size));
    return icon;
}

} // namespace AppIcon
