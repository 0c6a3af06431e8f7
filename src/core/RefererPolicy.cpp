#include "RefererPolicy.h"

#include "AddressSchemes.h"

namespace RefererPolicy {
namespace {

int effectivePort(const QUrl& url) {
    return url.port(url.scheme().toLower() == u"https" ? 443 : 80);
}

} // namespace

QByteArray refererFor(const QUrl& page, const QUrl& target) {
    const QString from = page.scheme().toLower();
    const QString to = target.scheme().toLower();
    if (!page.isValid() || page.host().isEmpty() || !AddressSchemes::isWeb(from) ||
        !AddressSchemes::isWeb(to))
        return {};
    if (AddressSchemes::isDowngrade(page, target))
        return {};
    const bool sameOrigin = from == to && page.host().compare(target.host(), Qt::CaseInsensitive) == 0 &&
                            effectivePort(page) == effectivePort(target);
    if (sameOrigin)
        return page.adjusted(QUrl::RemoveFragment | QUrl::RemoveUserInfo).toEncoded();
    return page.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment | QUrl::RemoveUserInfo)
               .toEncoded() +
           '/';
}

} // namespace RefererPolicy
