#include "AddressInput.h"

#include <QRegularExpression>

namespace {

// The port as the text writes it: what follows the host in the authority that begins at begin, or
// an empty string when none is written.
QString writtenPort(const QString& text, qsizetype begin) {
    if (QStringView(text).mid(begin).startsWith(u"//"))
        begin += 2;
    qsizetype end = begin;
    while (end < text.size() && text[end] != u'/' && text[end] != u'?' && text[end] != u'#')
        ++end;
    QStringView hostPort = QStringView(text).mid(begin, end - begin);
    if (const qsizetype at = hostPort.lastIndexOf(u'@'); at >= 0)
        hostPort = hostPort.mid(at + 1);
    if (const qsizetype close = hostPort.lastIndexOf(u']'); close >= 0)
        hostPort = hostPort.mid(close + 1);
    const qsizetype colon = hostPort.lastIndexOf(u':');
    return colon < 0 ? QString() : hostPort.mid(colon + 1).toString();
}

// QUrl reads the digits of a port into a 64-bit number that wraps around, so that
// "http://host:18446744073709551697/" becomes port 81: another server than the one written. The
// port it took has to be the one the text gives.
bool portAsWritten(const QUrl& url, const QString& text, qsizetype authorityBegin) {
    if (url.port() < 0)
        return true;
    QString digits = writtenPort(text, authorityBegin);
    while (digits.size() > 1 && digits.startsWith(u'0'))
        digits.remove(0, 1);
    return digits == QString::number(url.port());
}

} // namespace

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
    if (const QRegularExpressionMatch match = withAuthority.match(t); match.hasMatch()) {
        const QUrl url(t, QUrl::TolerantMode);
        return url.isValid() && portAsWritten(url, t, match.capturedEnd()) ? url : QUrl();
    }
    const QUrl url = QUrl::fromUserInput(t);
    if (!url.isValid() || url.scheme().isEmpty() || !portAsWritten(url, t, 0))
        return {};
    return url;
}

} // namespace AddressInput
