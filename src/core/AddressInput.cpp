#include "AddressInput.h"

#include <QRegularExpression>

namespace AddressInput {

QStringList lines(const QString& text)
{
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

QUrl toUrl(const QString& line)
{
    const QString t = line.trimmed();
    if (t.isEmpty())
        return {};
    const QUrl url = QUrl::fromUserInput(t);
    if (!url.isValid() || url.scheme().isEmpty())
        return {};
    return url;
}

} // namespace AddressInput
