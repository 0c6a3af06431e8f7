#include "HiddenWebPage.h"

#include "AddressCollector.h"
#include "AddressSchemes.h"

#include <QCoreApplication>
#include <QUuid>
#include <QWebEngineFileSystemAccessRequest>
#include <QWebEngineFullScreenRequest>
#include <QWebEngineRegisterProtocolHandlerRequest>
#include <QWebEngineSettings>

HiddenWebPage::HiddenWebPage(QWebEngineProfile* profile, QObject* parent)
    : QWebEnginePage(profile, parent) {
    QWebEngineSettings* s = settings();
    s->setAttribute(QWebEngineSettings::AutoLoadImages, false);
    s->setAttribute(QWebEngineSettings::AutoLoadIconsForPage, false);
    s->setAttribute(QWebEngineSettings::TouchIconsEnabled, false);
    s->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    s->setAttribute(QWebEngineSettings::PdfViewerEnabled, false);
    s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    s->setAttribute(QWebEngineSettings::JavascriptCanAccessClipboard, false);
    s->setAttribute(QWebEngineSettings::JavascriptCanPaste, false);
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    s->setAttribute(QWebEngineSettings::AllowWindowActivationFromJavaScript, false);
    s->setAttribute(QWebEngineSettings::FullScreenSupportEnabled, false);
    s->setAttribute(QWebEngineSettings::ScreenCaptureEnabled, false);
    s->setAttribute(QWebEngineSettings::WebGLEnabled, false);
    s->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, true);
    s->setAttribute(QWebEngineSettings::HyperlinkAuditingEnabled, false);
    s->setAttribute(QWebEngineSettings::DnsPrefetchEnabled, false);
    s->setAttribute(QWebEngineSettings::NavigateOnDropEnabled, false);
    s->setAttribute(QWebEngineSettings::FocusOnNavigationEnabled, false);
    s->setUnknownUrlSchemePolicy(QWebEngineSettings::DisallowUnknownUrlSchemes);
    setAudioMuted(true);
    // In every frame from its start, so that a frame of another origin can answer a collection.
    AddressCollector::install(this);

    // Nothing the page asks for is granted.
    connect(this, &QWebEnginePage::featurePermissionRequested, this,
            [this](const QUrl& origin, QWebEnginePage::Feature feature) {
                setFeaturePermission(origin, feature, QWebEnginePage::PermissionDeniedByUser);
            });
    connect(this, &QWebEnginePage::fullScreenRequested, this,
            [](QWebEngineFullScreenRequest request) { request.reject(); });
    connect(this, &QWebEnginePage::fileSystemAccessRequested, this,
            [](QWebEngineFileSystemAccessRequest request) { request.reject(); });
    connect(this, &QWebEnginePage::registerProtocolHandlerRequested, this,
            [](QWebEngineRegisterProtocolHandlerRequest request) { request.reject(); });
}

bool HiddenWebPage::isAllowedPageNavigation(const QUrl& url) {
    return AddressSchemes::isPageNavigation(url);
}

QWebEnginePage* HiddenWebPage::createWindow(WebWindowType) {
    return nullptr;
}

void HiddenWebPage::javaScriptAlert(const QUrl&, const QString&) {}

bool HiddenWebPage::javaScriptConfirm(const QUrl&, const QString& msg) {
    // The engine asks its "leave this page?" question through here, in its own words: the answer is
    // always "leave", so that no page can hold the next navigation back. The page's own confirm()
    // questions are declined.
    return msg == unloadQuestion();
}

QString HiddenWebPage::unloadQuestion() {
    return QCoreApplication::translate(
        "QWebEnginePage",
        "Are you sure you want to leave this page? Changes that you made may not be saved.");
}

bool HiddenWebPage::javaScriptPrompt(const QUrl&, const QString&, const QString&, QString*) {
    return false;
}

QString HiddenWebPage::frameDrawnMessage() {
    // Not to be guessed by a page that would end the wait early.
    static const QString message =
        QStringLiteral("nepirika-frame-") + QUuid::createUuid().toString(QUuid::Id128);
    return message;
}

void HiddenWebPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString& message, int,
                                             const QString&) {
    // The pages' console output is of no use here and would only clutter standard error; the
    // program's own script world says when a page has been drawn.
    if (message == frameDrawnMessage())
        Q_EMIT frameDrawn();
}

QStringList HiddenWebPage::chooseFiles(FileSelectionMode, const QStringList&, const QStringList&) {
    return {};
}

bool HiddenWebPage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) {
    // An address given to Navigate is the user's choice; the page itself stays on the web.
    if (type == NavigationTypeTyped) {
        if (isMainFrame)
            m_loaded = url;
        return true;
    }
    // The base class asks the receivers of navigationRequested (the banner refuses what the user
    // clicks, and opens it elsewhere).
    const bool accepted =
        isAllowedPageNavigation(url) && QWebEnginePage::acceptNavigationRequest(url, type, isMainFrame);
    if (accepted && isMainFrame && type != NavigationTypeReload &&
        url.adjusted(QUrl::RemoveFragment) != m_loaded.adjusted(QUrl::RemoveFragment))
        m_moved = url;
    if (!accepted && isMainFrame) {
        if (m_refused.size() >= 16)
            m_refused.removeFirst();
        m_refused.append(url);
    }
    return accepted;
}

bool HiddenWebPage::takeRefusedMoveEnd(const QUrl& url) {
    return m_refused.removeOne(url);
}

void HiddenWebPage::forgetRefusedMoves() {
    m_refused.clear();
    forgetMove();
}

void HiddenWebPage::forgetMove() {
    m_moved.clear();
}

QUrl HiddenWebPage::lastMove() const {
    return m_moved;
}
