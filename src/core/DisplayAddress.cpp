#include "DisplayAddress.h"

#include <QUrl>

namespace DisplayAddress {
namespace {

// Characters that a reader would not see, or that would reorder what is seen.
bool hidesSomething(const QString& text) {
    for (const QChar c : text) {
        switch (c.category()) {
        case QChar::Other_Control:
        case QChar::Other_Format:
        case QChar::Other_Surrogate:
        case QChar::Other_PrivateUse:
        case QChar::Other_NotAssigned:
        case QChar::Separator_Line:
        case QChar::Separator_Paragraph:
            return true;
        case QChar::Separator_Space:
            if (c != QLatin1Char(' '))
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
    const QUrl url(address, QUrl::StrictMode);
    if (!url.isValid())
        return address;
    const QString shown = url.toString(QUrl::PrettyDecoded);
    if (shown.isEmpty() || hidesSomething(shown))
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
