#include "LocalFileName.h"

#include "LegacyCharset.h"

#include <QByteArray>
#include <QMimeDatabase>
#include <QStringDecoder>
#include <QStringList>
#include <QTextBoundaryFinder>

namespace {

// An extension longer than this (a query that happens to contain a dot, say) is not kept apart
// when a name has to be shortened or numbered.
constexpr qsizetype MaxExtensionBytes = 32;

// Code units of the code point at i: 2 for a surrogate pair, else 1.
qsizetype codePointUnits(const QString& text, qsizetype i) {
    return text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate() ? 2 : 1;
}

// UTF-8 bytes of the code point at i. A lone surrogate has no UTF-8 form; it counts as the three bytes
// of the replacement character, never less than any encoder writes for it.
qsizetype codePointBytes(const QString& text, qsizetype i) {
    const char16_t c = text[i].unicode();
    if (c < 0x80)
        return 1;
    if (c < 0x800)
        return 2;
    return codePointUnits(text, i) == 2 ? 4 : 3;
}

// The length of text in UTF-8 bytes, counted without converting it.
qsizetype utf8Size(const QString& text) {
    qsizetype bytes = 0;
    for (qsizetype i = 0; i < text.size(); i += codePointUnits(text, i))
        bytes += codePointBytes(text, i);
    return bytes;
}

bool isSeparator(QChar c) {
    return c == u'/' || c == u'\\' || c == u':';
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Decodes %XX once, the bytes read as LegacyCharset reads them (UTF-8, else the page's encoding,
// Shift_JIS or EUC-JP). Returns the text unchanged when it has no escape, when the bytes read as
// nothing, or when the reading brings a separator or a control character. *legacy tells whether the
// bytes were other than UTF-8.
QString percentDecoded(const QString& text, const QString& pageCharset, bool* legacy) {
    *legacy = false;
    if (!text.contains(u'%'))
        return text;
    const QByteArray raw = text.toUtf8();
    // Written in place: never longer than the escaped text.
    QByteArray bytes(raw.size(), Qt::Uninitialized);
    char* out = bytes.data();
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (raw[i] == '%' && i + 2 < raw.size()) {
            const int hi = hexValue(raw[i + 1]);
            const int lo = hexValue(raw[i + 2]);
            if (hi >= 0 && lo >= 0) {
                *out++ = static_cast<char>(hi * 16 + lo);
                i += 2;
                continue;
            }
        }
        *out++ = raw[i];
    }
    bytes.truncate(out - bytes.constData());
    const QString decoded = LegacyCharset::decoded(bytes, {pageCharset});
    if (decoded.isNull())
        return text;
    // Checked on the text, not on the bytes: in Shift_JIS a 0x5C byte may be half of a character
    // ("表" is 95 5C), not a backslash.
    for (const QChar c : decoded) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || isSeparator(c))
            return text;
    }
    *legacy = !bytes.isValidUtf8();
    return decoded;
}

bool isReplaced(char32_t c) {
    // Printable ASCII first: most characters of most names.
    if (c >= 0x20 && c < 0x7f) {
        switch (c) {
        case U'<':
        case U'>':
        case U':':
        case U'"':
        case U'/':
        case U'\\':
        case U'|':
        case U'?':
        case U'*':
            return true;
        default:
            return false;
        }
    }
    // Control characters.
    if (c < 0x20 || c <= 0x9f)
        return true;
    if (c < 0x061c)
        return false;
    // Marks and overrides that change the direction of the text around them: a name could show
    // "gpj.exe" as "exe.jpg".
    if (c == 0x061c || c == 0x200e || c == 0x200f)
        return true;
    if ((c >= 0x202a && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069))
        return true;
    // A lone surrogate cannot be stored as UTF-8.
    return c >= 0xd800 && c <= 0xdfff;
}

QString withCharactersReplaced(const QString& text) {
    // Most names have nothing to replace: they are kept as they are, without a copy.
    qsizetype first = 0;
    while (first < text.size() && !isReplaced(text.at(first).unicode()))
        ++first;
    if (first == text.size())
        return text;
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            out += c;
            out += text[++i];
            continue;
        }
        out += isReplaced(c.unicode()) ? QChar(u'_') : c;
    }
    return out;
}

// Leading dots (no hidden files, no "." or "..") and trailing dots and spaces (which Windows drops).
QString withEndsTrimmed(QString name) {
    qsizetype begin = 0;
    while (begin < name.size() && name[begin] == u'.')
        ++begin;
    qsizetype end = name.size();
    while (end > begin && (name[end - 1] == u'.' || name[end - 1] == u' '))
        --end;
    return name.mid(begin, end - begin);
}

// The device name test for a stem of ASCII characters, without a copy: the same answers as the
// upper-casing comparison below.
bool isReservedAsciiStem(QStringView stem) {
    static constexpr QLatin1StringView Plain[] = {QLatin1StringView("CON"),    QLatin1StringView("PRN"),
                                                  QLatin1StringView("AUX"),    QLatin1StringView("NUL"),
                                                  QLatin1StringView("CONIN$"), QLatin1StringView("CONOUT$")};
    for (const QLatin1StringView plain : Plain) {
        if (stem.compare(plain, Qt::CaseInsensitive) == 0)
            return true;
    }
    if (stem.size() == 4 && (stem.first(3).compare(QLatin1StringView("COM"), Qt::CaseInsensitive) == 0 ||
                             stem.first(3).compare(QLatin1StringView("LPT"), Qt::CaseInsensitive) == 0))
        return stem[3] >= u'0' && stem[3] <= u'9';
    return false;
}

bool isReservedDeviceName(const QString& name) {
    // Device names are 3 to 7 characters before the first dot (spaces after them allowed).
    const qsizetype dot = name.indexOf(u'.');
    qsizetype stemEnd = dot < 0 ? name.size() : dot;
    while (stemEnd > 0 && name.at(stemEnd - 1) == u' ')
        --stemEnd;
    if (stemEnd < 3 || stemEnd > 7)
        return false;
    // Most stems are ASCII, or hold a character from U+3000 to U+D7FF (kana, kanji, hangul...), none of
    // which upper-cases to ASCII or is a digit: those are answered without upper-casing a copy.
    bool ascii = true;
    for (qsizetype i = 0; i < stemEnd; ++i) {
        const char16_t c = name.at(i).unicode();
        if (c >= 0x3000 && c < 0xd800)
            return false;
        ascii = ascii && c < 0x80;
    }
    if (ascii)
        return isReservedAsciiStem(QStringView(name).first(stemEnd));
    QString stem = name.left(stemEnd);
    while (stem.endsWith(u' '))
        stem.chop(1);
    stem = stem.toUpper();
    static const QStringList plain{QStringLiteral("CON"),    QStringLiteral("PRN"),
                                   QStringLiteral("AUX"),    QStringLiteral("NUL"),
                                   QStringLiteral("CONIN$"), QStringLiteral("CONOUT$")};
    if (plain.contains(stem))
        return true;
    if (stem.size() == 4 &&
        (stem.startsWith(QLatin1String("COM")) || stem.startsWith(QLatin1String("LPT")))) {
        const QChar last = stem[3];
        return (last >= u'0' && last <= u'9') || last == u'\u00b9' || last == u'\u00b2' || last == u'\u00b3';
    }
    return false;
}

// Where the extension begins (its dot), or -1 when the name has none worth keeping apart.
qsizetype extensionStart(const QString& name) {
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot <= 0)
        return -1;
    if (utf8Size(name.mid(dot)) > MaxExtensionBytes)
        return -1;
    return dot;
}

// The prefix of text that ends on a character boundary and fits in maxBytes of UTF-8: the longest one
// that ends between two grapheme clusters, or, when not even the first cluster fits (a letter with a
// long run of combining marks), the longest one that ends between two code points. Qt's boundary
// finder can report a boundary between the two halves of a surrogate pair (an emoji after a Thai
// letter, say), so only the ends of whole code points are candidates and bytes are counted per code
// point, never from halves.
// A character that is a grapheme cluster of its own whatever stands around it: printable ASCII and
// Latin-1, kana (not the combining sound marks), CJK ideographs, full-width forms and half-width
// katakana (not their sound marks).
bool standsAlone(char16_t c) {
    return (c >= 0x20 && c < 0x7f) || (c >= 0xa0 && c < 0x300) ||
           (c >= 0x3041 && c <= 0x30ff && c != 0x3099 && c != 0x309a) || (c >= 0x4e00 && c <= 0x9fff) ||
           (c >= 0xff01 && c <= 0xff9d);
}

// The length of the longest prefix within maxBytes when the text up to it, and the character after
// it, stand alone; -1 when some character there does not.
qsizetype plainPrefixWithin(const QString& text, qsizetype maxBytes) {
    qsizetype bytes = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (!standsAlone(c))
            return -1;
        bytes += c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
        if (bytes > maxBytes)
            return i;
    }
    return text.size();
}

QString prefixWithin(const QString& text, qsizetype maxBytes) {
    if (utf8Size(text) <= maxBytes)
        return text;
    // Text of characters that never join the one before them (most Latin and Japanese text) is cut
    // after the last character that fits, without asking where the clusters end.
    if (const qsizetype plain = plainPrefixWithin(text, maxBytes); plain >= 0)
        return text.left(plain);
    // No prefix within maxBytes is longer than maxBytes code units; the clusters are found in that
    // much of the text and a margin after it (a 2,000-character title is not analysed whole).
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text.left(maxBytes + 64));
    qsizetype lastCluster = 0;
    qsizetype lastCodePoint = 0;
    qsizetype bytes = 0;
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype units = codePointUnits(text, i);
        bytes += codePointBytes(text, i);
        if (bytes > maxBytes)
            break;
        i += units;
        lastCodePoint = i;
        finder.setPosition(i);
        if (finder.isAtBoundary())
            lastCluster = i;
    }
    return text.left(lastCluster > 0 ? lastCluster : lastCodePoint);
}

// A bare name made safe: characters replaced, ends trimmed, device names escaped, shortened. May be
// empty.
QString cleaned(const QString& bare) {
    QString name = withEndsTrimmed(withCharactersReplaced(bare));
    if (isReservedDeviceName(name))
        name.prepend(u'_');
    name = withEndsTrimmed(LocalFileNames::shortened(name));
    // Shortening can leave a device name behind ("CON" followed by 300 spaces and "x" is "CON" once
    // cut and trimmed).
    if (isReservedDeviceName(name))
        name = withEndsTrimmed(LocalFileNames::shortened(u'_' + name));
    return name;
}

// The media type of a Content-Type value, lower-cased, without its parameters.
QString mediaType(const QString& contentType) {
    return contentType.section(u';', 0, 0).trimmed().toLower();
}

bool isShiftJisLead(char c) {
    const auto b = quint8(c);
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

bool isShiftJisTrail(char c) {
    const auto b = quint8(c);
    return b >= 0x40 && b <= 0xFC && b != 0x7F;
}

// The bytes of a quoted string from *pos (past its opening quote) to its closing quote, escapes
// undone; *pos ends on the closing quote. With shiftJis, a Shift_JIS lead byte and its trail byte
// are one character, so that a trail byte 0x5C (表 is 95 5C, ソ 83 5C) is no backslash: servers
// that send Shift_JIS names do not escape it.
QByteArray quotedValue(const QByteArray& text, qsizetype* pos, bool shiftJis) {
    QByteArray value;
    qsizetype i = *pos;
    for (; i < text.size() && text[i] != '"'; ++i) {
        if (shiftJis && isShiftJisLead(text[i]) && i + 1 < text.size() && isShiftJisTrail(text[i + 1])) {
            value.append(text[i]);
            ++i;
        } else if (text[i] == '\\' && i + 1 < text.size()) {
            ++i;
        }
        value.append(text[i]);
    }
    *pos = i;
    return value;
}

// A Content-Disposition parameter value: a quoted string with its escapes undone, or a token. A
// quoted string whose bytes are no UTF-8 is read again with Shift_JIS characters kept whole.
QByteArray parameterValue(const QByteArray& text, qsizetype* pos) {
    qsizetype i = *pos;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    QByteArray value;
    if (i < text.size() && text[i] == '"') {
        const qsizetype start = ++i;
        value = quotedValue(text, &i, false);
        if (!value.isValidUtf8()) {
            i = start;
            value = quotedValue(text, &i, true);
        }
        if (i < text.size())
            ++i;
        while (i < text.size() && text[i] != ';')
            ++i;
    } else {
        const qsizetype end = text.indexOf(';', i);
        value = text.mid(i, end < 0 ? -1 : end - i).trimmed();
        i = end < 0 ? text.size() : end;
    }
    *pos = i;
    return value;
}

// RFC 5987: charset'language'percent-encoded bytes. Only UTF-8 and ISO-8859-1 are understood.
QString extendedValue(const QByteArray& value) {
    const qsizetype first = value.indexOf('\'');
    const qsizetype second = first < 0 ? -1 : value.indexOf('\'', first + 1);
    if (second < 0)
        return {};
    const QByteArray charset = value.left(first).trimmed().toLower();
    const QByteArray bytes = QByteArray::fromPercentEncoding(value.mid(second + 1));
    if (charset == "utf-8") {
        QStringDecoder decoder(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
        const QString text = decoder.decode(bytes);
        return decoder.hasError() ? QString() : text;
    }
    if (charset == "iso-8859-1")
        return QString::fromLatin1(bytes);
    return {};
}

// A plain filename parameter: UTF-8 when it is valid UTF-8 (as browsers read it), otherwise in the
// response's charset, the page's encoding, Shift_JIS or EUC-JP, and only then windows-1252 (the
// header's own encoding by the old rules). Empty when nothing reads it.
QString plainValue(const QByteArray& value, const QString& contentType, const QString& pageCharset) {
    return LegacyCharset::decoded(
        value, {LegacyCharset::charsetParameter(contentType), pageCharset, QStringLiteral("windows-1252")});
}

// The name of an address before it is cleaned; *legacy as percentDecoded gives it.
QString bareName(const QString& url, const QString& pageCharset, bool* legacy) {
    *legacy = false;
    // Read in place: only the last part is copied.
    QStringView address = url;
    if (const qsizetype hash = address.indexOf(u'#'); hash >= 0)
        address.truncate(hash);
    // A data: address has no path to name it after: it is "data" with the extension of its type.
    if (address.startsWith(QLatin1String("data:"), Qt::CaseInsensitive)) {
        QString type = address.mid(5).toString().section(u',', 0, 0).section(u';', 0, 0).trimmed();
        if (type.isEmpty())
            type = QStringLiteral("text/plain");
        return LocalFileNames::withTypeExtension(QStringLiteral("data"), type);
    }
    // The query is not part of the name, as in a browser's "save as".
    if (const qsizetype query = address.indexOf(u'?'); query >= 0)
        address.truncate(query);
    qsizetype cut = -1;
    for (qsizetype i = address.size() - 1; i >= 0; --i) {
        if (isSeparator(address[i])) {
            cut = i;
            break;
        }
    }
    return percentDecoded(address.mid(cut + 1).toString(), pageCharset, legacy);
}

} // namespace

QString LocalFileName(const QString& url, const QString& pageCharset) {
    bool legacy = false;
    const QString name = cleaned(bareName(url, pageCharset, &legacy));
    if (name.isEmpty())
        return QStringLiteral("index.html");
    return name;
}

namespace LocalFileNames {

QString shortened(const QString& name, qsizetype maxBytes) {
    if (utf8Size(name) <= maxBytes)
        return name;
    const qsizetype dot = extensionStart(name);
    if (dot < 0)
        return prefixWithin(name, maxBytes);
    const QString extension = name.mid(dot);
    const QString stem = prefixWithin(name.left(dot), maxBytes - utf8Size(extension));
    // No room left beside the extension: the name is cut as a whole rather than becoming ".ext" or
    // overrunning maxBytes.
    return stem.isEmpty() ? prefixWithin(name, maxBytes) : stem + extension;
}

QString numbered(const QString& name, int n) {
    if (n <= 1)
        return name;
    const QString suffix = QStringLiteral(" (%1)").arg(n);
    const qsizetype dot = extensionStart(name);
    const QString stem = dot < 0 ? name : name.left(dot);
    const QString extension = dot < 0 ? QString() : name.mid(dot);
    const qsizetype room = MaxNameBytes - utf8Size(suffix + extension);
    return prefixWithin(stem, room) + suffix + extension;
}

QString legacyName(const QString& url, const QString& pageCharset) {
    if (!url.contains(u'%'))
        return {};
    bool legacy = false;
    const QString name = cleaned(bareName(url, pageCharset, &legacy));
    return legacy ? name : QString();
}

QString fromContentDisposition(const QByteArray& header, const QString& contentType,
                               const QString& pageCharset) {
    QString plain;
    QString extended;
    qsizetype pos = header.indexOf(';');
    while (pos >= 0 && pos < header.size()) {
        ++pos; // past the ";"
        const qsizetype equals = header.indexOf('=', pos);
        if (equals < 0)
            break;
        // A parameter without a value ("attachment; foo; filename=...") ends at its ";".
        if (const qsizetype next = header.indexOf(';', pos); next >= 0 && next < equals) {
            pos = next;
            continue;
        }
        const QByteArray key = header.mid(pos, equals - pos).trimmed().toLower();
        pos = equals + 1;
        const QByteArray value = parameterValue(header, &pos);
        if (key == "filename*" && extended.isEmpty())
            extended = extendedValue(value);
        else if (key == "filename" && plain.isEmpty())
            plain = plainValue(value, contentType, pageCharset);
    }
    QString name = extended.isEmpty() ? plain : extended;
    // Only the last part of a path counts, whichever separator the server used.
    for (qsizetype i = name.size() - 1; i >= 0; --i) {
        if (name[i] == u'/' || name[i] == u'\\') {
            name = name.mid(i + 1);
            break;
        }
    }
    return cleaned(name);
}

QString withTypeExtension(const QString& name, const QString& contentType) {
    if (extensionStart(name) >= 0)
        return name;
    const QString type = mediaType(contentType);
    if (type.isEmpty() || type == u"application/octet-stream")
        return name;
    static const QMimeDatabase database;
    const QMimeType mime = database.mimeTypeForName(type);
    if (!mime.isValid() || mime.preferredSuffix().isEmpty())
        return name;
    // Cleaned again: shortening to make room for the extension can leave a device name behind.
    return cleaned(name + u'.' + mime.preferredSuffix());
}

QString safePart(const QString& text) {
    return cleaned(text);
}

bool isRelativePath(const QString& path) {
    for (const QStringView part : QStringView(path).split(u'/')) {
        if (!isPlainName(part.toString()))
            return false;
    }
    return true;
}

bool isPlainName(const QString& name) {
    if (name.isEmpty() || name == u"." || name == u"..")
        return false;
    if (name.contains(u'/') || name.contains(u'\\') || name.contains(QChar(0)))
        return false;
    // Qt reads a leading colon as a resource path: QDir(folder).filePath(":x") is ":x", not inside
    // the folder.
    if (name.startsWith(u':'))
        return false;
    // A lone surrogate has no UTF-8 form: the file would get another name than the one shown.
    if (!QStringView(name).isValidUtf16())
        return false;
    return utf8Size(name) <= MaxNameBytes;
}

} // namespace LocalFileNames
