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

} // namespace ResultExport
