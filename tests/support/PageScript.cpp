#include "PageScript.h"

#include <QTest>
#include <QWebEnginePage>

#include <memory>

QVariant evaluateInPage(QWebEnginePage* page, const QString& script, quint32 world, int timeoutMs) {
    auto value = std::make_shared<QVariant>();
    auto done = std::make_shared<bool>(false);
    page->runJavaScript(script, world, [value, done](const QVariant& v) {
        *value = v;
        *done = true;
    });
    if (!QTest::qWaitFor([done]() { return *done; }, timeoutMs))
        return {};
    return *value;
}
