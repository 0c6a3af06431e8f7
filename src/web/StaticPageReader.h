#pragma once

#include "AddressCollector.h"
#include "TWebBrowser.h"
#include "WorkLimits.h"

#include <QObject>
#include <QPointer>
#include <QUrl>

#include <functional>
#include <memory>

class DocumentHandoff;
class HiddenWebPage;
class QNetworkAccessManager;
class QNetworkReply;
class QWebEngineProfile;

// The quick way to read a page as a browser with scripts off shows it: fetches the page's document
// itself (redirects followed, the engine's user agent and cookies), hands it to the engine's HTML
// parser in a blank page of its own, and collects the addresses of the parsed document. Nothing of
// the page runs, nothing else is fetched, and the document is neither laid out nor drawn, which
// is most of the cost of loading it. The addresses are the ones that loading the page with scripts
// and subresources off gives: the same parser, the same resolution against the same base and
// encoding, srcdoc frames included.
//
// Whatever it cannot read exactly as loading would is left to loading: a network error, a status
// other than 200, a response that is not HTML, an encoding that a browser would have to guess.
class StaticPageReader : public QObject {
    Q_OBJECT
public:
    enum class Outcome {
        Read,        // addresses holds the page's addresses
        NeedsBrowser // the page has to be loaded instead
    };
    using Done = std::function<void(Outcome outcome, const PageAddresses& addresses)>;

    // The largest document read this way.
    static constexpr qint64 MaxDocumentBytes = WorkLimits::MostDocumentBytes;

    // Reads on the given profile; available() is false when its hand-over scheme is missing.
    explicit StaticPageReader(QWebEngineProfile* profile, QObject* parent = nullptr);
    ~StaticPageReader() override;

    // Whether this reader can read at all (the hand-over scheme was registered in time).
    bool available() const;
    // Whether an address is one this reader fetches (http and https).
    static bool accepts(const QUrl& url);

    // Reads url, up to limit addresses. done runs once, from the event loop, unless cancel() or the
    // reader's destruction comes first; the parse and collection take at most parseTimeoutMs.
    void read(const QUrl& url, int limit, int parseTimeoutMs, Done done);
    // Drops the read under way; its done never runs.
    void cancel();

private:
    void onFetched();
    void startParse();
    void onTitle(const QString& title);
    void takePiece(const QString& ticket);
    void onAnswer(const QString& answer);
    // A document is handed over and being read.
    bool parsing() const;
    void ensureReaderPage();
    void finish(Outcome outcome, const PageAddresses& addresses = {});

    QPointer<QWebEngineProfile> m_profile;
    QPointer<DocumentHandoff> m_handoff;
    QNetworkAccessManager* m_network = nullptr;
    QPointer<QNetworkReply> m_reply;
    QPointer<HiddenWebPage> m_page;
    bool m_pageReady = false;
    // The reader page failed to load: nothing more is read this way.
    bool m_broken = false;

    // The read under way.
    Done m_done;
    quint64 m_read = 0;
    int m_limit = 0;
    int m_parseTimeoutMs = 0;
    QUrl m_handedOver;  // the page's document's hand-over address, while it is read
    QString m_readArgs; // what the reader page is told about the document
    std::unique_ptr<AddressCollector::Assembly> m_assembly;
};
