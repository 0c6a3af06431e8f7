#include "WebEngineSetup.h"

#include "DocumentHandoff.h"
#include "ProcessFacts.h"

#include <QCoreApplication>
#include <QtGlobal>

#include <cstdio>

namespace WebEngineSetup {

namespace {

// The pages are drawn by Qt Quick's software renderer, in the window as in `nepirika harvest`
// (where the offscreen platform has no OpenGL): a hidden page's view on a desktop platform is never
// exposed, so an OpenGL scene would draw it one or two frames and then no more, and a page that adds
// content as it is scrolled (its intersection observers and animation frames wait for frames) would
// never grow. A renderer the user chose stays.
void chooseSceneRenderer() {
    if (!qEnvironmentVariableIsSet("QT_QUICK_BACKEND") && !qEnvironmentVariableIsSet("QSG_RHI_BACKEND"))
        qputenv("QT_QUICK_BACKEND", "software");
}

} // namespace

void prepareBeforeApplication() {
    chooseSceneRenderer();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    DocumentHandoff::registerScheme();
    if (ProcessFacts::runsAsAdministrator() && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX")) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
        std::fputs("nepirika: running as root, so the browser engine's sandbox is turned off\n", stderr);
    }
}

QString prepareWindowBeforeApplication() {
    chooseSceneRenderer();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    DocumentHandoff::registerScheme();
    if (!ProcessFacts::runsAsAdministrator() || qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
        return {};
    return QStringLiteral(
        "管理者 (root) として実行されているため、ブラウザエンジンのサンドボックスが使えません。"
        "一般ユーザーで起動してください。サンドボックスなしで起動するときは、"
        "環境変数 QTWEBENGINE_DISABLE_SANDBOX=1 を設定してください。");
}

} // namespace WebEngineSetup
