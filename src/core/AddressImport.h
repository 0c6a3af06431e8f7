#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Addresses read from a file for the input box: a text file (one address a line; JSON lines of
// `nepirika harvest --json` give their "url"), or a saved HTML page (the targets of its links).
namespace AddressImport {

struct Result {
    QStringList addresses;
    QString error; // empty when the file was read
};

// The addresses of the file at path; HTML by its suffix (.htm, .html, .xhtml) or by its content.
Result fromFile(const QString& path);

// The addresses of a file's content; `fileName` only helps to tell HTML from text.
QStringList fromContent(const QByteArray& content, const QString& fileName = {});

// Text: one address a line, blanks around it dropped, empty lines skipped. A line holding a JSON object
// gives its "url"; a line with a tab gives the part before it (a saved failure list).
QStringList fromText(const QString& text);

// HTML: the href of each <a> and <area>, entities decoded, resolved against the page's <base href> or
// the address a browser noted when it saved the page ("saved from url"); fragments and mail, script and
// data links left out; each address once, in page order.
QStringList fromHtml(const QString& html);

// Bytes to text: a byte-order mark, else UTF-8 when valid, else the charset the content declares, else
// Shift_JIS.
QString decode(const QByteArray& content);

// One line of `nepirika harvest --json`: its "url", "source" and "charset" (each pointer may be
// null). False when the line is not such an object.
bool parseJsonLine(const QString& line, QString* url, QString* source, QString* charset = nullptr);

} // namespace AddressImport
