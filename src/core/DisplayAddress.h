#pragma once

#include <QString>

// How an address is shown to a person: decoded as a browser's address bar shows it ("…/写真.jpg" for
// "…/%E5%86%99%E7%9C%9F.jpg", "例え.jp" for "xn--r8jz45g.jp"). Only for reading: copies, exports and
// downloads use the exact address.
namespace DisplayAddress {

// The address decoded for reading. Percent-encoded UTF-8 is decoded where that leaves the address
// unambiguous ("%2F", "%25" and invalid sequences stay encoded); a host name is shown in Unicode where
// Qt's anti-spoofing list of top-level domains allows it. An address that is not a valid URL written
// with its scheme and "//", or whose
// decoded form would hide characters (controls, bidirectional marks, invisible spaces and fillers,
// default-ignorable characters) or begin or end with a space, is shown as it is. A decoded form pasted into
// the input box is the same address.
QString forDisplay(const QString& address);
// The same, with the last part of the path read as the name the file is saved under when its bytes
// are no UTF-8 but text in the encoding of the page it was found on (Shift_JIS, EUC-JP): ".../写真1.jpg"
// for ".../%8E%CA%90%5E1.jpg" of a Shift_JIS page.
QString forDisplay(const QString& address, const QString& pageCharset);

// The address with every percent-encoded sequence and every international host name decoded, whatever
// its top-level domain: the form a filter text typed as the user reads it is matched against.
QString forMatching(const QString& address);

// True when the address has something to decode (a "%" or an "xn--" label).
bool hasEncodedParts(const QString& address);

} // namespace DisplayAddress
