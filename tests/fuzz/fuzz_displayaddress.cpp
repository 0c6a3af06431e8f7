// The readable display: what the lists show of an address hides no character, and a decoded form,
// pasted into the input box, is the same address.

#include "AddressInput.h"
#include "DisplayAddress.h"
#include "FuzzInput.h"

namespace {

// Unicode's default-ignorable code points and the blanks that show nothing.
bool isInvisible(char32_t c) {
    static const char32_t ranges[][2] = {
        {0x00ad, 0x00ad},   {0x034f, 0x034f},   {0x061c, 0x061c},  {0x115f, 0x1160}, {0x17b4, 0x17b5},
        {0x180b, 0x180f},   {0x200b, 0x200f},   {0x202a, 0x202e},  {0x2060, 0x206f}, {0x2800, 0x2800},
        {0x3164, 0x3164},   {0xfe00, 0xfe0f},   {0xfeff, 0xfeff},  {0xffa0, 0xffa0}, {0xfff0, 0xfff8},
        {0x1bca0, 0x1bca3}, {0x1d173, 0x1d17a}, {0xe0000, 0xe0fff}};
    for (const auto& range : ranges) {
        if (c >= range[0] && c <= range[1])
            return true;
    }
    const QChar::Category category = QChar::category(c);
    return category == QChar::Other_Control || category == QChar::Other_Format ||
           category == QChar::Other_Surrogate || category == QChar::Other_NotAssigned ||
           category == QChar::Separator_Line || category == QChar::Separator_Paragraph ||
           (category == QChar::Separator_Space && c != U' ');
}

// An address with its percent-escapes in capitals: "%e5" and "%E5" are the same byte to a server.
QString escapesInCapitals(QString address) {
    for (qsizetype i = address.indexOf(u'%'); i >= 0 && i + 2 < address.size();
         i = address.indexOf(u'%', i + 1)) {
        address[i + 1] = address[i + 1].toUpper();
        address[i + 2] = address[i + 2].toUpper();
    }
    return address;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString address = FuzzInput::text(data, size);
    const QString shown = DisplayAddress::forDisplay(address);
    FuzzInput::require(DisplayAddress::forDisplay(address) == shown, "forDisplay is deterministic", address);
    (void)DisplayAddress::forMatching(address);
    if (shown == address)
        return 0;
    for (const char32_t c : shown.toUcs4())
        FuzzInput::require(!isInvisible(c), "nothing invisible is shown decoded", address, shown);
    FuzzInput::require(AddressInput::lines(shown) == QStringList{shown}, "the shown form is one clean line",
                       address, shown);
    const QUrl url = AddressInput::toUrl(address);
    if (url.isValid())
        FuzzInput::require(escapesInCapitals(AddressInput::toUrl(shown).toString(QUrl::FullyEncoded)) ==
                               escapesInCapitals(url.toString(QUrl::FullyEncoded)),
                           "the shown form pasted back is the same address", address, shown);
    return 0;
}
