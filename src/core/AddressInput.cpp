#include "AddressInput.h"

#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <optional>

namespace {

// A lone surrogate has no UTF-8 form; browsers read it as U+FFFD, and so does every rule here
// (regular expressions refuse such text altogether).
QString withLoneSurrogatesReplaced(const QString& text) {
    if (QStringView(text).isValidUtf16())
        return text;
    QString out = text;
    for (qsizetype i = 0; i < out.size(); ++i) {
        if (out[i].isHighSurrogate() && i + 1 < out.size() && out[i + 1].isLowSurrogate())
            ++i;
        else if (out[i].isSurrogate())
            out[i] = QChar::ReplacementCharacter;
    }
    return out;
}

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

// Browsers take any run of slashes and backslashes after "http:" or "https:" as the start of the
// host, and a backslash before the query as a slash: "http:\\host\a.html", "http:/host/a.html" and
// "http:host/a.html" are all "http://host/a.html". Qt would keep them without a host, an address that
// the browser engine silently declines to load.
QString withWebSlashes(const QString& text) {
    static const QRegularExpression webScheme(QStringLiteral("^(https?):[/\\\\]*"),
                                              QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = webScheme.match(text);
    if (!match.hasMatch())
        return text;
    QString rest = text.mid(match.capturedEnd());
    for (qsizetype i = 0; i < rest.size() && rest[i] != u'?' && rest[i] != u'#'; ++i) {
        if (rest[i] == u'\\')
            rest[i] = u'/';
    }
    return match.captured(1) + QLatin1String("://") + rest;
}

// One part of a numeric host as browsers read it: decimal, octal after "0", hexadecimal after "0x".
// Values beyond 2^32 are capped there (they are too large either way).
std::optional<quint64> ipv4Number(QStringView part) {
    if (part.isEmpty())
        return std::nullopt;
    int radix = 10;
    if (part.size() >= 2 && part[0] == u'0' && (part[1] == u'x' || part[1] == u'X')) {
        radix = 16;
        part = part.mid(2);
    } else if (part.size() >= 2 && part[0] == u'0') {
        radix = 8;
        part = part.mid(1);
    }
    constexpr quint64 cap = quint64(1) << 32;
    quint64 value = 0;
    for (const QChar c : part) {
        const int digit = c.isDigit() && c.unicode() < 0x80 ? c.unicode() - u'0'
                          : (c >= u'a' && c <= u'f')        ? c.unicode() - u'a' + 10
                          : (c >= u'A' && c <= u'F')        ? c.unicode() - u'A' + 10
                                                            : -1;
        if (digit < 0 || digit >= radix)
            return std::nullopt;
        value = std::min(cap, value * quint64(radix) + quint64(digit));
    }
    return value;
}

// An http or https address names a host, and a host whose last label is a number is an IPv4
// address in one of the forms browsers read ("0x7f.1" is 127.0.0.1), or no host at all
// ("256.256.256.256", "foo.09"): the browser engine silently declines to load those. A numeric
// host is rewritten as the four decimal numbers that the engine would load.
bool webHostAccepted(QUrl& url) {
    const QString scheme = url.scheme();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return true;
    const QString host = url.host(QUrl::FullyEncoded);
    if (host.isEmpty())
        return false;
    if (host.contains(u':'))
        return true; // IPv6
    QList<QStringView> parts = QStringView(host).split(u'.');
    if (parts.size() > 1 && parts.last().isEmpty())
        parts.removeLast();
    const QStringView last = parts.last();
    const bool allDigits = !last.isEmpty() && std::all_of(last.begin(), last.end(),
                                                          [](QChar c) { return c >= u'0' && c <= u'9'; });
    if (!allDigits && !ipv4Number(last))
        return true; // a name
    if (parts.size() > 4)
        return false;
    QList<quint64> numbers;
    for (const QStringView part : std::as_const(parts)) {
        const std::optional<quint64> n = ipv4Number(part);
        if (!n)
            return false;
        numbers.append(*n);
    }
    quint64 address = numbers.last();
    if (address >= (quint64(1) << (8 * (5 - numbers.size()))))
        return false;
    for (qsizetype i = 0; i + 1 < numbers.size(); ++i) {
        if (numbers[i] > 255)
            return false;
        address += numbers[i] << (8 * (3 - i));
    }
    url.setHost(QStringLiteral("%1.%2.%3.%4")
                    .arg(address >> 24)
                    .arg((address >> 16) & 0xff)
                    .arg((address >> 8) & 0xff)
                    .arg(address & 0xff));
    return true;
}

// Full-width forms (U+FF01 to U+FF5E), the ideographic space and the ideographic full stop, which
// a Japanese input method gives for "http://", ":", " " or "." when it is left on.
bool isFullWidthForm(QChar c) {
    return (c.unicode() >= 0xff01 && c.unicode() <= 0xff5e) || c.unicode() == 0x3000 || c.unicode() == 0x3002;
}

// An address typed with the input method left on ("ｈｔｔｐ：／／ｅｘａｍｐｌｅ．ｃｏｍ／ａ"): its scheme and
// host are read in their compatibility forms (NFKC), as the address bar and the host name rules (IDNA) read
// them, "。" being a dot there too. The user information and what follows the host's end (the path, the
// query, the fragment) stay as written (they are percent-encoded as they are, as browsers do).
QString withHalfWidthSchemeAndHost(const QString& text) {
    if (!AddressInput::hasFullWidthForms(text))
        return text;
    // Each character as read, one piece per character of text.
    QStringList pieces;
    bool fullWidth = false;
    qsizetype end = 0;
    QString read;
    qsizetype authority = 0;
    for (; end < text.size(); ++end) {
        const QChar c = text[end];
        // "％" stays as written: read as "%" it would turn "％４１" into an escape of "A", where the host
        // name rules refuse it for the "%" it maps to.
        const QString piece = c.unicode() == 0x3002   ? QStringLiteral(".")
                              : c.unicode() == 0xff05 ? QString(c)
                                                      : QString(c).normalized(QString::NormalizationForm_KC);
        // The scheme's "//" opens the authority; the host ends at the first of "/?#\" after it.
        static const QRegularExpression schemeStart(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:/?$"));
        const bool separator = piece == u"/" || piece == u"?" || piece == u"#" || piece == u"\\";
        if (separator && !schemeStart.match(read).hasMatch())
            break;
        if (separator && read.endsWith(u'/'))
            authority = end + 1;
        fullWidth = fullWidth || isFullWidthForm(c);
        pieces.append(piece);
        read += piece;
    }
    if (!fullWidth)
        return text;
    const qsizetype at = QStringView(text).mid(authority, end - authority).lastIndexOf(u'@');
    const qsizetype hostBegin = at < 0 ? authority : authority + at + 1;
    QString out;
    for (qsizetype i = 0; i < end; ++i)
        out += i >= authority && i < hostBegin ? QString(text[i]) : pieces.at(i);
    if (end == text.size())
        return out;
    // The character that ends the host is read too ("／" as "/"); what follows stays as written.
    return out + QString(text[end]).normalized(QString::NormalizationForm_KC) + text.mid(end + 1);
}

// One reading of line by the address bar's rules (see AddressInput::toUrl), or an invalid QUrl with
// the reason in *reason when one is asked for.
QUrl readAddress(const QString& line, QString* reason) {
    auto refuse = [reason](const QString& why) {
        if (reason)
            *reason = why;
        return QUrl();
    };
    const QString t = withWebSlashes(withHalfWidthSchemeAndHost(withLoneSurrogatesReplaced(line.trimmed())));
    if (t.isEmpty())
        return refuse(QStringLiteral("アドレスがありません"));
    // An address written with its scheme and "//" is taken as written: guessing would turn a
    // malformed one ("http://exa mple.com/") into some other address.
    static const QRegularExpression withAuthority(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
    QUrl url;
    if (const QRegularExpressionMatch match = withAuthority.match(t); match.hasMatch()) {
        url = QUrl(t, QUrl::TolerantMode);
        if (!url.isValid() || !portAsWritten(url, t, match.capturedEnd()) || !webHostAccepted(url))
            return refuse(QStringLiteral("アドレスとして読めません"));
    } else {
        url = QUrl::fromUserInput(t);
        if (!url.isValid() || url.scheme().isEmpty() || !portAsWritten(url, t, 0) || !webHostAccepted(url))
            return refuse(QStringLiteral("アドレスとして読めません"));
    }
    // Qt takes a leading ":" as the start of a resource path (":23" becomes "file::23"), and
    // "file:a.html" names no file until a folder is chosen for it.
    // Only an address written as a file address is about files; anything else ("：23", ":23") lacks
    // its host.
    if (url.isLocalFile() && !url.path().startsWith(u'/')) {
        if (!t.startsWith(QLatin1String("file:"), Qt::CaseInsensitive))
            return refuse(QStringLiteral("アドレスとして読めません（「:」の前にホスト名がありません）"));
        return refuse(
            QStringLiteral("ファイルのアドレスは絶対パスで書いてください（file:///フォルダ/ファイル名）"));
    }
    return url;
}

} // namespace

namespace AddressInput {

QStringList lines(const QString& text) {
    // Split by hand: a regular expression refuses text that is no valid UTF-16 (a lone surrogate) and
    // would leave it whole, one "line" with breaks inside.
    QStringList result;
    auto add = [&result](QStringView line) {
        // QStringView::trimmed() knows ASCII and Unicode spaces, U+3000 included.
        const QStringView t = line.trimmed();
        if (!t.isEmpty())
            result.append(t.toString());
    };
    qsizetype begin = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c != u'\r' && c != u'\n')
            continue;
        add(QStringView(text).mid(begin, i - begin));
        if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            ++i;
        begin = i + 1;
    }
    add(QStringView(text).mid(begin));
    return result;
}

bool hasFullWidthForms(const QString& text) {
    return std::any_of(text.cbegin(), text.cend(), isFullWidthForm);
}

QStringList distinct(const QStringList& lines, qsizetype* repeats) {
    QStringList result;
    QSet<QString> seen;
    seen.reserve(lines.size());
    for (const QString& line : lines) {
        const QUrl url = toUrl(line);
        // Keys of the two kinds cannot meet: an address's key always has a scheme and ":".
        const QString key = url.isValid() ? url.toString(QUrl::FullyEncoded) : QLatin1Char(' ') + line;
        if (seen.contains(key))
            continue;
        seen.insert(key);
        result.append(line);
    }
    if (repeats)
        *repeats = lines.size() - result.size();
    return result;
}

QUrl toUrl(const QString& line, QString* reason) {
    QString why;
    const QUrl url = readAddress(line, &why);
    if (url.isValid()) {
        // Kept only when its own written form reads as the same address: Qt writes "x:0%30" (scheme
        // "x") as "x:00", which the address bar's rules take for host "x" and port 0.
        const QString encoded = url.toString(QUrl::FullyEncoded);
        if (readAddress(encoded, nullptr).toString(QUrl::FullyEncoded) == encoded)
            return url;
        why = QStringLiteral("アドレスとして読めません（書き直すと別のアドレスになります）");
    }
    if (reason)
        *reason = why;
    return {};
}

QString shown(const QUrl& url) {
    const QString readable = url.toString();
    const QString encoded = url.toString(QUrl::FullyEncoded);
    if (lines(readable) == QStringList{readable} && toUrl(readable).toString(QUrl::FullyEncoded) == encoded)
        return readable;
    return encoded;
}

QUrl asWritten(const QString& text) {
    const QString t = withLoneSurrogatesReplaced(text.trimmed());
    const QUrl url(t);
    const qsizetype scheme = url.scheme().size();
    const qsizetype authority = t.mid(scheme, 3) == QLatin1String("://") ? scheme + 3 : 0;
    return url.isValid() && portAsWritten(url, t, authority) ? url : QUrl();
}

} // namespace AddressInput
