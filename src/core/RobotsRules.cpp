#include "RobotsRules.h"

#include <QList>

namespace {

// A line's field and value ("Disallow: /x # note" gives "disallow" and "/x").
bool splitLine(QByteArray line, QByteArray* field, QByteArray* value) {
    const qsizetype hash = line.indexOf('#');
    if (hash >= 0)
        line.truncate(hash);
    const qsizetype colon = line.indexOf(':');
    if (colon < 0)
        return false;
    *field = line.left(colon).trimmed().toLower();
    *value = line.mid(colon + 1).trimmed();
    return !field->isEmpty();
}

// A pattern as it is compared: percent-escapes in capitals, characters outside ASCII escaped, as
// the path of a URL stands.
QString normalized(const QByteArray& value) {
    return QString::fromLatin1(QUrl::toPercentEncoding(QString::fromUtf8(value), "/?=&;:@+$,*!'()~-._%"));
}

} // namespace

QString RobotsRules::agentName() {
    return QStringLiteral("nepirika");
}

RobotsRules RobotsRules::parse(const QByteArray& text, const QString& agent) {
    // The rules of the crawler's own groups and those of "*": a group is one or more user-agent
    // lines followed by its rules; several groups for one name are taken together.
    std::vector<Rule> own;
    std::vector<Rule> anyone;
    bool ownGroup = false;
    bool anyGroup = false;
    bool sawOwn = false;
    bool inAgents = false;
    const QByteArray wanted = agent.toLower().toUtf8();
    const QList<QByteArray> lines = text.split('\n');
    for (QByteArray line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
        QByteArray field, value;
        if (!splitLine(line, &field, &value))
            continue;
        if (field == "user-agent") {
            if (!inAgents) {
                ownGroup = anyGroup = false;
                inAgents = true;
            }
            // The product token only: "nepirika/1.0" names nepirika.
            const QByteArray name = value.split('/').first().trimmed().toLower();
            if (name == "*")
                anyGroup = true;
            else if (!name.isEmpty() && name == wanted)
                ownGroup = sawOwn = true;
            continue;
        }
        inAgents = false;
        const bool allow = field == "allow";
        if (!allow && field != "disallow")
            continue; // sitemap, crawl-delay and anything not understood
        // An empty Disallow allows everything: it is no rule.
        if (value.isEmpty())
            continue;
        const Rule rule{normalized(value), allow};
        if (ownGroup)
            own.push_back(rule);
        if (anyGroup)
            anyone.push_back(rule);
    }
    RobotsRules rules;
    rules.m_rules = sawOwn ? std::move(own) : std::move(anyone);
    return rules;
}

bool RobotsRules::isEmpty() const {
    return m_rules.empty();
}

bool RobotsRules::allows(const QUrl& url) const {
    if (m_rules.empty())
        return true;
    QString path = url.path(QUrl::FullyEncoded);
    if (path.isEmpty())
        path = QStringLiteral("/");
    if (url.hasQuery())
        path += QLatin1Char('?') + url.query(QUrl::FullyEncoded);
    return allowsPath(path);
}

bool RobotsRules::allowsPath(const QString& pathAndQuery) const {
    qsizetype best = -1;
    bool allowed = true;
    for (const Rule& rule : m_rules) {
        const qsizetype length = rule.pattern.size();
        if (length < best || (length == best && !rule.allow) || !matches(rule.pattern, pathAndQuery))
            continue;
        if (length > best || rule.allow)
            allowed = rule.allow;
        best = length;
    }
    return allowed;
}

bool RobotsRules::matches(const QString& pattern, const QString& path) {
    // "*" is any run of characters, a final "$" the end of the path; otherwise a prefix match.
    const bool anchored = pattern.endsWith(QLatin1Char('$'));
    const QString body = anchored ? pattern.chopped(1) : pattern;
    // The positions of path that the pattern read so far can end at, as a bit set.
    std::vector<char> at(size_t(path.size()) + 1, 0);
    at[0] = 1;
    for (const QChar c : body) {
        std::vector<char> next(at.size(), 0);
        bool any = false;
        if (c == u'*') {
            char reached = 0;
            for (size_t i = 0; i < at.size(); ++i) {
                reached = reached || at[i];
                next[i] = reached;
                any = any || reached;
            }
        } else {
            for (size_t i = 0; i + 1 < at.size(); ++i) {
                if (at[i] && path.at(qsizetype(i)) == c) {
                    next[i + 1] = 1;
                    any = true;
                }
            }
        }
        if (!any)
            return false;
        at.swap(next);
    }
    if (anchored)
        return at.back() != 0;
    for (char reached : at)
        if (reached)
            return true;
    return false;
}
