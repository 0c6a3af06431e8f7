#include "AddressInput.h"

#include <QRegularExpression>

namespace AddressInput {

QStringList lines(const QString& text) {
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\r|\n"));
    QStringList result;
    const QStringList raw = text.split(lineBreak);
    for (const QString& line : raw) {
        // QString::trimmed() knows ASCII and Unicode spaces, U+3000 included.
        const QString t = line.trimmed();
        if (!t.isEmpty())
            result.append(t);
    }
    return result;
}

QUrl toUrl(const QString& line) {
    const QString t = line.trimmed();
    if (t.isEmpty())
        return {};
    // An address written with its scheme and "//" is taken as written: guessing would turn a
    // malformed one ("http://exa mple.com/") into some other address.
    static const QRegularExpression withAuthority(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
    if (withAuthority.match(t).hasMatch()) {
        const QUrl url(t, QUrl::TolerantMode);
        return url.isValid() ? url : QUrl();
    }
    const QUrl url = QUrl::fromUserInput(t);
    if (!url.isValid() || url.scheme().isEmpty())
        return {};
    return url;
}

} // namespace AddressInput
