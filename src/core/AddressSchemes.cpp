#include "AddressSchemes.h"

namespace AddressSchemes {
namespace {

bool is(QStringView scheme, QLatin1StringView name) {
    return scheme.compare(name, Qt::CaseInsensitive) == 0;
}

} // namespace

bool isWeb(QStringView scheme) {
    return is(scheme, QLatin1StringView("http")) || is(scheme, QLatin1StringView("https"));
}

bool isWeb(const QUrl& url) {
    return isWeb(url.scheme());
}

bool isDownloadable(const QUrl& url) {
    return isWeb(url) || is(url.scheme(), QLatin1StringView("data"));
}

bool isHarvestPage(const QUrl& url) {
    return isWeb(url) || is(url.scheme(), QLatin1StringView("file"));
}

bool isPageNavigation(const QUrl& url) {
    const QString scheme = url.scheme();
    return isWeb(scheme) || is(scheme, QLatin1StringView("about")) || is(scheme, QLatin1StringView("data")) ||
           is(scheme, QLatin1StringView("blob"));
}

bool isDowngrade(const QUrl& from, const QUrl& to) {
    return is(from.scheme(), QLatin1StringView("https")) && is(to.scheme(), QLatin1StringView("http"));
}

} // namespace AddressSchemes
