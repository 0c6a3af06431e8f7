#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>

typedef void CURL;
typedef void CURLM;
typedef void CURLSH;
struct curl_slist;

class QTimer;

// libcurl's multi interface driven from the Qt event loop of the thread the session lives on:
// socket notifiers wake curl_multi_socket_action when a socket is ready, a timer when libcurl asks
// for one. The session keeps the connections, DNS answers, TLS sessions and HSTS hosts it learnt for
// all of its requests (HttpFetch). It trusts the system's certificate authorities and, as Qt does,
// those added to Qt's default TLS configuration.
//
// Requests may be given up, and the session itself disposed of, at any moment, even from within a
// signal that a transfer sent while libcurl was at work: then they go once libcurl has returned.
class CurlSession : public QObject {
    Q_OBJECT
public:
    CurlSession();
    CurlSession(const CurlSession&) = delete;
    CurlSession& operator=(const CurlSession&) = delete;

    // Ends every transfer and frees the session now, or once libcurl has returned.
    void dispose();

    // A new easy handle with the session's shared state and trust set (secure: for an https
    // address); null when libcurl has none. The session owns it until release().
    CURL* createHandle(bool secure);
    // Starts the transfer of a prepared handle, whose header list the session keeps until the
    // handle is released. False when libcurl refuses it.
    bool add(CURL* handle, curl_slist* headers);
    // Stops the transfer, if it runs, and frees the handle with its header list. Its owner hears
    // nothing of it any more.
    void release(CURL* handle);

private:
    struct Watch;
    ~CurlSession() override;
    static int onSocket(CURL* handle, int socket, int what, void* session, void* watch);
    static int onTimer(CURLM* multi, long timeoutMs, void* session);
    void socketAction(int socket, int events);
    void readMessages();
    void leaveCurl();
    void freeHandle(CURL* handle);

    CURLM* m_multi = nullptr;
    CURLSH* m_share = nullptr;
    QTimer* m_timer = nullptr;
    // The system's authorities and those Qt added, in PEM; empty when Qt added none.
    QByteArray m_authorities;
    bool m_authoritiesRead = false;
    // Every handle made here, with the header list it was started with.
    QHash<CURL*, curl_slist*> m_handles;
    // Inside libcurl, or handing its results out: what is released now waits until it returns.
    int m_depth = 0;
    QList<CURL*> m_released;
    bool m_disposed = false;
};
