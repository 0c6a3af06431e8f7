// Names as bytes in older encodings: a reading is valid UTF-16, the same each time, and a reading
// that is given writes back to the very bytes in one of the encodings that may have given it.

#include "FuzzInput.h"
#include "LegacyCharset.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <QStringList>

namespace {

// The encodings a server or a page may name, those that must be skipped among them.
const char* const Names[] = {"Shift_JIS", "EUC-JP", "UTF16",  "utf-16le",     "UTF32",       "UCS-2",
                             "CESU-8",    "SCSU",   "BOCU-1", "UTF-7",        "ISO-2022-JP", "GBK",
                             "Big5",      "KOI8-R", "UTF-8",  "windows-1252", "ISO-8859-1",  "unicode"};

bool encodesTo(const QString& text, const char* encoding, const QByteArray& bytes) {
    QStringEncoder encoder(encoding, QStringConverter::Flag::Stateless);
    if (!encoder.isValid())
        return false;
    const QByteArray again = encoder.encode(text);
    return !encoder.hasError() && again == bytes;
}

} // namespace

// Input: a byte choosing two of the names (its remainder and quotient by their number), then the
// bytes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const int count = int(std::size(Names));
    QStringList encodings{QString::fromLatin1(Names[data[0] % count]),
                          QString::fromLatin1(Names[(data[0] / count) % count])};
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    const QString input = encodings.join(u',') + u' ' + QString::fromLatin1(bytes.toHex());

    const QString text = LegacyCharset::decoded(bytes, encodings);
    FuzzInput::require(QStringView(text).isValidUtf16(), "a reading is valid UTF-16", input, text);
    FuzzInput::require(LegacyCharset::decoded(bytes, encodings) == text &&
                           text.isNull() == LegacyCharset::decoded(bytes, encodings).isNull(),
                       "the same reading each time", input, text);
    if (text.isNull())
        return 0;
    // UTF-8, the encodings named, the Japanese guesses and the Latin-1 of a weak name.
    bool written = false;
    for (const char* encoding : {"UTF-8", "Shift_JIS", "EUC-JP", "windows-1252"})
        written = written || encodesTo(text, encoding, bytes);
    for (const QString& name : std::as_const(encodings))
        written = written || encodesTo(text, name.toLatin1().constData(), bytes);
    FuzzInput::require(written, "a reading writes back to the same bytes", input, FuzzInput::printable(text));

    // The charset parameter of any Content-Type value.
    const QString value = LegacyCharset::charsetParameter(FuzzInput::text(data, size));
    FuzzInput::require(!value.contains(u';'), "a charset parameter holds no separator", input, value);
    return 0;
}
