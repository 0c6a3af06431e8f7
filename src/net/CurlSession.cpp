#include "CurlSession.h"

#include "HttpFetch.h"

#include <QSet>
#include <QSocketNotifier>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTimer>

#include <curl/curl.h>

#include <mutex>

namespace {

void initialiseCurl() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// The authorities to trust when Qt's default TLS configuration has some that the system has not
// (libcurl knows only the system's): then all of them, in PEM; otherwise nothing.
QByteArray authoritiesBeyondTheSystem() {
    const QList<QSslCertificate> configured = QSslConfiguration::defaultConfiguration().caCertificates();
    if (configured.isEmpty())
        return {};
    const QList<QSslCertificate> system = QSslConfiguration::systemCaCertificates();
    const QSet<QSslCertificate> known(system.cbegin(), system.cend());
    QByteArray pem;
    bool added = false;
    for (const QSslCertificate& certificate : configured) {
        added = added || !known.contains(certificate);
        pem += certificate.toPem();
    }
    if (!added)
        return {};
    for (const QSslCertificate& certificate : system)
        pem += certificate.toPem();
    return pem;
}

// The shared state is used on the session's thread only: no locking needed.
void noLock(CURL*, curl_lock_data, curl_lock_access, void*) {}
void noUnlock(CURL*, curl_lock_data, void*) {}

} // namespace

// The notifiers of one socket that libcurl watches.
struct CurlSession::Watch {
    QSocketNotifier* read = nullptr;
    QSocketNotifier* write = nullptr;
};

CurlSession::CurlSession() {
    initialiseCurl();
    m_multi = curl_multi_init();
    m_share = curl_share_init();
    curl_share_setopt(m_share, CURLSHOPT_LOCKFUNC, noLock);
    curl_share_setopt(m_share, CURLSHOPT_UNLOCKFUNC, noUnlock);
    curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_HSTS);
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETFUNCTION, onSocket);
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERFUNCTION, onTimer);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERDATA, this);
    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, [this] { socketAction(CURL_SOCKET_TIMEOUT, 0); });
}

CurlSession::~CurlSession() {
    const QList<CURL*> handles = m_handles.keys();
    for (CURL* handle : handles)
        freeHandle(handle);
    curl_multi_cleanup(m_multi);
    curl_share_cleanup(m_share);
}

void CurlSession::dispose() {
    if (m_disposed)
        return;
    m_disposed = true;
    if (m_depth > 0) {
        // Released now, freed once libcurl has returned; the notifiers may be on the stack.
        m_released.append(m_handles.keys());
        return;
    }
    delete this;
}

CURL* CurlSession::createHandle(bool secure) {
    CURL* handle = curl_easy_init();
    if (!handle)
        return nullptr;
    curl_easy_setopt(handle, CURLOPT_SHARE, m_share);
    curl_easy_setopt(handle, CURLOPT_HSTS_CTRL, long(CURLHSTS_ENABLE));
    // Qt's TLS configuration is read at the first https request: loading it takes a while.
    if (secure && !m_authoritiesRead) {
        m_authorities = authoritiesBeyondTheSystem();
        m_authoritiesRead = true;
    }
    if (!m_authorities.isEmpty()) {
        curl_blob blob{const_cast<char*>(m_authorities.constData()), size_t(m_authorities.size()),
                       CURL_BLOB_NOCOPY};
        curl_easy_setopt(handle, CURLOPT_CAINFO_BLOB, &blob);
    }
    m_handles.insert(handle, nullptr);
    return handle;
}

bool CurlSession::add(CURL* handle, curl_slist* headers) {
    m_handles.insert(handle, headers);
    return curl_multi_add_handle(m_multi, handle) == CURLM_OK;
}

void CurlSession::release(CURL* handle) {
    if (!m_handles.contains(handle))
        return;
    // Whatever libcurl still calls for it goes nowhere.
    curl_easy_setopt(handle, CURLOPT_PRIVATE, nullptr);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, nullptr);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, nullptr);
    if (m_depth > 0)
        m_released.append(handle);
    else
        freeHandle(handle);
}

void CurlSession::freeHandle(CURL* handle) {
    const auto it = m_handles.find(handle);
    if (it == m_handles.end())
        return;
    curl_slist* headers = it.value();
    m_handles.erase(it);
    curl_multi_remove_handle(m_multi, handle);
    curl_easy_cleanup(handle);
    curl_slist_free_all(headers);
}

int CurlSession::onSocket(CURL*, int socket, int what, void* session, void* watchPointer) {
    auto* self = static_cast<CurlSession*>(session);
    auto* watch = static_cast<Watch*>(watchPointer);
    if (what == CURL_POLL_REMOVE) {
        if (watch) {
            // The notifier may be the one whose signal led here.
            for (QSocketNotifier* notifier : {watch->read, watch->write}) {
                notifier->setEnabled(false);
                notifier->deleteLater();
            }
            delete watch;
        }
        return 0;
    }
    if (!watch) {
        watch = new Watch;
        watch->read = new QSocketNotifier(socket, QSocketNotifier::Read, self);
        watch->write = new QSocketNotifier(socket, QSocketNotifier::Write, self);
        connect(watch->read, &QSocketNotifier::activated, self,
                [self, socket] { self->socketAction(socket, CURL_CSELECT_IN); });
        connect(watch->write, &QSocketNotifier::activated, self,
                [self, socket] { self->socketAction(socket, CURL_CSELECT_OUT); });
        curl_multi_assign(self->m_multi, socket, watch);
    }
    watch->read->setEnabled(what == CURL_POLL_IN || what == CURL_POLL_INOUT);
    watch->write->setEnabled(what == CURL_POLL_OUT || what == CURL_POLL_INOUT);
    return 0;
}

int CurlSession::onTimer(CURLM*, long timeoutMs, void* session) {
    auto* self = static_cast<CurlSession*>(session);
    // libcurl is not to be called from here: the timer calls back from the event loop.
    if (timeoutMs < 0)
        self->m_timer->stop();
    else
        self->m_timer->start(static_cast<int>(std::min<long>(timeoutMs, 24L * 3600 * 1000)));
    return 0;
}

void CurlSession::socketAction(int socket, int events) {
    if (m_disposed)
        return;
    ++m_depth;
    int running = 0;
    curl_multi_socket_action(m_multi, socket, events, &running);
    readMessages();
    leaveCurl();
}

void CurlSession::readMessages() {
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(m_multi, &left)) {
        if (message->msg != CURLMSG_DONE || m_disposed)
            continue;
        CURL* handle = message->easy_handle;
        const CURLcode result = message->data.result;
        char* owner = nullptr;
        curl_easy_getinfo(handle, CURLINFO_PRIVATE, &owner);
        // Taken out of the transfer list before anyone hears of it, so that the handle's owner may
        // release it, or start another, from its signal.
        curl_multi_remove_handle(m_multi, handle);
        if (owner)
            reinterpret_cast<HttpFetch*>(owner)->transferEnded(result);
    }
}

void CurlSession::leaveCurl() {
    if (--m_depth > 0)
        return;
    const QList<CURL*> released = std::exchange(m_released, {});
    for (CURL* handle : released)
        freeHandle(handle);
    if (m_disposed)
        deleteLater();
}
