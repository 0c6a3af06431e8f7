#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>

class QNetworkCookieJar;
class QWebEnginePage;
class QWebEngineProfile;

// Every address of one loaded document, resolved by the engine against the document's base.
struct PageAddresses {
    QUrl location;      // the document's address
    QStringList links;  // document.links in document order (a and area with href)
    QStringList images; // document.images, non-empty src only
    QStringList embeds; // document.embeds, non-empty src only
};

// The browser control: the one place where the program touches the browser engine (Qt WebEngine).
// The harvester and the banner reach the engine only through this class, so another engine (a test
// double, a static HTML reader) can stand in by overriding the virtual members.
class TWebBrowser : public QObject {
    Q_OBJECT
public:
    // A page on the given profile; with no profile, a private off-the-record profile of its own.
    explicit TWebBrowser(QWebEngineProfile* profile = nullptr, QObject* parent = nullptr);
    ~TWebBrowser() override;

    // Returns at once; the load ends with DocumentComplete.
    virtual void Navigate(const QUrl& url);
    virtual void Stop();
    // The current document's address.
    virtual QUrl LocationURL() const;
    // All of the current document's link, image and embed addresses in one call into the engine.
    // done runs exactly once: with ok false and a reason when the engine did not answer within
    // timeoutMs (a script that never ends, say).
    virtual void CollectAddresses(int timeoutMs,
                                  std::function<void(bool ok, const PageAddresses&, const QString& reason)> done);

    // The engine page, for a view that shows it (the banner).
    QWebEnginePage* page() const;
    // The engine's user agent, and a jar that mirrors the engine's cookies (for downloads).
    QByteArray userAgent() const;
    QNetworkCookieJar* cookieJar() const;

Q_SIGNALS:
    // At least once after each navigation, failed loads included. ok is false when the top document
    // failed: a network error, or an HTTP error status (errorText says which).
    void DocumentComplete(bool ok, const QString& errorText);

private:
    struct Private;
    std::unique_ptr<Private> d;
};
