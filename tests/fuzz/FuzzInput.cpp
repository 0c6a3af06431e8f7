#include "FuzzInput.h"

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

void require(bool ok, const char* rule, const QString& input, const QString& result) {
    if (ok)
        return;
    std::fprintf(stderr, "\nBROKEN: %s\n  input:  \"%s\"\n  result: \"%s\"\n", rule,
                 printable(input).toUtf8().constData(), printable(result).toUtf8().constData());
    std::abort();
}

} // namespace FuzzInput
