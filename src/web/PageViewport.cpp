#include "PageViewport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInfo>
#include <QWebEngineUrlRequestInterceptor>

namespace {

// The tools page loads its bare document and nothing of the application around it: no script of
// the tools runs, and none of them asks the inspected page for anything.
class ToolsOnlyDocument : public QWebEngineUrlRequestInterceptor {
public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;
    void interceptRequest(QWebEngineUrlRequestInfo& info) override {
        if (info.resourceType() != QWebEngineUrlRequestInfo::ResourceTypeMainFrame)
            info.block(true);
    }
};

// The tools page says nothing on standard error and shows no dialog.
class QuietToolsPage : public QWebEnginePage {
public:
    using QWebEnginePage::QWebEnginePage;

protected:
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int,
                                  const QString&) override {}
    void javaScriptAlert(const QUrl&, const QString&) override {}
    bool javaScriptConfirm(const QUrl&, const QString&) override { return false; }
    bool javaScriptPrompt(const QUrl&, const QString&, const QString&, QString*) override { return false; }
    QWebEnginePage* createWindow(WebWindowType) override { return nullptr; }
};

} // namespace

PageViewport::PageViewport(QWebEnginePage* page)
    : QObject(page)
    , m_page(page) {
    m_tools = new QuietToolsPage(page->profile(), this);
    m_tools->setUrlRequestInterceptor(new ToolsOnlyDocument(m_tools));
    m_tools->settings()->setAttribute(QWebEngineSettings::AutoLoadImages, false);
    connect(m_tools, &QWebEnginePage::loadFinished, this, [this](bool ok) {
        if (m_settled)
            return;
        if (!ok) {
            settle();
            return;
        }
        // The tools' document holds the host object that passes protocol messages to the engine.
        const QString message =
            QStringLiteral(R"({"id":1,"method":"Emulation.setDeviceMetricsOverride","params":)"
                           R"({"width":%1,"height":%2,"deviceScaleFactor":1,"mobile":false}})")
                .arg(Width)
                .arg(Height);
        const QString send =
            QStringLiteral(
                "(function () { try { window.InspectorFrontendAPI = { dispatchMessage: function () {},"
                " dispatchMessageChunk: function () {} }; DevToolsHost.sendMessageToEmbedder(JSON.stringify("
                "{ id: 1, method: 'dispatchProtocolMessage', params: [%1] })); return true; }"
                " catch (e) { return false; } })()")
                .arg(QString::fromUtf8(QJsonDocument(QJsonArray{message}).toJson(QJsonDocument::Compact))
                         .mid(1)
                         .chopped(1));
        m_tools->runJavaScript(send, QWebEngineScript::MainWorld,
                               [self = QPointer<PageViewport>(this)](const QVariant&) {
                                   if (self)
                                       self->settle();
                               });
    });
    // A page that no view shows counts as hidden; a shown one runs its frames.
    connect(page, &QWebEnginePage::loadStarted, this, [this]() {
        if (m_page && !m_page->isVisible())
            m_page->setVisible(true);
    });
    QTimer::singleShot(ReadyWithinMs, this, &PageViewport::settle);
    page->setDevToolsPage(m_tools);
}

bool PageViewport::isSettled() const {
    return m_settled;
}

void PageViewport::whenSettled(std::function<void()> done) {
    if (m_settled) {
        done();
        return;
    }
    m_done = std::move(done);
}

void PageViewport::settle() {
    if (m_settled)
        return;
    m_settled = true;
    if (auto done = std::exchange(m_done, nullptr))
        done();
}
