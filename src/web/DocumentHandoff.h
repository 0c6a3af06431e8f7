#pragma once

#include <QByteArray>
#include <QHash>
#include <QUrl>
#include <QWebEngineUrlSchemeHandler>

class QWebEngineProfile;

// Hands documents that the program fetched itself to the engine's HTML parser. Serves, on a scheme
// of the program's own, a blank reader page and the documents offered to it, each under an address
// of its own until it is withdrawn; the reader page reads them as documents of its own origin.
// Nothing else can reach them: the hidden pages may not navigate to the scheme, and no other
// origin may read from it.
class DocumentHandoff : public QWebEngineUrlSchemeHandler {
    Q_OBJECT
public:
    // Registers the scheme with the engine: before the application object exists (see
    // WebEngineSetup).
    static void registerScheme();
    // Whether registerScheme came early enough for the engine to know the scheme.
    static bool isRegistered();
    // The handler of the profile (installed on first use); null when the scheme is not registered.
    static DocumentHandoff* on(QWebEngineProfile* profile);

    // The blank page that reads the documents.
    static QUrl readerUrl();

    // Offers a document under an address of its own, until withdraw(address).
    QUrl offer(const QByteArray& body, const QByteArray& contentType);
    void withdraw(const QUrl& address);

    void requestStarted(QWebEngineUrlRequestJob* job) override;

private:
    explicit DocumentHandoff(QObject* parent);

    struct Document {
        QByteArray body;
        QByteArray contentType;
    };
    QHash<QString, Document> m_documents;
    quint64 m_offered = 0;
};
