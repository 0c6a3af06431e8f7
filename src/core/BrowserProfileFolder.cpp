#include "BrowserProfileFolder.h"

#include <QStandardPaths>

namespace BrowserProfileFolder {

QString window() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/nepirika/browser");
}

} // namespace BrowserProfileFolder
