#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

// The rules for addresses that a person types or pastes: one a line, as an address bar takes them.
namespace AddressInput {

// Splits text into lines (CR LF, a lone CR and a lone LF each end one), trims surrounding blanks
// (ideographic spaces included) and leaves out blank lines.
QStringList lines(const QString& text);

// lines without their repeats: each address once, in the place where it first stands. Two lines are
// the same address when the address bar reads them so ("example.com/" and "http://example.com/");
// a line that is no address repeats only as the same text. *repeats (when given) counts the lines
// left out.
QStringList distinct(const QStringList& lines, qsizetype* repeats = nullptr);

// An address as a browser's address bar takes it: "example.com/x" becomes "http://example.com/x",
// an address with a scheme stays as it is, a lone surrogate reads as U+FFFD. Returns an invalid QUrl
// when the text is no address, or a file address whose path is not absolute (":23", "file:a.html"),
// with the reason in *reason when it is given.
QUrl toUrl(const QString& line, QString* reason = nullptr);

// Whether text holds full-width forms ("ｈｔｔｐ：／／", "。"), which the input box reads as typed with the
// input method left on: in their half-width forms before the end of the host (see toUrl).
bool hasFullWidthForms(const QString& text);

// The address as a person reads it (QUrl's readable form), unless that would not give the same
// address when pasted back (a "%20" at the end is a blank there, which pasting trims away): then it is
// written fully percent-encoded.
QString shown(const QUrl& url);

// The address exactly as written, without the address bar's guesses (surrounding blanks aside).
// Invalid when Qt would read it as another address than the one written (a port past 2^64).
QUrl asWritten(const QString& text);

} // namespace AddressInput
