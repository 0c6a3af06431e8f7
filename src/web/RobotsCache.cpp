#include "RobotsCache.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

RobotsCache::RobotsCache(const QByteArray& userAgent, QObject* parent)
    : QObject(parent)
    , m_userAgent(userAgent)
    , m_network(new QNetworkAccessManager(this)) {}

QString RobotsCache::origin(const QUrl& url) {
    return url.scheme() + QStringLiteral("://") + url.host(QUrl::FullyEncoded) + QLatin1Char(':') +
           QString::number(url.port(url.scheme() == u"https" ? 443 : 80));
}

bool RobotsCache::isKnown(const QUrl& url) {
    if (url.scheme() != u"http" && url.scheme() != u"https")
        return true; // a local file has no robots.txt
    const QString key = origin(url);
    if (m_rules.contains(key))
        return true;
    if (!m_fetching.contains(key))
        fetch(key, url);
    return false;
}

bool RobotsCache::allows(const QUrl& url) const {
    if (url.scheme() != u"http" && url.scheme() != u"https")
        return true;
    const auto it = m_rules.constFind(origin(url));
    return it == m_rules.cend() || it->allows(url);
}

void RobotsCache::fetch(const QString& key, const QUrl& page) {
    QUrl url =
        page.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment | QUrl::RemoveUserInfo);
    url.setPath(QStringLiteral("/robots.txt"));
    QNetworkRequest request(url);
    if (!m_userAgent.isEmpty())
        request.setHeader(QNetworkRequest::UserAgentHeader, m_userAgent);
    request.setTransferTimeout(RobotsRules::FetchTimeoutMs);
    QNetworkReply* reply = m_network->get(request);
    m_fetching.insert(key, reply);
    // The whole fetch is bounded, however slowly the bytes trickle in.
    auto* timer = new QTimer(reply);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, [this, key, reply]() { done(key, reply, false); });
    timer->start(RobotsRules::FetchTimeoutMs);
    connect(reply, &QNetworkReply::readyRead, this, [this, key, reply]() {
        if (reply->bytesAvailable() > RobotsRules::MostBytes)
            done(key, reply, false);
    });
    connect(reply, &QNetworkReply::finished, this, [this, key, reply]() { done(key, reply, true); });
}

void RobotsCache::done(const QString& key, QNetworkReply* reply, bool whole) {
    if (m_fetching.value(key) != reply)
        return; // already settled
    m_fetching.remove(key);
    RobotsRules rules; // missing, refused, huge, slow: everything allowed
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (whole && reply->error() == QNetworkReply::NoError && status == 200) {
        const QByteArray text = reply->read(RobotsRules::MostBytes + 1);
        if (text.size() <= RobotsRules::MostBytes)
            rules = RobotsRules::parse(text);
    }
    m_rules.insert(key, rules);
    reply->disconnect(this);
    reply->abort();
    reply->deleteLater();
    Q_EMIT known();
}
