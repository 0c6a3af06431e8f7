#pragma once

#include "RobotsRules.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

// The robots.txt of each host of a run, fetched once when the first page of that host is to be
// followed. One that is missing, larger than RobotsRules::MostBytes, slower than
// RobotsRules::FetchTimeoutMs, refused or unreadable allows everything: it never stops the run.
class RobotsCache : public QObject {
    Q_OBJECT
public:
    explicit RobotsCache(const QByteArray& userAgent, QObject* parent = nullptr);

    // Whether the rules of url's host are known; if not, their fetch is started (known() follows).
    bool isKnown(const QUrl& url);
    // Whether url may be loaded by the rules known of its host (everything before they are known).
    bool allows(const QUrl& url) const;

Q_SIGNALS:
    // The rules of one more host are known.
    void known();

private:
    static QString origin(const QUrl& url);
    void fetch(const QString& origin, const QUrl& url);
    void done(const QString& origin, QNetworkReply* reply, bool whole);

    QByteArray m_userAgent;
    QNetworkAccessManager* m_network = nullptr;
    // By origin ("https://host:port"); a host whose fetch is under way is absent from m_rules.
    QHash<QString, RobotsRules> m_rules;
    QHash<QString, QPointer<QNetworkReply>> m_fetching;
};
