// The file name a response gives (Content-Disposition, filename* before filename, then the extension
// its type implies): always a name that can be created as it is, and other parameters before the
// file name never change it.

#include "FuzzInput.h"
#include "LocalFileName.h"

namespace {

void requireSound(const QString& name, const char* what, const QString& input) {
    if (const char* fault = FuzzInput::fileNameFault(name))
        FuzzInput::require(false, (QByteArray(what) + ": " + fault).constData(), input, name);
}

} // namespace

// Input: the Content-Disposition value, optionally followed by a NUL and the Content-Type.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    const qsizetype nul = input.indexOf('\0');
    const QByteArray header = nul < 0 ? input : input.left(nul);
    const QString type = nul < 0 ? QStringLiteral("image/jpeg") : QString::fromLatin1(input.mid(nul + 1));
    const QString shown = QString::fromLatin1(input);

    const QString name = LocalFileNames::fromContentDisposition(header);
    FuzzInput::require(LocalFileNames::fromContentDisposition(header) == name, "the name is deterministic",
                       shown);
    if (!name.isEmpty())
        requireSound(name, "fromContentDisposition", shown);
    requireSound(LocalFileNames::withTypeExtension(name.isEmpty() ? QStringLiteral("download") : name, type),
                 "withTypeExtension", shown);

    // Parameters of no interest, one of them without a value, before the others.
    if (const qsizetype semicolon = header.indexOf(';'); semicolon >= 0) {
        const QByteArray padded =
            header.left(semicolon + 1) + " foo; size=\"3;4\";" + header.mid(semicolon + 1);
        FuzzInput::require(LocalFileNames::fromContentDisposition(padded) == name,
                           "other parameters do not change the name", shown);
    }
    return 0;
}
