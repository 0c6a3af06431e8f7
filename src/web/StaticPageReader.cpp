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
    cancel();
    if (m_page) {
        m_page->disconnect(this);
        delete m_page;
    }
}

bool StaticPageReader::available() const {
    return m_handoff && m_profile && !m_broken;
}

bool StaticPageReader::accepts(const QUrl& url) {
    return url.isValid() && AddressSchemes::isWeb(url);
}

void StaticPageReader::read(const QUrl& url, int limit, int parseTimeoutMs, Done done) {
    cancel();
    m_done = std::move(done);
    const quint64 read = ++m_read;
    m_limit = std::max(0, limit);
    m_parseTimeoutMs = std::max(0, parseTimeoutMs);
    if (!available() || !accepts(url)) {
        QTimer::singleShot(0, this, [this, read]() {
            if (read == m_read)
                finish(Outcome::NeedsBrowser);
        });
        return;
    }
    ensureReaderPage();

    QNetworkRequest request(url);
    request.setMaximumRedirectsAllowed(20);
    request.setHeader(QNetworkRequest::UserAgentHeader, m_profile->httpUserAgent());
    request.setRawHeader("Accept", navigationAccept);
    if (!m_profile->httpAcceptLanguage().isEmpty())
        request.setRawHeader("Accept-Language", m_profile->httpAcceptLanguage().toUtf8());
    request.setRawHeader("Upgrade-Insecure-Requests", "1");
    m_reply = m_network->get(request);
    connect(m_reply, &QNetworkReply::downloadProgress, this,
            [this, reply = m_reply](qint64 received, qint64) {
                if (reply == m_reply && received > MaxDocumentBytes)
                    reply->abort();
            });
    connect(m_reply, &QNetworkReply::finished, this, &StaticPageReader::onFetched);
}

void StaticPageReader::cancel() {
    // What the reader page still keeps of a read that is no longer awaited goes.
    if (m_page && parsing())
        m_page->runJavaScript(
            QStringLiteral("window.__nepirikaScan && window.__nepirikaScan.drop('r%1');").arg(m_read),
            QWebEngineScript::ApplicationWorld);
    m_assembly.reset();
    ++m_read;
    m_done = nullptr;
    if (m_reply) {
        QNetworkReply* reply = m_reply;
        m_reply = nullptr;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
    if (m_handoff && !m_handedOver.isEmpty())
        m_handoff->withdraw(m_handedOver);
    m_handedOver.clear();
}

void StaticPageReader::onFetched() {
    QNetworkReply* reply = m_reply;
    if (!reply || sender() != reply)
        return;
    m_reply = nullptr;
    reply->deleteLater();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray contentType = reply->rawHeader("Content-Type");
    const QByteArray mime = contentType.split(';').first().trimmed().toLower();
    if (reply->error() != QNetworkReply::NoError || status != 200 || mime != "text/html") {
        finish(Outcome::NeedsBrowser);
        return;
    }
    // Larger documents were aborted as they came (see read()).
    const QByteArray body = reply->readAll();
    const bool declared = contentType.toLower().contains("charset=") || startsWithByteOrderMark(body);
    const bool ascii = !declared && isAscii(body);
    m_handedOver = m_handoff->offer(body, contentType);
    QJsonObject args{
        {QStringLiteral("url"), m_handedOver.toString(QUrl::FullyEncoded)},
        {QStringLiteral("address"), reply->url().toString(QUrl::FullyEncoded)},
        {QStringLiteral("declared"), declared},
        {QStringLiteral("ascii"), ascii},
        {QStringLiteral("utf8"), !declared && !ascii && body.isValidUtf8()},
        {QStringLiteral("count"), m_limit},
        {QStringLiteral("chars"), CollectedAddress::PageChars},
        {QStringLiteral("generation"), readGeneration},
    };
    m_readArgs = QString::fromUtf8(QJsonDocument(args).toJson(QJsonDocument::Compact));
    if (m_pageReady)
        startParse();
}

bool StaticPageReader::parsing() const {
    return !m_handedOver.isEmpty();
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
            if (parsing() || m_reply)
                finish(Outcome::NeedsBrowser);
            return;
        }
        if (m_pageReady)
            return;
        m_pageReady = true;
        if (parsing())
            startParse();
    });
    connect(m_page, &QWebEnginePage::titleChanged, this, &StaticPageReader::onTitle);
    connect(m_page, &QWebEnginePage::renderProcessTerminated, this, [this]() {
        // A new page, and a new renderer, for the next read; this one is loaded instead.
        QWebEnginePage* gone = m_page;
        m_page = nullptr;
        m_pageReady = false;
        gone->disconnect(this);
        gone->deleteLater();
        if (parsing() || m_reply)
            finish(Outcome::NeedsBrowser);
    });
    m_page->load(DocumentHandoff::readerUrl());
}

void StaticPageReader::startParse() {
    if (!m_page || !parsing())
        return;
    const quint64 read = m_read;
    m_page->runJavaScript(QStringLiteral("window.__nepirikaScan.read('r%1', %2);").arg(read).arg(m_readArgs),
                          QWebEngineScript::ApplicationWorld);
    QTimer::singleShot(m_parseTimeoutMs, this, [this, read]() {
        if (read == m_read && parsing())
            finish(Outcome::NeedsBrowser);
    });
}

void StaticPageReader::onTitle(const QString& title) {
    if (!parsing() || title != QStringLiteral("read r%1").arg(m_read))
        return;
    m_assembly =
        std::make_unique<AddressCollector::Assembly>(readGeneration, m_limit, CollectedAddress::PageChars);
    takePiece(QStringLiteral("r%1").arg(m_read));
}

void StaticPageReader::takePiece(const QString& ticket) {
    const quint64 read = m_read;
    QPointer<StaticPageReader> self(this);
    m_page->runJavaScript(AddressCollector::takeScript(ticket), QWebEngineScript::ApplicationWorld,
                          [self, read](const QVariant& answer) {
                              if (self && read == self->m_read && self->parsing())
                                  self->onAnswer(answer.toString());
                          });
}

void StaticPageReader::onAnswer(const QString& answer) {
    // The answer comes in pieces; '!' asks for the page to be loaded instead.
    switch (m_assembly->add(answer)) {
    case AddressCollector::Assembly::Step::Done:
        finish(Outcome::Read, std::exchange(m_assembly, nullptr)->addresses());
        return;
    case AddressCollector::Assembly::Step::More:
        if (m_page) {
            takePiece(m_assembly->ticket());
            return;
        }
        break;
    case AddressCollector::Assembly::Step::Waiting:
    case AddressCollector::Assembly::Step::Unreadable:
        break;
    }
    finish(Outcome::NeedsBrowser);
}

void StaticPageReader::finish(Outcome outcome, const PageAddresses& addresses) {
    Done done = std::exchange(m_done, nullptr);
    cancel();
    if (!done)
        return;
    // Always from the event loop, never from inside read().
    QTimer::singleShot(0, this, [done, outcome, addresses]() { done(outcome, addresses); });
}
