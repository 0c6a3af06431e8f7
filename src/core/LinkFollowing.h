#pragma once

#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>

// How far an analysis follows the links of its pages (see LinkFollowing).
struct FollowSettings {
    int depth = 0;
    bool spanHosts = false;
    // A link is followed when it contains any of these (as the list filter matches); none: any.
    QStringList match;
    bool obeyRobots = true;
    int maxPages = 300;
    double delaySeconds = 0;
};

// Which links of a harvested page are loaded as pages of their own, and which pages a run has
// already: following goes up to depth links away from the pages given, on the host of the page
// that links (unless spanHosts), narrowed by match texts, each page once (its address without the
// fragment), at most maxPages pages a run.
class LinkFollowing {
public:
    static constexpr int MostDepth = 3;
    static constexpr int DefaultMaxPages = 300;
    static constexpr int MostMaxPages = 10000;
    // The longest wait between starting two pages of one host.
    static constexpr double MostDelaySeconds = 600;
    // Pages of one host that load at once.
    static constexpr int PagesPerHost = 2;

    using Settings = FollowSettings;

    LinkFollowing();
    explicit LinkFollowing(const Settings& settings);
    const Settings& settings() const;

    // The address by which a page counts as loaded: without its fragment.
    static QString pageKey(const QUrl& url);
    // Whether an address names an image file by its path's extension.
    static bool namesImageFile(const QUrl& url);
    // Whether a document of this MIME type is harvested as a page (HTML, XHTML, or not known).
    static bool isPageType(const QString& type);

    // Takes a page given by the person (counted, remembered as loaded).
    void addGiven(const QUrl& url);
    // Remembers where a page actually was (after redirects), so no link loads it again. False when
    // that address was loaded already under another one.
    bool settle(const QUrl& asked, const QUrl& location);

    enum class Verdict {
        Follow,
        NotFollowed, // not a page link, too deep, another host, not matching, or already loaded
        OverLimit    // would be followed but the run has maxPages pages already
    };
    // Whether a link found at via on a page (at depth, whose address is from) is followed; a
    // followed link is counted and remembered.
    Verdict consider(const QString& link, const QString& via, const QUrl& from, int depth);
    // Pages counted so far (given and followed).
    int pages() const;

private:
    Settings m_settings;
    QSet<QString> m_seen;
    int m_pages = 0;
};
