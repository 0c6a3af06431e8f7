// File naming: whatever address a page holds, its file name and every numbered form of it can be
// created as they are, on every platform, and are the same each time.

#include "FuzzInput.h"
#include "LocalFileName.h"

#include <QStringList>

namespace {

void requireSound(const QString& name, const char* what, const QString& input) {
    const char* fault = FuzzInput::fileNameFault(name);
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
