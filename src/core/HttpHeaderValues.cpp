#include "HttpHeaderValues.h"

#include <QRegularExpression>

#include <algorithm>

namespace HttpHeaderValues {
namespace {

// 1*DIGIT as HTTP writes numbers: no sign, no blanks, nothing past 2^63 - 1.
bool readDigits(const QByteArray& text, qint64* value) {
    if (text.isEmpty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    bool ok = false;
    *value = text.toLongLong(&ok);
    return ok;
}

// An HTTP date in any of the three forms HTTP names, always in GMT: "Sun, 06 Nov 1994 08:49:37 GMT",
// "Sunday, 06-Nov-94 08:49:37 GMT" and "Sun Nov  6 08:49:37 1994". (Qt's RFC 2822 reader refuses
// the "GMT" that every server writes.)
QDateTime httpDate(const QString& text) {
    static const QRegularExpression forms[] = {
        QRegularExpression(QStringLiteral("^[A-Z][a-z]{2}, (?<d>\\d\\d) (?<m>[A-Z][a-z]{2}) (?<y>\\d{4}) "
                                          "(?<t>\\d\\d:\\d\\d:\\d\\d) GMT$")),
        QRegularExpression(QStringLiteral("^[A-Z][a-z]{5,8}, (?<d>\\d\\d)-(?<m>[A-Z][a-z]{2})-(?<y>\\d\\d) "
                                          "(?<t>\\d\\d:\\d\\d:\\d\\d) GMT$")),
        QRegularExpression(QStringLiteral("^[A-Z][a-z]{2} (?<m>[A-Z][a-z]{2}) (?<d>[ \\d]\\d) "
                                          "(?<t>\\d\\d:\\d\\d:\\d\\d) (?<y>\\d{4})$"))};
    static const QString months = QStringLiteral("JanFebMarAprMayJunJulAugSepOctNovDec");
    for (const QRegularExpression& form : forms) {
        const QRegularExpressionMatch m = form.match(text);
        if (!m.hasMatch())
            continue;
        const qsizetype month = months.indexOf(m.captured(u"m"));
        int year = m.captured(u"y").toInt();
        // Two digits (the obsolete form): 70 to 99 in the 1900s, the rest in the 2000s.
        if (m.captured(u"y").size() == 2)
            year += year < 70 ? 2000 : 1900;
        const QDate date(year, month % 3 == 0 ? int(month / 3) + 1 : 0, m.captured(u"d").trimmed().toInt());
        const QTime time = QTime::fromString(m.captured(u"t"), u"hh:mm:ss");
        return date.isValid() && time.isValid() ? QDateTime(date, time, Qt::UTC) : QDateTime();
    }
    return {};
}

} // namespace

bool parseContentRange(const QByteArray& value, ContentRange* range) {
    const QByteArray text = value.trimmed();
    if (!text.startsWith("bytes "))
        return false;
    const QByteArray positions = text.mid(6).trimmed();
    const qsizetype dash = positions.indexOf('-');
    const qsizetype slash = positions.indexOf('/');
    if (dash <= 0 || slash <= dash)
        return false;
    ContentRange read;
    if (!readDigits(positions.left(dash), &read.first) ||
        !readDigits(positions.mid(dash + 1, slash - dash - 1), &read.last) || read.last < read.first)
        return false;
    const QByteArray whole = positions.mid(slash + 1);
    if (whole != "*" && (!readDigits(whole, &read.total) || read.total <= read.last))
        return false;
    *range = read;
    return true;
}

qint64 retryAfterSeconds(const QByteArray& value, const QDateTime& now) {
    const QByteArray text = value.trimmed();
    qint64 seconds = 0;
    if (readDigits(text, &seconds))
        return seconds;
    const QDateTime when = httpDate(QString::fromLatin1(text));
    if (!when.isValid())
        return -1;
    return std::max<qint64>(0, now.secsTo(when));
}

} // namespace HttpHeaderValues
