#include "BrowserIdentity.h"

namespace BrowserIdentity {

QByteArray userAgent() {
    // The engine's default for this platform, as Chromium writes it.
    return QByteArrayLiteral("Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) "
                             "QtWebEngine/" NEPIRIKA_WEBENGINE_VERSION " Chrome/" NEPIRIKA_CHROMIUM_VERSION
                             " Safari/537.36");
}

} // namespace BrowserIdentity
