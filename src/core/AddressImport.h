#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Addresses read from a file for the input box: a text file (one address a line; the records of
// `nepirika harvest`, its --json lines and a CSV export give their address), a CSV file (its
// "address" column), or a saved HTML page (the targets of its links). Every address read stands in
// the box as one line, exactly as read (see isEntry); one that would not is left out.
namespace AddressImport {

struct Result {
    QStringList addresses;
    QString error; // empty when the file was read
};

// The addresses of the file at path; HTML by its suffix (.htm, .html, .xhtml) or by its content, CSV
// by its suffix or by the header line of the result lists' CSV.
Result fromFile(const QString& path);

// The addresses of a file's content; `fileName` only helps to tell HTML from text.
QStringList fromContent(const QByteArray& content, const QString& fileName = {});

// Text: one address a line, blanks around it dropped, empty lines skipped. A record (a JSON line, a
// "kind<TAB>address" line, a CSV export's row; see RecordFormat) gives its address; another line
// with a tab gives the part before it (a saved failure list).
QStringList fromText(const QString& text);

// HTML: the href of each <a> and <area>, entities decoded, resolved against the page's <base href> or
// the address a browser noted when it saved the page ("saved from url"); fragments and mail, script and
// data links left out; each address once, in page order, written as the input box reads it back.
// A link that the box would read as another address, or none, is left out.
QStringList fromHtml(const QString& html);

// Bytes to text: a byte-order mark, else UTF-8 when valid, else the charset the content declares, else
// Shift_JIS.
QString decode(const QByteArray& content);

// True when text can stand in the input box as one entry and is read back from there as it is: not
// empty, one line without blanks around it, no control character, no lone surrogate, and none of the
// characters the box turns into others (line and paragraph separators, the no-break space).
bool isEntry(const QString& text);

// One line of `nepirika harvest --json`: its "url" and "source". False when the line is not such an
// object.
bool parseJsonLine(const QString& line, QString* url, QString* source);

} // namespace AddressImport
