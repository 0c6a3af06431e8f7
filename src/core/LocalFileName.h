#pragma once

#include <QString>

// The name under which a downloaded address is stored. The same rules hold on every platform, so
// that a folder of downloads can be copied anywhere:
//  - the base is the part of the address after its last "/", "\" or ":", the query and the fragment
//    excluded (a data: address is "data" with the extension of its type);
//  - percent-encoding is decoded once, unless that would bring a separator, a control character or
//    bytes that read as nothing: UTF-8, or else text in the encoding of the page the address was
//    found on (pageCharset, as document.characterSet names it), Shift_JIS or EUC-JP (LegacyCharset);
//  - < > : " / \ | ? *, control characters and bidirectional-override characters become "_";
//  - leading dots and trailing dots and spaces are removed, a device name reserved on Windows
//    (CON, NUL.txt, com1.log...) gets "_" in front;
//  - a name longer than 255 bytes (UTF-8) is shortened, keeping its extension and whole characters
//    (whole grapheme clusters where one fits, never half a surrogate pair);
//  - an empty name becomes "index.html".
// The result is always a plain name: never empty, ".", ".." or anything with a separator.
QString LocalFileName(const QString& url, const QString& pageCharset = {});

namespace LocalFileNames {

// LocalFileName(url, pageCharset) when the bytes of its last part are no UTF-8 but were read in
// another encoding; empty otherwise.
QString legacyName(const QString& url, const QString& pageCharset);

// The file name that a Content-Disposition header value gives (filename* before filename), cleaned by
// the same rules as LocalFileName; empty when the header names no usable file. A plain filename that
// is no UTF-8 is read in the charset of contentType (the response's Content-Type), the page's
// encoding, Shift_JIS or EUC-JP, or else windows-1252 (see LegacyCharset).
QString fromContentDisposition(const QByteArray& header, const QString& contentType = {},
                               const QString& pageCharset = {});

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

// text made safe as a name by the rules of LocalFileName (characters replaced, leading dots and
// trailing dots and spaces removed, device names escaped, shortened to MaxNameBytes); empty when
// nothing is left. A "/" or "\" in text becomes "_": it never makes a folder.
QString safePart(const QString& text);

// True when path is a plain name, or plain names joined by "/" (a file in folders inside the
// folder): never absolute, never with an empty, "." or ".." part.
bool isRelativePath(const QString& path);

// True when name can be created directly inside a folder as it is: not empty, not "." or "..",
// without "/", "\", NUL or a lone surrogate, not starting with ":" (a Qt resource path), and at most
// MaxNameBytes long.
bool isPlainName(const QString& name);

} // namespace LocalFileNames
