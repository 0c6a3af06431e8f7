#include "CollectedAddress.h"

namespace {

bool isAsciiLetter(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

// The length of the scheme that starts the address (without its ':'), or 0 when there is none.
qsizetype schemeLength(const QString& address) {
    if (address.isEmpty() || !isAsciiLetter(address.at(0).unicode()))
        return 0;
    for (qsizetype i = 1; i < address.size(); ++i) {
        const char16_t c = address.at(i).unicode();
        if (c == u':')
            return i;
        if (!isAsciiLetter(c) && !(c >= u'0' && c <= u'9') && c != u'+' && c != u'-' && c != u'.')
            return 0;
    }
    return 0;
}

bool namesFile(QStringView scheme) {
    for (const char* s : {"http", "https", "ftp", "file", "data", "blob"})
        if (scheme.compare(QLatin1String(s), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

} // namespace

bool CollectedAddress::takes(const QString& address, Role role) {
    const qsizetype scheme = schemeLength(address);
    if (scheme == 0)
        return false;
    const QStringView name = QStringView(address).left(scheme);
    const bool data = name.compare(QLatin1String("data"), Qt::CaseInsensitive) == 0;
    if (address.size() > (data ? MaxDataChars : MaxChars))
        return false;
    if (role == Role::File && !namesFile(name))
        return false;
    for (const QChar c : address) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7F && u <= 0x9F))
            return false;
    }
    return true;
}
