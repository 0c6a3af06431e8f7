#include "FuzzInput.h"

#include "LocalFileName.h"

#include <QStringList>

#include <cstdio>
#include <cstdlib>

namespace FuzzInput {

QString text(const uint8_t* data, size_t size) {
    QString out;
    out.reserve(qsizetype(size));
    size_t i = 0;
    while (i < size) {
        const uint8_t lead = data[i];
        if (lead < 0x80) {
            out += QChar(char16_t(lead));
            ++i;
            continue;
        }
        const size_t length = lead >= 0xc2 && lead <= 0xdf   ? 2
                              : lead >= 0xe0 && lead <= 0xef ? 3
                              : lead >= 0xf0 && lead <= 0xf4 ? 4
                                                             : 0;
        char32_t c = length == 2 ? lead & 0x1f : length == 3 ? lead & 0x0f : lead & 0x07;
        bool ok = length > 0 && i + length <= size;
        for (size_t k = 1; ok && k < length; ++k) {
            ok = (data[i + k] & 0xc0) == 0x80;
            c = (c << 6) | (data[i + k] & 0x3f);
        }
        const char32_t least = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
        if (!ok || c < least || c > 0x10ffff) {
            out += QChar::ReplacementCharacter;
            ++i;
            continue;
        }
        if (c >= 0xd800 && c <= 0xdfff)
            out += QChar(char16_t(c));
        else
            out += QString::fromUcs4(&c, 1);
        i += length;
    }
    return out;
}

QString printable(const QString& text) {
    QString out;
    for (const QChar c : text) {
        if (c.unicode() >= 0x20 && c.unicode() < 0x7f && c != u'\\')
            out += c;
        else
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QChar(u'0'));
    }
    return out;
}

Choices::Choices(const uint8_t* data, size_t size) {
    for (size_t i = 0; i < size; ++i)
        m_state = (m_state ^ data[i]) * 16777619u;
}

quint32 Choices::below(quint32 bound) {
    m_state = m_state * 1664525u + 1013904223u;
    return bound ? (m_state >> 8) % bound : 0;
}

namespace {

bool isDeviceName(const QString& name) {
    QString stem = name.section(u'.', 0, 0);
    while (stem.endsWith(u' '))
        stem.chop(1);
    stem = stem.toUpper();
    static const QStringList devices{"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    if (devices.contains(stem))
        return true;
    if (stem.size() != 4 || !(stem.startsWith(u"COM") || stem.startsWith(u"LPT")))
        return false;
    const char16_t last = stem[3].unicode();
    return (last >= u'0' && last <= u'9') || last == 0xb9 || last == 0xb2 || last == 0xb3;
}

bool isForbidden(char16_t c) {
    if (c < 0x20 || (c >= 0x7f && c <= 0x9f))
        return true; // control characters
    if (QStringView(u"<>:\"/\\|?*").contains(QChar(c)))
        return true;
    // Marks and overrides that turn the text around them.
    return c == 0x061c || c == 0x200e || c == 0x200f || (c >= 0x202a && c <= 0x202e) ||
           (c >= 0x2066 && c <= 0x2069);
}

} // namespace

const char* fileNameFault(const QString& name) {
    if (name.isEmpty())
        return "empty name";
    if (name == u"." || name == u"..")
        return "\".\" or \"..\"";
    if (name.startsWith(u'.'))
        return "leading dot";
    if (name.endsWith(u'.') || name.endsWith(u' '))
        return "trailing dot or space";
    if (!QStringView(name).isValidUtf16())
        return "half a surrogate pair";
    const QByteArray utf8 = name.toUtf8();
    if (utf8.size() > LocalFileNames::MaxNameBytes)
        return "longer than 255 bytes of UTF-8";
    if (QString::fromUtf8(utf8) != name)
        return "not valid UTF-8";
    for (const QChar c : name) {
        if (isForbidden(c.unicode()))
            return "separator, control or direction character";
    }
    if (isDeviceName(name))
        return "reserved device name";
    if (!LocalFileNames::isPlainName(name))
        return "refused by isPlainName";
    return nullptr;
}

void require(bool ok, const char* rule, const QString& input, const QString& result) {
    if (ok)
        return;
    std::fprintf(stderr, "\nBROKEN: %s\n  input:  \"%s\"\n  result: \"%s\"\n", rule,
                 printable(input).toUtf8().constData(), printable(result).toUtf8().constData());
    std::abort();
}

} // namespace FuzzInput
