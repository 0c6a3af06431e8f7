// File naming: whatever address a page holds, its file name and every numbered form of it can be
// created as they are, on every platform, and are the same each time.

#include "FuzzInput.h"
#include "LocalFileName.h"

#include <QStringList>

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

// Why name cannot be created as it is; nullptr when it can.
const char* nameFault(const QString& name) {
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

void requireSound(const QString& name, const char* what, const QString& input) {
    const char* fault = nameFault(name);
    if (fault)
        FuzzInput::require(false, (QByteArray(what) + ": " + fault).constData(), input, name);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString url = FuzzInput::text(data, size);

    const QString name = LocalFileName(url);
    requireSound(name, "LocalFileName", url);
    FuzzInput::require(LocalFileName(url) == name, "LocalFileName is deterministic", url, name);

    FuzzInput::require(LocalFileNames::numbered(name, 1) == name, "numbered(name, 1) is the name", url, name);
    QStringList forms{name};
    for (const int n : {2, 3, 10, 9999, 2 + int(size % 9998)}) {
        const QString numbered = LocalFileNames::numbered(name, n);
        requireSound(numbered, "numbered", url);
        FuzzInput::require(LocalFileNames::numbered(name, n) == numbered, "numbered is deterministic", url,
                           numbered);
        if (!forms.contains(numbered, Qt::CaseInsensitive))
            forms.append(numbered);
    }
    // 2, 3, 10 and 9999 always differ from each other and from the name (the last may repeat one).
    FuzzInput::require(forms.size() >= 5, "numbered forms differ from each other", url, forms.join(u'|'));

    // Any limit: never more bytes than asked, never half a character.
    const qsizetype limit = qsizetype(size % 64) + 1;
    const QString cut = LocalFileNames::shortened(url, limit);
    const bool fits = QStringView(url).isValidUtf16() && url.toUtf8().size() <= limit;
    FuzzInput::require(!fits || cut == url, "a short text is not cut", url, cut);
    if (cut != url) {
        FuzzInput::require(QStringView(cut).isValidUtf16() || !QStringView(url).isValidUtf16(),
                           "shortened never splits a surrogate pair", url, cut);
        FuzzInput::require(cut.toUtf8().size() <= limit, "shortened stays within its limit", url, cut);
    }
    return 0;
}
