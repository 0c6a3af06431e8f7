#include "AddressCollector.h"

#include "PageScan.h"

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

QString randomKey() {
    const quint64 a = QRandomGenerator::system()->generate64();
    const quint64 b = QRandomGenerator::system()->generate64();
    return QString::number(a, 36) + QString::number(b, 36);
}

QString scanSource() {
    // The secret with which the collectors of a page's frames know each other's lines from the
    // page's own messages; the page's scripts never see it.
    return QString::fromUtf8(pageScanSource).replace(QStringLiteral("__NEPIRIKA_KEY__"), randomKey());
}

QString installedSource(QWebEnginePage* page) {
    const QList<QWebEngineScript> found = page->scripts().find(scanScriptName);
    return found.isEmpty() ? QString() : found.first().sourceCode();
}

// An encoding's name as document.characterSet gives it ("Shift_JIS", "windows-1252"); anything
// else is no name and stands for an encoding not known.
QString charsetName(const QString& text) {
    if (text.isEmpty() || text.size() > 40)
        return {};
    for (const QChar c : text) {
        if (!(c.isLetterOrNumber() && c.unicode() < 0x80) && c != u'-' && c != u'_' && c != u'.' && c != u':')
            return {};
    }
    return text;
}

QString jsString(const QString& text) {
    return QString::fromUtf8(QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact))
        .mid(1)
        .chopped(1);
}

// The script that starts a collection with its own key.
QString startScript(QWebEnginePage* page, const QString& key, int limit, qsizetype chars, int frameBudgetMs) {
    QString source = installedSource(page);
    if (source.isEmpty()) {
        AddressCollector::install(page);
        source = installedSource(page);
    }
    // The collector is defined again where the document came without it (it keeps the one there).
    return source + QStringLiteral("\nwindow.__nepirikaScan.start(%1, %2, %3, %4);")
                        .arg(jsString(key))
                        .arg(limit)
                        .arg(chars)
                        .arg(frameBudgetMs);
}

struct Collection {
    QPointer<QWebEnginePage> page;
    // The page's own deadline for its frames, and a second beyond it after which nothing is awaited.
    int frameBudgetMs = 0;
    QElapsedTimer clock;
    AddressCollector::Done done;
    std::function<void()> progress;
    AddressCollector::Assembly assembly;

    Collection(qint64 generation, int limit, qsizetype chars)
        : assembly(generation, limit, chars) {}

    void ask(const std::shared_ptr<Collection>& self) {
        if (!page)
            return;
        page->runJavaScript(AddressCollector::takeScript(assembly.ticket()),
                            QWebEngineScript::ApplicationWorld,
                            [self](const QVariant& v) { self->answer(v.toString(), self); });
    }

    void answer(const QString& text, const std::shared_ptr<Collection>& self) {
        const bool started = clock.isValid();
        // No answer at all to the start: the script did not run to its end.
        const AddressCollector::Assembly::Step step =
            text.isEmpty() && !started ? AddressCollector::Assembly::Step::Unreadable : assembly.add(text);
        if (!started)
            clock.start(); // the page's walk is done; its frames' deadline is less than the budget away
        switch (step) {
        case AddressCollector::Assembly::Step::Done:
            done(true, assembly.addresses(), {});
            return;
        case AddressCollector::Assembly::Step::Unreadable:
            done(false, {}, tr("アドレスを集められませんでした"));
            return;
        case AddressCollector::Assembly::Step::More:
            if (progress)
                progress();
            ask(self);
            return;
        case AddressCollector::Assembly::Step::Waiting:
            break;
        }
        if (!page)
            return;
        if (clock.elapsed() > frameBudgetMs + 1000) {
            done(false, {}, tr("フレームからの答えを待ちきれませんでした"));
            return;
        }
        QTimer::singleShot(takeIntervalMs, page, [self]() { self->ask(self); });
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

QString AddressCollector::takeScript(const QString& ticket) {
    return QStringLiteral("window.__nepirikaScan ? window.__nepirikaScan.take(%1) : '-';")
        .arg(jsString(ticket));
}

void AddressCollector::collect(QWebEnginePage* page, qint64 generation, int frameBudgetMs, Done done,
                               int limit, qsizetype chars, std::function<void()> progress) {
    auto c = std::make_shared<Collection>(generation, limit, chars);
    c->progress = std::move(progress);
    c->page = page;
    c->frameBudgetMs = std::max(0, frameBudgetMs);
    c->done = [done = std::move(done), page = QPointer<QWebEnginePage>(page)](
                  bool ok, const PageAddresses& addresses, const QString& reason) {
        // Always from the event loop, never from inside collect().
        if (page)
            QTimer::singleShot(0, page, [done, ok, addresses, reason]() { done(ok, addresses, reason); });
    };
    // Every collection has a key of its own: only answers that carry it count.
    page->runJavaScript(startScript(page, randomKey(), limit, chars, c->frameBudgetMs),
                        QWebEngineScript::ApplicationWorld,
                        [c](const QVariant& v) { c->answer(v.toString(), c); });
}

AddressCollector::Assembly::Assembly(qint64 generation, int limit, qsizetype chars)
    : m_generation(generation)
    , m_left(std::max(0, limit))
    , m_chars(std::max<qsizetype>(0, chars)) {}

const QString& AddressCollector::Assembly::ticket() const {
    return m_ticket;
}

PageAddresses& AddressCollector::Assembly::addresses() {
    return m_addresses;
}

AddressCollector::Assembly::Step AddressCollector::Assembly::add(const QString& answer) {
    if (answer.isEmpty())
        return Step::Waiting; // frames are still answering: asked again with the same ticket
    if (answer.startsWith(QLatin1Char('t'))) {
        m_ticket = answer;
        return Step::Waiting;
    }
    if (!answer.startsWith(QLatin1Char('{')) || !addPiece(answer))
        return Step::Unreadable;
    return m_ticket.isEmpty() ? Step::Done : Step::More;
}

bool AddressCollector::Assembly::addPiece(const QString& piece) {
    const QJsonObject map = QJsonDocument::fromJson(piece.toUtf8()).object();
    if (map.isEmpty())
        return false;
    if (m_first) {
        m_first = false;
        PageAddresses& a = m_addresses;
        a.location = QUrl(map.value(QStringLiteral("location")).toString());
        a.type = map.value(QStringLiteral("type")).toString().left(200);
        a.fromLastNavigate = qint64(map.value(QStringLiteral("generation")).toDouble(-1.0)) == m_generation;
        const QString cut = map.value(QStringLiteral("cut")).toString();
        a.truncated = !cut.isEmpty();
        a.cutByChars = cut == QLatin1String("chars");
        a.dropped = qsizetype(std::clamp(map.value(QStringLiteral("dropped")).toDouble(), 0.0, 1e9));
        for (const QJsonValue& frame : map.value(QStringLiteral("silent")).toArray())
            if (frame.isString() && a.silentFrames.size() < 1000)
                a.silentFrames.append(frame.toString().left(CollectedAddress::MaxChars));
    }
    for (const QJsonValue& via : map.value(QStringLiteral("vias")).toArray())
        m_vias.append(via.toString());
    PageAddresses& a = m_addresses;
    QList<qsizetype> takenLinks;
    addGroup(map, QStringLiteral("link"), CollectedAddress::Role::Link,
             {a.links, a.linkVias, a.linkCharsets, a.linkTitles}, &takenLinks);
    addLinkSets(map.value(QStringLiteral("linkSets")), takenLinks);
    QList<qsizetype> taken;
    addGroup(map, QStringLiteral("image"), CollectedAddress::Role::File,
             {a.images, a.imageVias, a.imageCharsets, a.imageTitles}, &taken);
    addImageFacts(map.value(QStringLiteral("imageFacts")), taken);
    addImageAlts(map.value(QStringLiteral("imageAlts")), taken);
    addGroup(map, QStringLiteral("embed"), CollectedAddress::Role::File,
             {a.embeds, a.embedVias, a.embedCharsets, a.embedTitles});
    m_ticket = map.value(QStringLiteral("more")).toString();
    return true;
}

namespace {

// Values that come as runs over a group's addresses: [count, value, count, value…].
class Runs {
public:
    explicit Runs(const QJsonValue& runs)
        : m_runs(runs.toArray()) {}
    // The value of the next address.
    QString next() {
        while (m_left < 1 && m_at + 1 < m_runs.size()) {
            m_left = m_runs.at(m_at).toDouble();
            m_value = m_runs.at(m_at + 1).toString();
            m_at += 2;
        }
        if (m_left < 1)
            m_value.clear();
        --m_left;
        return m_value;
    }

private:
    QJsonArray m_runs;
    qsizetype m_at = 0;
    double m_left = 0;
    QString m_value;
};

// The longest title and alternative text taken, as the collector cuts them.
constexpr qsizetype MostTitleChars = 4096;
constexpr qsizetype MostAltChars = 1024;

} // namespace

void AddressCollector::Assembly::addGroup(const QJsonObject& piece, const QString& prefix,
                                          CollectedAddress::Role role, Group group, QList<qsizetype>* taken) {
    const QJsonArray list = piece.value(prefix + u's').toArray();
    const QString code = piece.value(prefix + QStringLiteral("Vias")).toString();
    Runs charsets(piece.value(prefix + QStringLiteral("Charsets")));
    Runs titles(piece.value(prefix + QStringLiteral("Titles")));
    QStringList& to = group.to;
    QStringList& vias = group.vias;
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (taken)
            taken->append(-1);
        const QString charset = charsetName(charsets.next());
        const QString title = titles.next().left(MostTitleChars);
        const QString url = list.at(i).toString();
        if (!CollectedAddress::takes(url, role)) {
            ++m_addresses.dropped;
            continue;
        }
        if (m_cut)
            continue; // the bounds were reached before: nothing more is taken
        if (m_left <= 0 || url.size() > m_chars) {
            m_cut = true;
            m_addresses.truncated = true;
            m_addresses.cutByChars = m_addresses.cutByChars || m_left > 0;
            continue;
        }
        --m_left;
        m_chars -= url.size();
        if (taken)
            taken->back() = to.size();
        to.append(url);
        // The via of each address from its one-character index into the vias named so far.
        const qsizetype n = i < code.size() ? qsizetype(code.at(i).unicode()) - 0x30 : -1;
        vias.append(n >= 0 && n < m_vias.size() ? m_vias.at(n) : QString());
        group.charsets.append(charset);
        group.titles.append(title);
    }
}

void AddressCollector::Assembly::addImageAlts(const QJsonValue& alts, const QList<qsizetype>& taken) {
    // Pairs: the image's index among the piece's images, its alternative text.
    QStringList& to = m_addresses.imageAlts;
    while (to.size() < m_addresses.images.size())
        to.append(QString());
    const QJsonArray flat = alts.toArray();
    for (qsizetype k = 0; k + 1 < flat.size(); k += 2) {
        const double local = flat.at(k).toDouble(-1);
        if (!(local >= 0 && local < double(taken.size())) || taken.at(qsizetype(local)) < 0)
            continue;
        to[taken.at(qsizetype(local))] = flat.at(k + 1).toString().left(MostAltChars);
    }
}

void AddressCollector::Assembly::addImageFacts(const QJsonValue& facts, const QList<qsizetype>& taken) {
    // Flat groups of five: the image's index among the piece's images, its set (numbered from 1
    // within the page), its srcset descriptor, its element's width and height (-1: none). The facts
    // of an image that was not taken go with it.
    const QJsonArray flat = facts.toArray();
    for (qsizetype k = 0; k + 4 < flat.size(); k += 5) {
        const double local = flat.at(k).toDouble(-1);
        if (!(local >= 0 && local < double(taken.size())) || taken.at(qsizetype(local)) < 0)
            continue;
        PageAddresses::ImageFact f;
        f.index = taken.at(qsizetype(local));
        f.set = std::max(0, flat.at(k + 1).toInt());
        f.descriptor = flat.at(k + 2).toString().left(CollectedAddress::MaxChars);
        f.width = std::max(-1, flat.at(k + 3).toInt(-1));
        f.height = std::max(-1, flat.at(k + 4).toInt(-1));
        m_addresses.imageFacts.append(f);
    }
}

void AddressCollector::Assembly::addLinkSets(const QJsonValue& sets, const QList<qsizetype>& taken) {
    // Flat pairs: the link's index among the piece's links and the set of the image it wraps.
    const QJsonArray flat = sets.toArray();
    for (qsizetype k = 0; k + 1 < flat.size(); k += 2) {
        const double local = flat.at(k).toDouble(-1);
        const int set = flat.at(k + 1).toInt();
        if (!(local >= 0 && local < double(taken.size())) || taken.at(qsizetype(local)) < 0 || set <= 0)
            continue;
        m_addresses.linkSets.append({taken.at(qsizetype(local)), qint32(set)});
    }
}
