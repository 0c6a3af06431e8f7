#pragma once

#include "tURLData.h"

#include <QByteArray>
#include <QList>
#include <QString>

// The result lists saved to a file: plain text (one address a line), CSV or JSON lines (the rows and
// lines of RecordFormat, the same as `nepirika harvest --json`), chosen by the file's suffix.
namespace ResultExport {

enum class Format { Text, Csv, JsonLines };

// .csv → CSV, .jsonl/.ndjson/.json → JSON lines, anything else → text.
Format formatFor(const QString& path);

// The file's content: text and JSON lines with LF line ends; CSV with a header line, CR LF line ends
// and a UTF-8 byte-order mark so that spreadsheets read the Japanese.
QByteArray content(const QList<tURLData>& records, Format format);

// Writes the records to path in its format without leaving a half-written file. Empty on success,
// otherwise the message for the user.
QString save(const QString& path, const QList<tURLData>& records);

// What reading a saved result file gave: its records in order, or why there are none.
struct Loaded {
    QList<tURLData> records;
    QString error; // for the user; empty when records were read
};

// The records of a CSV or JSON lines file as save wrote it (or `nepirika harvest --json`), with
// what they say of each entry (kind, page, measured facts). A file of plain addresses, or of any
// other kind, gives an error: it says nothing of the kinds.
Loaded parse(const QByteArray& content);
// The same for the file at path (at most LargestLoad bytes).
Loaded load(const QString& path);

inline constexpr qint64 LargestLoad = 256 * 1024 * 1024;

} // namespace ResultExport
