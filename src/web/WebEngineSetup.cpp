#include "WebEngineSetup.h"

#include <QCoreApplication>
#include <QtGlobal>

#include <cstdio>
#include <unistd.h>

namespace WebEngineSetup {

void prepareBeforeApplication() {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    if (::geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX")) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
        std::fputs("nepirika: running as root, so the browser engine's sandbox is turned off\n", stderr);
    }
}

} // namespace WebEngineSetup
