#pragma once

#include "tURLData.h"

#include <QByteArray>
#include <QList>
#include <QString>

// The result lists saved to a file: plain text (one address a line), CSV (kind, address, source page,
// how it was found) or JSON lines (the fields of `nepirika harvest --json`), chosen by the file's suffix.
namespace ResultExport {

enum class Format { Text, Csv, JsonLines };

// One exported entry.
struct Row {
    QString kind;      // page, image, embed or script
    QString address;   // exact, as harvested
    QString source;    // the page it was found on
    QString via;       // how it was found; empty while the harvester does not say
    QString charset{}; // the encoding of the page it was found on (JSON lines only); may be empty
};

// The row of a record.
Row rowFor(const tURLData& record);

// .csv → CSV, .jsonl/.ndjson/.json → JSON lines, anything else → text.
Format formatFor(const QString& path);

// The file's content: text and JSON lines with LF line ends; CSV with a header line, CR LF line ends,
// quoted fields where needed, and a UTF-8 byte-order mark so that spreadsheets read the Japanese.
QByteArray content(const QList<Row>& rows, Format format);

// Writes the rows to path in its format without leaving a half-written file. Empty on success,
// otherwise the message for the user.
QString save(const QString& path, const QList<Row>& rows);

// The header line of the CSV format.
inline const QString CsvHeader = QStringLiteral("kind,address,source,via");

} // namespace ResultExport
