#pragma once

#include <QNetworkCookieJar>
#include <QPointer>

// The cookie jar of one batch: it sends the browser's cookies for each address together with those
// that the batch's own responses set, and keeps the latter to itself. The browser's jar is only read
// and not owned, so the batch may outlive it.
class BatchCookieJar : public QNetworkCookieJar {
    Q_OBJECT
public:
    explicit BatchCookieJar(QNetworkCookieJar* source, QObject* parent = nullptr);

    QList<QNetworkCookie> cookiesForUrl(const QUrl& url) const override;

private:
    QPointer<QNetworkCookieJar> m_source;
};
