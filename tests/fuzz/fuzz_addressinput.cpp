// The address input rules: whatever text is pasted into the window (or the banner's list), it splits
// into clean lines, and every address taken from a line is valid and the same when its shown form is
// pasted back.

#include "AddressInput.h"
#include "FuzzInput.h"

namespace {

// A long paste holds many lines; a few tell as much about the rules.
constexpr qsizetype LinesChecked = 8;

void checkAddress(const QString& line) {
    // What a download takes when the address bar's rules refuse a line: Qt reads its own encoded
    // form back as the same address.
    const QUrl written = AddressInput::asWritten(line);
    if (written.isValid()) {
        const QString encoded = written.toString(QUrl::FullyEncoded);
        const QUrl writtenAgain = AddressInput::asWritten(encoded);
        FuzzInput::require(writtenAgain.isValid() && writtenAgain.toString(QUrl::FullyEncoded) == encoded,
                           "asWritten's address written again is the same address", line,
                           encoded + QStringLiteral(" -> ") + writtenAgain.toString(QUrl::FullyEncoded));
    }

    QString reason;
    const QUrl url = AddressInput::toUrl(line, &reason);
    FuzzInput::require(AddressInput::toUrl(line) == url, "toUrl is deterministic", line, url.toString());
    if (!url.isValid()) {
        FuzzInput::require(!reason.isEmpty(), "a refused address has a reason", line);
        return;
    }
    const QString shown = AddressInput::shown(url);
    FuzzInput::require(reason.isEmpty(), "a taken address has no reason", line, reason);
    FuzzInput::require(!url.scheme().isEmpty(), "a taken address has a scheme", line, shown);
    FuzzInput::require(!url.isLocalFile() || url.path().startsWith(u'/'),
                       "a file address has an absolute path", line, shown);
    FuzzInput::require(AddressInput::lines(shown) == QStringList{shown},
                       "the shown address is one clean line", line, shown);
    const QUrl again = AddressInput::toUrl(shown);
    FuzzInput::require(again.isValid() &&
                           again.toString(QUrl::FullyEncoded) == url.toString(QUrl::FullyEncoded),
                       "the shown address pasted back is the same address", line,
                       shown + QStringLiteral(" -> ") + again.toString(QUrl::FullyEncoded));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = FuzzInput::text(data, size);
    const QStringList lines = AddressInput::lines(text);
    for (const QString& line : lines) {
        FuzzInput::require(!line.isEmpty(), "no blank line", text);
        FuzzInput::require(line == line.trimmed(), "lines are trimmed", text, line);
        FuzzInput::require(!line.contains(u'\r') && !line.contains(u'\n'), "lines hold no break", text, line);
    }
    FuzzInput::require(AddressInput::lines(lines.join(u'\n')) == lines,
                       "lines pasted back are the same lines", text, lines.join(u'|'));
    for (qsizetype i = 0; i < lines.size() && i < LinesChecked; ++i)
        checkAddress(lines[i]);
    return 0;
}
