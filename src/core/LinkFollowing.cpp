#include "LinkFollowing.h"

#include "ResultFilter.h"

#include <QRegularExpression>

#include <algorithm>

LinkFollowing::LinkFollowing()
    : LinkFollowing(Settings{}) {}

LinkFollowing::LinkFollowing(const Settings& settings)
    : m_settings(settings) {
    m_settings.depth = std::clamp(m_settings.depth, 0, MostDepth);
    m_settings.maxPages = std::clamp(m_settings.maxPages, 1, MostMaxPages);
    m_settings.delaySeconds = std::clamp(m_settings.delaySeconds, 0.0, MostDelaySeconds);
    m_settings.match.removeAll(QString());
}

const LinkFollowing::Settings& LinkFollowing::settings() const {
    return m_settings;
}

QString LinkFollowing::pageKey(const QUrl& url) {
    return url.adjusted(QUrl::RemoveFragment).toString(QUrl::FullyEncoded);
}

bool LinkFollowing::namesImageFile(const QUrl& url) {
    static const QRegularExpression image(QStringLiteral("\\.(jpe?g|png|gif|webp|avif|bmp|svg|tiff?|heic)$"),
                                          QRegularExpression::CaseInsensitiveOption);
    return image.match(url.path()).hasMatch();
}

bool LinkFollowing::isPageType(const QString& type) {
    const QString t = type.trimmed().toLower();
    return t.isEmpty() || t == u"text/html" || t == u"application/xhtml+xml";
}

void LinkFollowing::addGiven(const QUrl& url) {
    ++m_pages;
    m_seen.insert(pageKey(url));
}

bool LinkFollowing::settle(const QUrl& asked, const QUrl& location) {
    if (!location.isValid())
        return true;
    const QString key = pageKey(location);
    if (key == pageKey(asked))
        return true;
    if (m_seen.contains(key))
        return false;
    m_seen.insert(key);
    return true;
}

LinkFollowing::Verdict LinkFollowing::consider(const QString& link, const QString& via, const QUrl& from,
                                               int depth) {
    if (depth >= m_settings.depth)
        return Verdict::NotFollowed;
    // Only what a person clicks: links and image-map areas, not the page's own frames (already in
    // its records) nor script, mail or data links.
    if (!via.endsWith(QLatin1String("a@href")) && !via.endsWith(QLatin1String("area@href")) &&
        !via.endsWith(QLatin1String("a@xlink:href")))
        return Verdict::NotFollowed;
    const QUrl url(link);
    const QString scheme = url.scheme();
    if (!url.isValid() || (scheme != u"http" && scheme != u"https" && scheme != u"file"))
        return Verdict::NotFollowed;
    if (scheme == u"file" && from.scheme() != u"file")
        return Verdict::NotFollowed;
    // A linked picture is an image record already.
    if (namesImageFile(url))
        return Verdict::NotFollowed;
    if (!m_settings.spanHosts && url.host().compare(from.host(), Qt::CaseInsensitive) != 0)
        return Verdict::NotFollowed;
    if (!m_settings.match.isEmpty() &&
        std::none_of(m_settings.match.cbegin(), m_settings.match.cend(),
                     [&](const QString& text) { return ResultFilter::matches(link, text); }))
        return Verdict::NotFollowed;
    const QString key = pageKey(url);
    if (m_seen.contains(key))
        return Verdict::NotFollowed;
    if (m_pages >= m_settings.maxPages)
        return Verdict::OverLimit;
    m_seen.insert(key);
    ++m_pages;
    return Verdict::Follow;
}

int LinkFollowing::pages() const {
    return m_pages;
}
