#include "WebEngineSetup.h"

#include "DocumentHandoff.h"

#include <QCoreApplication>
#include <QtGlobal>

#include <cstdio>
#include <unistd.h>

namespace WebEngineSetup {

void prepareBeforeApplication() {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    DocumentHandoff::registerScheme();
    if (::geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX")) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
        std::fputs("nepirika: running as root, so the browser engine's sandbox is turned off\n", stderr);
    }
}

QString prepareWindowBeforeApplication() {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    DocumentHandoff::registerScheme();
    if (::geteuid() != 0 || qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
        return {};
    return QStringLiteral(
        "管理者 (root) として実行されているため、ブラウザエンジンのサンドボックスが使えません。"
        "一般ユーザーで起動してください。サンドボックスなしで起動するときは、"
        "環境変数 QTWEBENGINE_DISABLE_SANDBOX=1 を設定してください。");
}

} // namespace WebEngineSetup
