#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Names that come as bytes rather than text (the percent-decoded last part of an address, a plain
// filename in a Content-Disposition header), read as a Japanese user expects from the older web,
// where Shift_JIS and EUC-JP are common.
namespace LegacyCharset {

// bytes as text, read in the first of these ways that reads them cleanly (no invalid sequence, no
// C1 control, no private-use character, no half surrogate pair, and the same bytes when written back
// in that encoding):
//  1. as UTF-8;
//  2. in each of encodings in turn (names as document.characterSet or a charset parameter gives
//     them: "Shift_JIS", "EUC-JP", "GBK"...); UTF-16 and UTF-32 names ("UTF16", "UCS-2", "unicode"...) are
//     skipped, and windows-1252 and its aliases (ISO-8859-1, US-ASCII: what a page that names no encoding
//     gets) wait until after 3;
//  3. as Shift_JIS or EUC-JP: when both read them, the reading with fewer half-width katakana and
//     other non-Japanese characters, then the one with more kanji and kana, then Shift_JIS;
//  4. in a windows-1252 named in encodings.
// Bytes that look like UTF-8 cut short are not guessed at (3 and 4). A null string when none reads
// them.
QString decoded(const QByteArray& bytes, const QStringList& encodings);

// The charset parameter of a Content-Type value ("text/html; charset=\"Shift_JIS\"" gives
// "Shift_JIS"); empty when it has none.
QString charsetParameter(const QString& contentType);

} // namespace LegacyCharset
