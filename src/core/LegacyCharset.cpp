#include "LegacyCharset.h"

#include <QStringDecoder>

namespace {

const char* const ShiftJis = "Shift_JIS";
const char* const EucJp = "EUC-JP";

// A reading that a wrong guess tends to give: a replacement character, a C1 control (bytes that the
// encoding leaves undefined) or a private-use character (Shift_JIS's user-defined area); and one
// that is no text at all: half of a surrogate pair (CESU-8, SCSU, BOCU-1 and UTF-7 decoders give
// them without an error).
bool isClean(const QString& text) {
    if (!QStringView(text).isValidUtf16())
        return false;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == 0xfffd || (u >= 0x80 && u <= 0x9f) || (u >= 0xe000 && u <= 0xf8ff))
            return false;
    }
    return true;
}

// bytes read in the named encoding; null when it is unknown or does not read them cleanly. A clean
// reading is written back to the same bytes by the same encoding: a byte sequence that the decoder
// reads as another one's characters (or skips, as a redundant shift sequence) is no clean reading.
QString readAs(const QByteArray& bytes, const QByteArray& encoding) {
    QStringDecoder decoder(encoding.constData(), QStringConverter::Flag::Stateless);
    if (!decoder.isValid())
        return {};
    const QString text = decoder.decode(bytes);
    if (decoder.hasError() || text.isEmpty() || !isClean(text))
        return {};
    QStringEncoder encoder(encoding.constData(), QStringConverter::Flag::Stateless);
    const QByteArray again = encoder.encode(text);
    if (encoder.hasError() || again != bytes)
        return {};
    return text;
}

// UTF-16 and UTF-32 under any of their names: a byte string of a name is never in them (and their
// decoders leave half surrogate pairs in the text).
bool isWideUnicode(const QByteArray& name) {
    QByteArray plain = name;
    plain.replace('-', "").replace('_', "").replace(' ', "");
    if (plain.startsWith("x"))
        plain = plain.mid(1);
    if (plain.startsWith("cs"))
        plain = plain.mid(2);
    if (plain.startsWith("iso10646"))
        plain = plain.mid(8);
    return plain.startsWith("utf16") || plain.startsWith("utf32") || plain.startsWith("ucs2") ||
           plain.startsWith("ucs4") || plain.startsWith("unicode");
}

// What the engine calls a page that names no encoding (and a page that names Latin-1): no sign that
// the bytes of its addresses are meant that way.
bool isWeak(const QByteArray& name) {
    static const QByteArrayList weak{"windows-1252", "cp1252",   "x-cp1252", "iso-8859-1",
                                     "latin1",       "us-ascii", "ascii"};
    return weak.contains(name);
}

// Kanji, kana, Japanese punctuation and full-width forms.
bool isJapanese(char16_t u) {
    return (u >= 0x3000 && u <= 0x30ff) || (u >= 0x3400 && u <= 0x4dbf) || (u >= 0x4e00 && u <= 0x9fff) ||
           (u >= 0xf900 && u <= 0xfaff) || (u >= 0xff01 && u <= 0xff60) || (u >= 0xffe0 && u <= 0xffe6);
}

struct Score {
    qsizetype foreign = 0; // half-width katakana and anything else outside ASCII that is not Japanese
    qsizetype japanese = 0;
};

Score scoreOf(const QString& text) {
    Score score;
    for (const QChar c : text) {
        if (c.unicode() < 0x80)
            continue;
        if (isJapanese(c.unicode()))
            ++score.japanese;
        else
            ++score.foreign;
    }
    return score;
}

// UTF-8 that was cut short somewhere ("%E6%97.txt", the first two bytes of 日): every byte above
// 0x7F belongs to a UTF-8 lead byte followed by at least one of its continuation bytes, one of the
// sequences lacking some. Guessed as Shift_JIS, such bytes would read as rare kanji.
bool looksLikeCutUtf8(const QByteArray& bytes) {
    bool cut = false;
    for (qsizetype i = 0; i < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        const qsizetype needed = lead >= 0xc2 && lead <= 0xdf   ? 1
                                 : lead >= 0xe0 && lead <= 0xef ? 2
                                 : lead >= 0xf0 && lead <= 0xf4 ? 3
                                                                : -1;
        if (needed < 0)
            return false;
        qsizetype k = 0;
        while (k < needed && i + 1 + k < bytes.size() &&
               (static_cast<unsigned char>(bytes[i + 1 + k]) & 0xc0) == 0x80)
            ++k;
        if (k == 0)
            return false;
        cut = cut || k < needed;
        i += 1 + k;
    }
    return cut;
}

// The better of the Shift_JIS and the EUC-JP reading; null when neither reads the bytes.
QString japaneseGuess(const QByteArray& bytes) {
    const QString shiftJis = readAs(bytes, ShiftJis);
    const QString eucJp = readAs(bytes, EucJp);
    if (shiftJis.isNull() || eucJp.isNull())
        return shiftJis.isNull() ? eucJp : shiftJis;
    const Score s = scoreOf(shiftJis);
    const Score e = scoreOf(eucJp);
    if (e.foreign != s.foreign)
        return e.foreign < s.foreign ? eucJp : shiftJis;
    return e.japanese > s.japanese ? eucJp : shiftJis;
}

} // namespace

namespace LegacyCharset {

QString decoded(const QByteArray& bytes, const QStringList& encodings) {
    // A byte order mark is kept: these bytes are a name, not a document.
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    const QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text.isNull() ? QStringLiteral("") : text;
    bool weakNamed = false;
    for (const QString& encoding : encodings) {
        const QByteArray name = encoding.trimmed().toLower().toLatin1();
        if (name.isEmpty() || isWideUnicode(name))
            continue;
        if (isWeak(name)) {
            weakNamed = true;
            continue;
        }
        if (const QString read = readAs(bytes, name); !read.isNull())
            return read;
    }
    if (looksLikeCutUtf8(bytes))
        return {};
    if (const QString guess = japaneseGuess(bytes); !guess.isNull())
        return guess;
    return weakNamed ? readAs(bytes, "windows-1252") : QString();
}

QString charsetParameter(const QString& contentType) {
    const QStringList parameters = contentType.split(u';');
    for (qsizetype i = 1; i < parameters.size(); ++i) {
        const QString parameter = parameters.at(i).trimmed();
        const qsizetype equals = parameter.indexOf(u'=');
        if (equals < 0 || parameter.left(equals).trimmed().compare(u"charset", Qt::CaseInsensitive) != 0)
            continue;
        QString value = parameter.mid(equals + 1).trimmed();
        if (value.size() >= 2 && value.startsWith(u'"') && value.endsWith(u'"'))
            value = value.mid(1, value.size() - 2).trimmed();
        return value;
    }
    return {};
}

} // namespace LegacyCharset
