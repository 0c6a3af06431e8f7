#include "DocumentOnlyInterceptor.h"

#include "DocumentHandoff.h"

#include <QWebEngineProfile>
#include <QWebEngineSettings>

DocumentOnlyInterceptor::DocumentOnlyInterceptor(QObject* parent)
    : QWebEngineUrlRequestInterceptor(parent) {}

void DocumentOnlyInterceptor::apply(QWebEngineProfile* profile, bool documentsOnly) {
    if (!profile)
        return;
    auto* interceptor = profile->findChild<DocumentOnlyInterceptor*>(QString(), Qt::FindDirectChildrenOnly);
    if (!interceptor) {
        if (!documentsOnly)
            return;
        interceptor = new DocumentOnlyInterceptor(profile);
        profile->setUrlRequestInterceptor(interceptor);
    }
    interceptor->setActive(documentsOnly);
    // The pages' own scripts (the main world); the application's script world is not affected.
    profile->settings()->setAttribute(QWebEngineSettings::JavascriptEnabled, !documentsOnly);
}

bool DocumentOnlyInterceptor::isOn(const QWebEngineProfile* profile) {
    const auto* interceptor =
        profile ? profile->findChild<DocumentOnlyInterceptor*>(QString(), Qt::FindDirectChildrenOnly)
                : nullptr;
    return interceptor && interceptor->isActive();
}

void DocumentOnlyInterceptor::setActive(bool active) {
    m_active.store(active);
}

bool DocumentOnlyInterceptor::isActive() const {
    return m_active.load();
}

void DocumentOnlyInterceptor::interceptRequest(QWebEngineUrlRequestInfo& info) {
    // The documents that the program hands to the engine's parser itself pass.
    static const QString handoff = DocumentHandoff::readerUrl().scheme();
    if (m_active.load() && info.resourceType() != QWebEngineUrlRequestInfo::ResourceTypeMainFrame &&
        info.requestUrl().scheme() != handoff)
        info.block(true);
}
