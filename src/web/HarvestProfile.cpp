#include "HarvestProfile.h"

#include "BrowserIdentity.h"
#include "DocumentHandoff.h"
#include "EngineCookieJar.h"

#include <QWebEngineDownloadRequest>
#include <QWebEngineProfile>

HarvestProfile::HarvestProfile(QObject* parent)
    : QObject(parent)
    , m_profile(new QWebEngineProfile(this)) { // no storage name: off the record
    m_profile->setHttpUserAgent(QString::fromUtf8(BrowserIdentity::userAgent()));
    m_profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
    m_profile->setHttpCacheMaximumSize(CacheBytes);
    m_profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
    m_profile->setSpellCheckEnabled(false);
    m_jar = new EngineCookieJar(m_profile, this);
    DocumentHandoff::on(m_profile);
    // A harvest never saves what a page offers for download.
    connect(m_profile, &QWebEngineProfile::downloadRequested, this,
            [](QWebEngineDownloadRequest* request) { request->cancel(); });
}

HarvestProfile::~HarvestProfile() {
    // The jar lets go of the cookie store before the profile goes.
    delete m_jar;
}

HarvestProfile* HarvestProfile::of(const QWebEngineProfile* profile) {
    return profile ? qobject_cast<HarvestProfile*>(profile->parent()) : nullptr;
}

QWebEngineProfile* HarvestProfile::profile() const {
    return m_profile;
}

QByteArray HarvestProfile::userAgent() const {
    return m_profile->httpUserAgent().toUtf8();
}

QNetworkCookieJar* HarvestProfile::cookieJar() const {
    return m_jar;
}
