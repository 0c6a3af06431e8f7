#include "AddressCollector.h"

#include "PageScan.h"
#include "TWebBrowser.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QRandomGenerator>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>

#include <memory>

namespace {

const QString scanScriptName = QStringLiteral("nepirika-scan");
// How often a collection that waits for frames is asked for its answer.
constexpr int takeIntervalMs = 10;

QString tr(const char* text) {
    return QCoreApplication::translate("AddressCollector", text);
}

QString scanSource() {
    // The key lets a frame's collector tell the top frame's requests from the page's own messages;
    // the page's scripts never see it.
    const quint64 a = QRandomGenerator::system()->generate64();
    const quint64 b = QRandomGenerator::system()->generate64();
    const QString key = QString::number(a, 36) + QString::number(b, 36);
    return QString::fromUtf8(pageScanSource).replace(QStringLiteral("__NEPIRIKA_KEY__"), key);
}

QString installedSource(QWebEnginePage* page) {
    const QList<QWebEngineScript> found = page->scripts().find(scanScriptName);
    return found.isEmpty() ? QString() : found.first().sourceCode();
}

QStringList toStringList(const QJsonValue& v) {
    QStringList out;
    const QJsonArray list = v.toArray();
    out.reserve(list.size());
    for (const QJsonValue& item : list)
        out.append(item.toString());
    return out;
}

// The via of each address from its one-character index into vias; false when they do not match.
bool toVias(const QJsonValue& codes, const QStringList& vias, qsizetype count, QStringList& out) {
    const QString text = codes.toString();
    if (text.size() != count)
        return false;
    out.clear();
    out.reserve(count);
    for (const QChar c : text) {
        const qsizetype i = qsizetype(c.unicode()) - 0x30;
        if (i < 0 || i >= vias.size())
            return false;
        out.append(vias.at(i));
    }
    return true;
}

// The encoding of each of count addresses from runs of [count, charset, ...]; what the runs do not
// cover is left empty.
QStringList fromRuns(const QJsonValue& runs, qsizetype count) {
    QStringList out;
    out.reserve(count);
    const QJsonArray list = runs.toArray();
    for (qsizetype i = 0; i + 1 < list.size() && out.size() < count; i += 2) {
        const QString charset = list.at(i + 1).toString();
        for (qint64 n = qint64(list.at(i).toDouble()); n > 0 && out.size() < count; --n)
            out.append(charset);
    }
    while (out.size() < count)
        out.append(QString());
    return out;
}

struct Collection {
    QPointer<QWebEnginePage> page;
    qint64 generation = -1;
    // The page's own deadline for its frames, and a second beyond it after which nothing is awaited.
    int frameBudgetMs = 0;
    QElapsedTimer clock;
    AddressCollector::Done done;
    QString ticket;

    void answer(const QString& text, const std::shared_ptr<Collection>& self) {
        PageAddresses addresses;
        const bool hadTicket = !ticket.isEmpty();
        // No answer at all to the start: the script did not run to its end.
        AddressCollector::Answer read = text.isEmpty() && ticket.isEmpty()
                                            ? AddressCollector::Answer::Unreadable
                                            : AddressCollector::read(text, generation, addresses, ticket);
        switch (read) {
        case AddressCollector::Answer::Complete:
            done(true, addresses, {});
            return;
        case AddressCollector::Answer::Unreadable:
            done(false, {}, tr("アドレスを集められませんでした"));
            return;
        case AddressCollector::Answer::Waiting:
            break;
        }
        if (!page)
            return;
        // The page's walk is done when the ticket comes; its frames' deadline is less than the budget away.
        if (!hadTicket) {
            clock.start();
        } else if (clock.elapsed() > frameBudgetMs + 1000) {
            done(false, {}, tr("フレームからの答えを待ちきれませんでした"));
            return;
        }
        QTimer::singleShot(takeIntervalMs, page, [self]() {
            if (!self->page)
                return;
            self->page->runJavaScript(AddressCollector::takeScript(self->ticket),
                                      QWebEngineScript::ApplicationWorld,
                                      [self](const QVariant& v) { self->answer(v.toString(), self); });
        });
    }
};

} // namespace

void AddressCollector::install(QWebEnginePage* page) {
    QWebEngineScriptCollection& scripts = page->scripts();
    if (!scripts.find(scanScriptName).isEmpty())
        return;
    QWebEngineScript script;
    script.setName(scanScriptName);
    script.setWorldId(QWebEngineScript::ApplicationWorld);
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setRunsOnSubFrames(true);
    script.setSourceCode(scanSource());
    scripts.insert(script);
}

QString AddressCollector::startScript(QWebEnginePage* page, int limit, int frameBudgetMs) {
    QString source = installedSource(page);
    if (source.isEmpty()) {
        install(page);
        source = installedSource(page);
    }
    // The collector is defined again where the document came without it (it keeps the one there).
    return source + QStringLiteral("\nwindow.__nepirikaScan.start(%1, %2);").arg(limit).arg(frameBudgetMs);
}

QString AddressCollector::takeScript(const QString& ticket) {
    return QStringLiteral("window.__nepirikaScan ? window.__nepirikaScan.take(%1) : '-';")
        .arg(QString::fromUtf8(QJsonDocument(QJsonArray{ticket}).toJson(QJsonDocument::Compact))
                 .mid(1)
                 .chopped(1));
}

AddressCollector::Answer AddressCollector::read(const QString& answer, qint64 generation,
                                                PageAddresses& addresses, QString& ticket) {
    if (answer.isEmpty())
        return Answer::Waiting; // frames are still answering: asked again with the same ticket
    if (answer.startsWith(QLatin1Char('t'))) {
        ticket = answer;
        return Answer::Waiting;
    }
    // One string crosses from the engine far faster than a list of many thousand.
    const QJsonObject map = QJsonDocument::fromJson(answer.toUtf8()).object();
    if (map.isEmpty())
        return Answer::Unreadable;
    PageAddresses a;
    a.location = QUrl(map.value(QStringLiteral("location")).toString());
    const QStringList vias = toStringList(map.value(QStringLiteral("vias")));
    a.links = toStringList(map.value(QStringLiteral("links")));
    a.images = toStringList(map.value(QStringLiteral("images")));
    a.embeds = toStringList(map.value(QStringLiteral("embeds")));
    if (!toVias(map.value(QStringLiteral("linkVias")), vias, a.links.size(), a.linkVias) ||
        !toVias(map.value(QStringLiteral("imageVias")), vias, a.images.size(), a.imageVias) ||
        !toVias(map.value(QStringLiteral("embedVias")), vias, a.embeds.size(), a.embedVias))
        return Answer::Unreadable;
    const QJsonObject charsets = map.value(QStringLiteral("charsets")).toObject();
    a.linkCharsets = fromRuns(charsets.value(QStringLiteral("links")), a.links.size());
    a.imageCharsets = fromRuns(charsets.value(QStringLiteral("images")), a.images.size());
    a.embedCharsets = fromRuns(charsets.value(QStringLiteral("embeds")), a.embeds.size());
    a.truncated = map.value(QStringLiteral("truncated")).toBool();
    a.fromLastNavigate = qint64(map.value(QStringLiteral("generation")).toDouble(-1.0)) == generation;
    addresses = std::move(a);
    return Answer::Complete;
}

void AddressCollector::collect(QWebEnginePage* page, qint64 generation, int frameBudgetMs, Done done,
                               int limit) {
    auto c = std::make_shared<Collection>();
    c->page = page;
    c->generation = generation;
    c->frameBudgetMs = std::max(0, frameBudgetMs);
    c->done = [done = std::move(done), page = QPointer<QWebEnginePage>(page)](
                  bool ok, const PageAddresses& addresses, const QString& reason) {
        // Always from the event loop, never from inside collect().
        if (page)
            QTimer::singleShot(0, page, [done, ok, addresses, reason]() { done(ok, addresses, reason); });
    };
    page->runJavaScript(startScript(page, limit, std::max(0, frameBudgetMs)),
                        QWebEngineScript::ApplicationWorld,
                        [c](const QVariant& v) { c->answer(v.toString(), c); });
}
