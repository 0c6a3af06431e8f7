#pragma once

#include "AddressCollector.h"
#include "TWebBrowser.h"
#include "WorkLimits.h"

#include <QObject>
#include <QPointer>
#include <QUrl>

#include <functional>
#include <map>
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
//
// One reader serves any number of reads at once, all parsed in its one blank page (one renderer
// for all of them, where a page of their own each would cost a renderer each). Each read has a
// number and a ticket of its own in the page, and its answer is taken under that ticket only, so
// the addresses of two documents read side by side never mix.
class StaticPageReader : public QObject {
    Q_OBJECT
public:
    enum class Outcome {
        Read,        // addresses holds the page's addresses
        NeedsBrowser // the page has to be loaded instead
    };
    using Done = std::function<void(Outcome outcome, const PageAddresses& addresses)>;

    // Documents parsed in the reader page at once; the others wait, fetched, in the order they were
    // asked for. Fetching is what takes time, and every document parsed at once is a whole document
    // tree in the reader's renderer.
    static constexpr int MostParsesAtOnce = 2;
    // The largest document read this way.
    static constexpr qint64 MaxDocumentBytes = WorkLimits::MostDocumentBytes;

    // Reads on the given profile; available() is false when its hand-over scheme is missing.
    explicit StaticPageReader(QWebEngineProfile* profile, QObject* parent = nullptr);
    ~StaticPageReader() override;

    // Whether this reader can read at all (the hand-over scheme was registered in time).
    bool available() const;
    QWebEngineProfile* profile() const;
    // Whether an address is one this reader fetches (http and https).
    static bool accepts(const QUrl& url);

    // Reads url, up to limit addresses, beside any other read under way; the number returned names
    // the read for cancel(). done runs once, from the event loop, unless cancel() or the reader's
    // destruction comes first; the parse and collection take at most parseTimeoutMs.
    quint64 read(const QUrl& url, int limit, int parseTimeoutMs, Done done);
    // Drops a read under way; its done never runs. A read that is over is ignored.
    void cancel(quint64 read);

private:
    // One read from its fetch to its answer.
    struct Read {
        Done done;
        int limit = 0;
        int parseTimeoutMs = 0;
        QPointer<QNetworkReply> reply;
        QUrl handedOver;      // the document's hand-over address, while it is read
        QString args;         // what the reader page is told about the document
        bool started = false; // handed to the reader page
        std::unique_ptr<AddressCollector::Assembly> assembly;
    };

    Read* find(quint64 read);
    void onFetched(quint64 read, QNetworkReply* reply);
    void startParse(quint64 read);
    // Starts the waiting parses that there is room for, oldest first.
    void startWaitingParses();
    void onTitle(const QString& title);
    void takePiece(quint64 read, const QString& ticket);
    void onAnswer(quint64 read, const QString& answer);
    void ensureReaderPage();
    // Every read under way goes to loading (the reader page failed or its renderer ended).
    void finishAll();
    void finish(quint64 read, Outcome outcome, const PageAddresses& addresses = {});
    static QString ticket(quint64 read);

    QPointer<QWebEngineProfile> m_profile;
    QPointer<DocumentHandoff> m_handoff;
    QNetworkAccessManager* m_network = nullptr;
    QPointer<HiddenWebPage> m_page;
    bool m_pageReady = false;
    // The reader page failed to load: nothing more is read this way.
    bool m_broken = false;

    std::map<quint64, Read> m_reads;
    quint64 m_lastRead = 0;
};
