#include "DocumentHandoff.h"

#include <QBuffer>
#include <QRandomGenerator>
#include <QWebEngineProfile>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>

namespace {

const QByteArray schemeName = QByteArrayLiteral("nepirika-doc");
const QString readerHost = QStringLiteral("reader");
const QString documentPrefix = QStringLiteral("/doc/");

} // namespace

DocumentHandoff::DocumentHandoff(QObject* parent)
    : QWebEngineUrlSchemeHandler(parent) {}

void DocumentHandoff::registerScheme() {
    if (isRegistered())
        return;
    QWebEngineUrlScheme scheme(schemeName);
    // A host makes the reader page and its documents one origin, so that it may read them.
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Host);
    scheme.setFlags(QWebEngineUrlScheme::SecureScheme);
    QWebEngineUrlScheme::registerScheme(scheme);
}

bool DocumentHandoff::isRegistered() {
    return QWebEngineUrlScheme::schemeByName(schemeName).name() == schemeName;
}

DocumentHandoff* DocumentHandoff::on(QWebEngineProfile* profile) {
    if (!profile || !isRegistered())
        return nullptr;
    if (auto* handler = profile->findChild<DocumentHandoff*>(QString(), Qt::FindDirectChildrenOnly))
        return handler;
    auto* handler = new DocumentHandoff(profile);
    profile->installUrlSchemeHandler(schemeName, handler);
    return handler;
}

QUrl DocumentHandoff::readerUrl() {
    return QUrl(QStringLiteral("%1://%2/").arg(QString::fromLatin1(schemeName), readerHost));
}

QUrl DocumentHandoff::offer(const QByteArray& body, const QByteArray& contentType) {
    // Not to be guessed: only the reader page is told the address.
    const QString key =
        QStringLiteral("%1-%2").arg(++m_offered).arg(QRandomGenerator::system()->generate64(), 0, 36);
    m_documents.insert(key, {body, contentType});
    QUrl address = readerUrl();
    address.setPath(documentPrefix + key);
    return address;
}

void DocumentHandoff::withdraw(const QUrl& address) {
    m_documents.remove(address.path().mid(documentPrefix.size()));
}

void DocumentHandoff::requestStarted(QWebEngineUrlRequestJob* job) {
    const QUrl url = job->requestUrl();
    const QUrl reader = readerUrl();
    // Only the reader page itself reads documents; the page is loaded by the program alone.
    const bool fromReader = job->initiator().isEmpty() || (job->initiator().scheme() == reader.scheme() &&
                                                           job->initiator().host() == reader.host());
    if (url.host() != readerHost || !fromReader || job->requestMethod() != "GET") {
        job->fail(QWebEngineUrlRequestJob::RequestDenied);
        return;
    }
    auto* buffer = new QBuffer(job);
    if (url.path() == QLatin1String("/")) {
        buffer->setData(QByteArrayLiteral("<!DOCTYPE html><title></title>"));
        job->reply(QByteArrayLiteral("text/html; charset=utf-8"), buffer);
        return;
    }
    const auto found = url.path().startsWith(documentPrefix)
                           ? m_documents.constFind(url.path().mid(documentPrefix.size()))
                           : m_documents.constEnd();
    if (found == m_documents.constEnd()) {
        delete buffer;
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    }
    buffer->setData(found->body);
    job->reply(found->contentType, buffer);
}
