#pragma once

#include "tURLData.h"

#include <QList>
#include <QString>
#include <QStringList>

// A harvest record written as text and read back, in the three forms the program uses:
//   the plain line of `nepirika harvest`:   kind<TAB>address<TAB>page (the page it was found on;
//     read back also without it, as older versions wrote it)
//   a JSON line of `nepirika harvest --json` and of a .jsonl export: {"kind","url","source","via",
//     "charset", "title", "name"}, an image's "alt", and an image's facts where known: "set", "descriptor", "element_width",
//     "element_height" (from the page), "width", "height", "bytes", "type", "probe_error" (from its
//     first bytes); "name" is the file name it is saved under by default, written only
//   a CSV row of a .csv export: kind,address,source,via,charset,width,height,bytes,type,title,alt,name (after
//     that header; an older export's four columns read back as well)
// The JSON and CSV forms take their fields from one table in RecordFormat.cpp: a field that a
// record gains is added there once and appears in the forms its row names, written and read.
namespace RecordFormat {

// The plain line. Tabs and line breaks cannot be part of an address (a browser drops them when it
// reads one), so they are left out rather than breaking the line.
QString tsvLine(const tURLData& record);
// One compact JSON object, without a line end.
QString jsonLine(const tURLData& record);
// The CSV header line and a record's row, both without a line end. Cells with a comma, a quote or a
// line break are quoted; a cell that a spreadsheet would run as a formula (starting with "=", "+",
// "-", "@", a tab or a carriage return) gets a leading "'".
QString csvHeader();
QString csvRow(const tURLData& record);

// One line or row read back. A field that the text does not give stays empty (Kind: page).
// False when the text is not a line of that form, or gives no address.
bool fromTsvLine(const QString& line, tURLData* record);
bool fromJsonLine(const QString& line, tURLData* record);
// A CSV row given as its cells (see csvCells), under a header's cells: columns are found by name,
// in any order; unknown ones are skipped.
bool fromCsvCells(const QStringList& cells, const QStringList& header, tURLData* record);

// A cell's value as csvRow wrote it: the "'" that guards a formula goes.
QString csvValue(const QString& cell);

// The cells of each CSV row of text; a quoted cell may hold line breaks.
QList<QStringList> csvCells(const QString& text);

// A line of an address list: a record when the line is one of the three forms, else the line
// itself (a plain address, or whatever the reader makes of it).
struct Entry {
    tURLData record; // URL holds the line when isRecord is false
    bool isRecord = false;
};

// Every non-blank line of text in order, blanks around each trimmed. Text that starts with a CSV
// header ("kind,address,…", after a byte-order mark) is read as CSV throughout; otherwise each line is tried
// as a JSON line, then as a plain line.
QList<Entry> readText(const QString& text);

} // namespace RecordFormat
