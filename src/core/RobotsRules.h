#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <vector>

// The rules of one host's robots.txt for a crawler, read as Google and Chromium read them: the
// group of the crawler's own name if there is one, else the group of "*"; of its Allow and
// Disallow rules the one with the longest pattern that matches the path (and query) decides, Allow
// winning a tie; "*" in a pattern stands for any characters and a final "$" for the end. A file that
// says nothing readable allows everything.
class RobotsRules {
public:
    // The most of a robots.txt that is read; a larger one is taken as allowing everything.
    static constexpr qint64 MostBytes = 512 * 1024;
    // How long its fetch may take before it is taken as allowing everything.
    static constexpr int FetchTimeoutMs = 10000;
    // The name that robots.txt groups address this program by.
    static QString agentName();

    // Everything allowed.
    RobotsRules() = default;
    // The rules for agent (compared without regard to case) in the text of a robots.txt.
    static RobotsRules parse(const QByteArray& text, const QString& agent = agentName());

    // Whether url may be loaded.
    bool allows(const QUrl& url) const;
    // Whether the path (with its query) may be loaded.
    bool allowsPath(const QString& pathAndQuery) const;
    bool isEmpty() const;

private:
    struct Rule {
        QString pattern;
        bool allow = false;
    };
    static bool matches(const QString& pattern, const QString& path);

    std::vector<Rule> m_rules;
};
