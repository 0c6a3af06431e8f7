#include "HarvestProfile.h"

#include "BrowserIdentity.h"
#include "BrowserProfileFolder.h"
#include "DocumentHandoff.h"
#include "EngineCookieJar.h"

#include <QDir>
#include <QFile>
#include <QNetworkCookie>
#include <QSet>
#include <QWebEngineCookieStore>
#include <QWebEngineDownloadRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>

namespace {

// Left in the folder by clearLogIns(): the storage goes before the engine opens the folder again.
const QString ClearMark = QStringLiteral("clear-at-start");

// The folder, emptied when asked to be, made, and open to its owner alone.
void prepareFolder(const QString& folder) {
    QDir dir(folder);
    if (dir.exists(ClearMark))
        dir.removeRecursively();
    QDir().mkpath(folder);
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace

HarvestProfile::HarvestProfile(QObject* parent)
    : QObject(parent)
    , m_profile(new QWebEngineProfile(this)) { // no storage name: off the record
    m_profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
    m_profile->setHttpCacheMaximumSize(CacheBytes);
    m_profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
    setUp();
}

HarvestProfile::HarvestProfile(const QString& folder, QObject* parent)
    : QObject(parent)
    , m_folder(folder) {
    prepareFolder(folder);
    m_profile = new QWebEngineProfile(QStringLiteral("nepirika"), this);
    m_profile->setPersistentStoragePath(folder);
    m_profile->setCachePath(folder + QStringLiteral("/cache"));
    m_profile->setHttpCacheType(QWebEngineProfile::DiskHttpCache);
    m_profile->setPersistentCookiesPolicy(QWebEngineProfile::ForcePersistentCookies);
    setUp();
}

void HarvestProfile::setUp() {
    m_profile->setHttpUserAgent(QString::fromUtf8(BrowserIdentity::userAgent()));
    m_profile->setSpellCheckEnabled(false);
    m_jar = new EngineCookieJar(m_profile, this);
    DocumentHandoff::on(m_profile);
    // A harvest never saves what a page offers for download.
    connect(m_profile, &QWebEngineProfile::downloadRequested, this,
            [](QWebEngineDownloadRequest* request) { request->cancel(); });
}

HarvestProfile::~HarvestProfile() {
    // A page goes before its profile; the jar lets go of the cookie store before the profile goes.
    delete m_opener;
    delete m_jar;
}

HarvestProfile* HarvestProfile::of(const QWebEngineProfile* profile) {
    return profile ? qobject_cast<HarvestProfile*>(profile->parent()) : nullptr;
}

QString HarvestProfile::windowFolder() {
    return BrowserProfileFolder::window();
}

QWebEngineProfile* HarvestProfile::profile() const {
    return m_profile;
}

QString HarvestProfile::folder() const {
    return m_folder;
}

QByteArray HarvestProfile::userAgent() const {
    return m_profile->httpUserAgent().toUtf8();
}

QNetworkCookieJar* HarvestProfile::cookieJar() const {
    return m_jar;
}

QList<CookieFile::Problem> HarvestProfile::addCookies(const QList<FileCookie>& cookies) {
    const QList<CookieFile::Problem> refused = m_jar->addFileCookies(cookies);
    QSet<int> refusedLines;
    for (const CookieFile::Problem& problem : refused)
        refusedLines.insert(problem.line);
    for (const FileCookie& cookie : cookies) {
        if (refusedLines.contains(cookie.line))
            continue;
        // A cookie without a domain is the host-only cookie of the address it is set from; one with a
        // domain is the domain's, as a Set-Cookie header says it.
        QNetworkCookie made = BrowserCookieJar::fromFile(cookie);
        if (cookie.hostOnly)
            made.setDomain(QString());
        m_profile->cookieStore()->setCookie(made, BrowserCookieJar::originOf(cookie));
    }
    // The engine holds cookies given before it opened its store until a page makes it open it: an
    // empty page does, so that a log-in read into the window's profile is kept even when no other
    // page is loaded before the program ends.
    if (!m_folder.isEmpty() && !cookies.isEmpty() && !m_opener) {
        m_opener = new QWebEnginePage(m_profile, this);
        connect(m_opener, &QWebEnginePage::loadFinished, m_opener, &QObject::deleteLater);
        m_opener->setHtml(QString());
    }
    return refused;
}

void HarvestProfile::clearLogIns() {
    m_profile->cookieStore()->deleteAllCookies();
    // Downloads send none of them from now on, before the engine has reported each one gone.
    m_jar->clear();
    // Not clearHttpCache(): in Qt WebEngine 6.4 the pages loaded while it runs wait for it, and an
    // analysis right after the question then timed out on every page. The cache goes with the rest
    // of the folder at the next start (the mark below); the cookies, the log-in, are gone now.
    m_profile->clearAllVisitedLinks();
    if (!m_folder.isEmpty()) {
        QFile mark(QDir(m_folder).filePath(ClearMark));
        if (mark.open(QIODevice::WriteOnly))
            mark.close();
    }
}
