#pragma once

#include <QString>

// The name under which a downloaded address is stored. The same rules hold on every platform, so
// that a folder of downloads can be copied anywhere:
//  - the base is the part of the address after its last "/", "\" or ":", the query and the fragment
//    excluded (a data: address is "data" with the extension of its type);
//  - percent-encoded UTF-8 is decoded once, unless that would bring a separator, a control
//    character or an invalid sequence;
//  - < > : " / \ | ? *, control characters and bidirectional-override characters become "_";
//  - leading dots and trailing dots and spaces are removed, a device name reserved on Windows
//    (CON, NUL.txt, com1.log...) gets "_" in front;
//  - a name longer than 255 bytes (UTF-8) is shortened, keeping its extension and whole characters
//    (whole grapheme clusters where one fits, never half a surrogate pair);
//  - an empty name becomes "index.html".
// The result is always a plain name: never empty, ".", ".." or anything with a separator.
QString LocalFileName(const QString& url);

namespace LocalFileNames {

// The file name that a Content-Disposition header value gives (filename* before filename), cleaned by
// the same rules as LocalFileName; empty when the header names no usable file.
QString fromContentDisposition(const QByteArray& header);

// name with the extension that the media type of contentType implies ("photo", "image/jpeg" gives
// "photo.jpg"); name itself when it has an extension already or the type implies none.
QString withTypeExtension(const QString& name, const QString& contentType);

// The longest name, in UTF-8 bytes, that common file systems accept.
inline constexpr qsizetype MaxNameBytes = 255;

// "name (n).ext" as browsers number a name that is taken, shortened to MaxNameBytes when needed.
// n <= 1 gives the name itself.
QString numbered(const QString& name, int n);

// name cut to at most maxBytes UTF-8 bytes, keeping its extension when it is short enough and never
// splitting a character.
QString shortened(const QString& name, qsizetype maxBytes = MaxNameBytes);

// True when name can be created directly inside a folder as it is: not empty, not "." or "..",
// without "/", "\", NUL or a lone surrogate, and at most MaxNameBytes long.
bool isPlainName(const QString& name);

} // namespace LocalFileNames
