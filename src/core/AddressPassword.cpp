#include "AddressPassword.h"

#include "AddressInput.h"

#include <QStringList>
#include <QUrl>

namespace AddressPassword {
namespace {

// Where the user information of address lies: [begin, at) before the "@" that ends it; false when
// there is none. Only the authority after "//" has one; an address without a scheme starts with it.
bool userInfo(const QString& address, qsizetype* begin, qsizetype* at) {
    const qsizetype scheme = address.indexOf(QLatin1String("://"));
    qsizetype start = 0;
    if (scheme >= 0) {
        start = scheme + 3;
    } else {
        // Without a scheme, only text that the input box reads as an address with a password
        // ("a:b@example.com"): "mailto:x@y" names a scheme of its own and has none.
        if (AddressInput::toUrl(address.trimmed()).password().isEmpty())
            return false;
        while (start < address.size() && address.at(start).isSpace())
            ++start;
    }
    // The authority ends at the first "/", "\", "?" or "#"; its user information at its last "@".
    qsizetype end = address.size();
    for (QChar stop : {u'/', u'\\', u'?', u'#'}) {
        const qsizetype found = address.indexOf(stop, start);
        if (found >= 0 && found < end)
            end = found;
    }
    const qsizetype atSign = address.lastIndexOf(QLatin1Char('@'), end - 1);
    if (atSign < start)
        return false;
    *begin = start;
    *at = atSign;
    return true;
}

} // namespace

QString withoutPassword(const QString& address) {
    qsizetype begin = 0, at = 0;
    if (!userInfo(address, &begin, &at))
        return address;
    const qsizetype colon = address.indexOf(QLatin1Char(':'), begin);
    if (colon < 0 || colon > at)
        return address;
    // "http://:pw@host" keeps no user information at all.
    if (colon == begin)
        return address.left(begin) + address.mid(at + 1);
    return address.left(colon) + address.mid(at);
}

QString withoutPasswords(const QString& text) {
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString& line : lines)
        line = withoutPassword(line);
    return lines.join(QLatin1Char('\n'));
}

bool hasPassword(const QString& address) {
    return withoutPassword(address) != address;
}

} // namespace AddressPassword
