// Address import: whatever a file holds (text in UTF-8 or Shift_JIS, `harvest --json` lines, CSV, a
// saved page), every address read stands in the input box as one line and is read back from there as
// it is; a saved page's links are addresses that the box reads as written.

#include "AddressImport.h"
#include "AddressInput.h"
#include "FuzzInput.h"

#include <QStringDecoder>
#include <QStringEncoder>

// Input: a byte choosing the file's kind, then its content.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    static const char* const names[] = {"list.txt", "page.html", "saved.csv", "lines.jsonl"};
    const QString fileName = QString::fromLatin1(names[data[0] % 4]);
    const QByteArray content(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    const QString input = QString::fromLatin1(content);

    const QStringList addresses = AddressImport::fromContent(content, fileName);
    FuzzInput::require(AddressImport::fromContent(content, fileName) == addresses, "import is deterministic",
                       input);
    for (const QString& address : addresses) {
        FuzzInput::require(AddressImport::isEntry(address), "every address is one clean entry", input,
                           address);
        if (fileName == u"page.html")
            FuzzInput::require(AddressInput::toUrl(address).toString(QUrl::FullyEncoded) == address &&
                                   !address.contains(u'#') && addresses.count(address) == 1,
                               "a link is read back as written, once, without fragment", input, address);
    }
    FuzzInput::require(AddressInput::lines(addresses.join(u'\n')) == addresses,
                       "the addresses are the box's lines", input, addresses.join(u'|'));

    // The same text written in Shift_JIS reads the same (unless its bytes also happen to be UTF-8,
    // or it names a charset of its own).
    if (data[0] & 4) {
        const QString text = FuzzInput::text(data + 1, size - 1);
        QStringEncoder encoder("Shift_JIS");
        const QByteArray sjis = encoder(text);
        QStringDecoder back("Shift_JIS");
        QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
        const QString roundTrip = back(sjis);
        const QString asUtf8 = utf8(sjis);
        if (roundTrip == text && utf8.hasError() &&
            !text.contains(QLatin1String("charset"), Qt::CaseInsensitive))
            FuzzInput::require(AddressImport::fromContent(sjis, fileName) ==
                                   AddressImport::fromContent(text.toUtf8(), fileName),
                               "Shift_JIS reads as UTF-8 does", text);
    }
    return 0;
}
