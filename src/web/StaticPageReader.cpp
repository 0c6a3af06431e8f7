#include "StaticPageReader.h"

#include "AddressCollector.h"
#include "AddressSchemes.h"
#include "DocumentHandoff.h"
#include "EngineCookieJar.h"
#include "HiddenWebPage.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QWebEngineProfile>
#include <QWebEngineScript>

namespace {

// What the engine asks for when it loads a page.
const QByteArray navigationAccept = QByteArrayLiteral(
    "text/html,application/xhtml+xml,application/xml;q=0.9,image/avif,image/webp,image/apng,*/*;q=0.8,"
    "application/signed-exchange;v=b3;q=0.9");
// The generation that the reader's answers carry (the answer is always this read's).
constexpr qint64 readGeneration = 1;

bool startsWithByteOrderMark(const QByteArray& body) {
    return body.startsWith("\xEF\xBB\xBF") || body.startsWith("\xFE\xFF") || body.startsWith("\xFF\xFE");
}

bool isAscii(const QByteArray& body) {
    for (const char c : body)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

} // namespace

StaticPageReader::StaticPageReader(QWebEngineProfile* profile, QObject* parent)
    : QObject(parent)
    , m_profile(profile)
    , m_handoff(DocumentHandoff::on(profile)) {
    if (!m_handoff)
        return;
    m_network = new QNetworkAccessManager(this);
    m_network->setCookieJar(new EngineCookieJar(profile, m_network));
    m_network->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
    m_network->setStrictTransportSecurityEnabled(true);
}

StaticPageReader::~StaticPageReader() {
    while (!m_reads.empty())
        cancel(m_reads.begin()->first);
    if (m_page) {
        m_page->disconnect(this);
        delete m_page;
    }
}

bool StaticPageReader::available() const {
    return m_handoff && m_profile && !m_broken;
}

QWebEngineProfile* StaticPageReader::profile() const {
    return m_profile;
}

bool StaticPageReader::accepts(const QUrl& url) {
    return url.isValid() && AddressSchemes::isWeb(url);
}

QString StaticPageReader::ticket(quint64 read) {
    return QStringLiteral("r%1").arg(read);
}

StaticPageReader::Read* StaticPageReader::find(quint64 read) {
    const auto it = m_reads.find(read);
    return it == m_reads.end() ? nullptr : &it->second;
}

quint64 StaticPageReader::read(const QUrl& url, int limit, int parseTimeoutMs, Done done) {
    const quint64 id = ++m_lastRead;
    Read& r = m_reads[id];
    r.done = std::move(done);
    r.limit = std::max(0, limit);
    r.parseTimeoutMs = std::max(0, parseTimeoutMs);
    if (!available() || !accepts(url)) {
        QTimer::singleShot(0, this, [this, id]() { finish(id, Outcome::NeedsBrowser); });
        return id;
    }
    ensureReaderPage();

    QNetworkRequest request(url);
    request.setMaximumRedirectsAllowed(20);
    request.setHeader(QNetworkRequest::UserAgentHeader, m_profile->httpUserAgent());
    request.setRawHeader("Accept", navigationAccept);
    if (!m_profile->httpAcceptLanguage().isEmpty())
        request.setRawHeader("Accept-Language", m_profile->httpAcceptLanguage().toUtf8());
    request.setRawHeader("Upgrade-Insecure-Requests", "1");
    QNetworkReply* reply = m_network->get(request);
    r.reply = reply;
    connect(reply, &QNetworkReply::downloadProgress, this, [reply](qint64 received, qint64) {
        if (received > MaxDocumentBytes)
            reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this, [this, id, reply]() { onFetched(id, reply); });
    return id;
}

void StaticPageReader::cancel(quint64 read) {
    const auto it = m_reads.find(read);
    if (it == m_reads.end())
        return;
    Read& r = it->second;
    // What the reader page still keeps of a read that is no longer awaited goes.
    if (m_page && r.started)
        m_page->runJavaScript(
            QStringLiteral("window.__nepirikaScan && window.__nepirikaScan.drop('%1');").arg(ticket(read)),
            QWebEngineScript::ApplicationWorld);
    if (QNetworkReply* reply = r.reply) {
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
    if (m_handoff && !r.handedOver.isEmpty())
        m_handoff->withdraw(r.handedOver);
    const bool wasParsing = r.started;
    m_reads.erase(it);
    // Room for a waiting parse: from the event loop, never from inside the caller's cancel.
    if (wasParsing)
        QTimer::singleShot(0, this, &StaticPageReader::startWaitingParses);
}

void StaticPageReader::onFetched(quint64 read, QNetworkReply* reply) {
    reply->deleteLater();
    Read* r = find(read);
    if (!r || r->reply != reply)
        return;
    r->reply = nullptr;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray contentType = reply->rawHeader("Content-Type");
    const QByteArray mime = contentType.split(';').first().trimmed().toLower();
    if (reply->error() != QNetworkReply::NoError || status != 200 || mime != "text/html") {
        finish(read, Outcome::NeedsBrowser);
        return;
    }
    // Larger documents were aborted as they came (see read()).
    const QByteArray body = reply->readAll();
    const bool declared = contentType.toLower().contains("charset=") || startsWithByteOrderMark(body);
    const bool ascii = !declared && isAscii(body);
    r->handedOver = m_handoff->offer(body, contentType);
    QJsonObject args{
        {QStringLiteral("url"), r->handedOver.toString(QUrl::FullyEncoded)},
        {QStringLiteral("address"), reply->url().toString(QUrl::FullyEncoded)},
        {QStringLiteral("declared"), declared},
        {QStringLiteral("ascii"), ascii},
        {QStringLiteral("utf8"), !declared && !ascii && body.isValidUtf8()},
        {QStringLiteral("count"), r->limit},
        {QStringLiteral("chars"), CollectedAddress::PageChars},
        {QStringLiteral("generation"), readGeneration},
    };
    r->args = QString::fromUtf8(QJsonDocument(args).toJson(QJsonDocument::Compact));
    startWaitingParses();
}

void StaticPageReader::ensureReaderPage() {
    if (m_page)
        return;
    m_pageReady = false;
    m_page = new HiddenWebPage(m_profile, this);
    connect(m_page, &QWebEnginePage::loadFinished, this, [this](bool ok) {
        if (!ok) {
            // A reader page that does not load will not load next time either.
            m_broken = true;
            finishAll();
            return;
        }
        if (m_pageReady)
            return;
        m_pageReady = true;
        startWaitingParses();
    });
    connect(m_page, &QWebEnginePage::titleChanged, this, &StaticPageReader::onTitle);
    connect(m_page, &QWebEnginePage::renderProcessTerminated, this, [this]() {
        // A new page, and a new renderer, for the next read; the reads under way are loaded instead.
        QWebEnginePage* gone = m_page;
        m_page = nullptr;
        m_pageReady = false;
        gone->disconnect(this);
        gone->deleteLater();
        finishAll();
    });
    m_page->load(DocumentHandoff::readerUrl());
}

void StaticPageReader::startWaitingParses() {
    if (!m_pageReady)
        return;
    int parsing = 0;
    std::vector<quint64> waiting;
    for (const auto& [id, r] : m_reads) { // by number: in the order asked for
        if (r.started)
            ++parsing;
        else if (!r.handedOver.isEmpty())
            waiting.push_back(id);
    }
    for (const quint64 id : waiting) {
        if (parsing >= MostParsesAtOnce)
            break;
        startParse(id);
        ++parsing;
    }
}

void StaticPageReader::startParse(quint64 read) {
    Read* r = find(read);
    if (!m_page || !r || r->handedOver.isEmpty() || r->started)
        return;
    r->started = true;
    m_page->runJavaScript(QStringLiteral("window.__nepirikaScan.read('%1', %2);").arg(ticket(read), r->args),
                          QWebEngineScript::ApplicationWorld);
    QTimer::singleShot(r->parseTimeoutMs, this, [this, read]() {
        if (find(read))
            finish(read, Outcome::NeedsBrowser);
    });
}

void StaticPageReader::onTitle(const QString& title) {
    // The reader page names the read that has just been parsed.
    const QLatin1String prefix("read r");
    if (!title.startsWith(prefix))
        return;
    bool number = false;
    const quint64 read = QStringView(title).mid(prefix.size()).toULongLong(&number);
    Read* r = number ? find(read) : nullptr;
    if (!r || !r->started || r->assembly)
        return;
    r->assembly =
        std::make_unique<AddressCollector::Assembly>(readGeneration, r->limit, CollectedAddress::PageChars);
    takePiece(read, ticket(read));
}

void StaticPageReader::takePiece(quint64 read, const QString& ticket) {
    QPointer<StaticPageReader> self(this);
    m_page->runJavaScript(AddressCollector::takeScript(ticket), QWebEngineScript::ApplicationWorld,
                          [self, read](const QVariant& answer) {
                              if (self && self->find(read))
                                  self->onAnswer(read, answer.toString());
                          });
}

void StaticPageReader::onAnswer(quint64 read, const QString& answer) {
    Read* r = find(read);
    if (!r->assembly) {
        finish(read, Outcome::NeedsBrowser);
        return;
    }
    // The answer comes in pieces; '!' asks for the page to be loaded instead.
    switch (r->assembly->add(answer)) {
    case AddressCollector::Assembly::Step::Done:
        finish(read, Outcome::Read, std::exchange(r->assembly, nullptr)->addresses());
        return;
    case AddressCollector::Assembly::Step::More:
        if (m_page) {
            takePiece(read, r->assembly->ticket());
            return;
        }
        break;
    case AddressCollector::Assembly::Step::Waiting:
    case AddressCollector::Assembly::Step::Unreadable:
        break;
    }
    finish(read, Outcome::NeedsBrowser);
}

void StaticPageReader::finishAll() {
    std::vector<quint64> reads;
    for (const auto& entry : m_reads)
        reads.push_back(entry.first);
    for (const quint64 read : reads)
        finish(read, Outcome::NeedsBrowser);
}

void StaticPageReader::finish(quint64 read, Outcome outcome, const PageAddresses& addresses) {
    Read* r = find(read);
    if (!r)
        return;
    Done done = std::exchange(r->done, nullptr);
    cancel(read);
    if (!done)
        return;
    // Always from the event loop, never from inside read().
    QTimer::singleShot(0, this, [done, outcome, addresses]() { done(outcome, addresses); });
}
