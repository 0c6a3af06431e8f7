#include "DisplayAddress.h"

#include <QUrl>

namespace DisplayAddress {
namespace {

// Code points that show nothing, or nothing that tells them apart from others, though they are not
// format characters: fillers, blanks, variation selectors and the rest of Unicode's default-ignorable
// characters, and the lock icons that could pass for the address bar's own. An address bar keeps
// them encoded.
bool isBlank(char32_t c) {
    return c == 0x00ad || c == 0x034f || c == 0x115f || c == 0x1160 || c == 0x17b4 || c == 0x17b5 ||
           (c >= 0x180b && c <= 0x180f) || c == 0x2800 || c == 0x3164 || (c >= 0xfe00 && c <= 0xfe0f) ||
           c == 0xffa0 || (c >= 0xfff0 && c <= 0xfff8) || (c >= 0x1f50f && c <= 0x1f513) ||
           (c >= 0xe0000 && c <= 0xe0fff);
}

// Characters that a reader would not see, or that would reorder what is seen.
bool hidesSomething(const QString& text) {
    for (const char32_t c : text.toUcs4()) {
        if (isBlank(c))
            return true;
        switch (QChar::category(c)) {
        case QChar::Other_Control:
        case QChar::Other_Format:
        case QChar::Other_Surrogate:
        case QChar::Other_PrivateUse:
        case QChar::Other_NotAssigned:
        case QChar::Separator_Line:
        case QChar::Separator_Paragraph:
            return true;
        case QChar::Separator_Space:
            if (c != U' ')
                return true;
            break;
        default:
            break;
        }
    }
    return false;
}

} // namespace

bool hasEncodedParts(const QString& address) {
    return address.contains(QLatin1Char('%')) || address.contains(QLatin1String("xn--"), Qt::CaseInsensitive);
}

QString forDisplay(const QString& address) {
    if (!hasEncodedParts(address))
        return address;
    // Without a scheme and "//" the input box would guess what the address is, and might guess
    // otherwise once it is decoded.
    const QUrl url(address, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative() || QStringView(address).mid(url.scheme().size(), 3) != u"://")
        return address;
    const QString shown = url.toString(QUrl::PrettyDecoded);
    // A space at either end would be trimmed away when the shown form is pasted back.
    if (shown.isEmpty() || shown.front() == u' ' || shown.back() == u' ' || hidesSomething(shown))
        return address;
    return shown;
}

QString forMatching(const QString& address) {
    if (!hasEncodedParts(address))
        return address;
    QString decoded = QUrl::fromPercentEncoding(address.toUtf8());
    const QUrl url(address, QUrl::StrictMode);
    const QString ace = url.isValid() ? url.host(QUrl::FullyEncoded) : QString();
    if (ace.contains(QLatin1String("xn--"), Qt::CaseInsensitive)) {
        const QString host = QUrl::fromAce(ace.toLatin1(), QUrl::IgnoreIDNWhitelist);
        if (!host.isEmpty())
            decoded.replace(ace, host, Qt::CaseInsensitive);
    }
    return decoded;
}

} // namespace DisplayAddress
