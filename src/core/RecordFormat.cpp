#include "RecordFormat.h"

#include "AddressInput.h"
#include "LocalFileName.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <array>
#include <cmath>
#include <limits>

namespace RecordFormat {
namespace {

// How a field stands in the JSON form: always as a string, as a string only when it has one, or as
// a number only when it has one.
// ImageText: always for an image record, otherwise only when it has one.
enum class Shape { Text, OptionalText, Number, ImageText };

// One field of a record in the JSON and CSV forms. To give records a new field, add its row here.
struct Field {
    QLatin1StringView json; // the key of the JSON object
    QLatin1StringView csv;  // the column of the CSV header; empty for a field of the JSON form only
    Shape shape;
    // The value as text; empty for none (a Number's digits).
    QString (*get)(const tURLData&);
    void (*set)(tURLData&, const QString&);
};

bool kindFromName(const QString& name, qint32* kind) {
    for (qint32 k : {tURLData::KindPage, tURLData::KindImage, tURLData::KindEmbed, tURLData::KindScript}) {
        if (name == tURLData::kindName(k)) {
            *kind = k;
            return true;
        }
    }
    return false;
}

// A count (a size, a set's number) as a Number field has it: empty below least.
QString countText(qint64 value, qint64 least = 0) {
    return value >= least ? QString::number(value) : QString();
}

// A Number field's text read back: the count, or otherwise when it is none or out of range.
qint64 countValue(const QString& text, qint64 otherwise, qint64 most = std::numeric_limits<qint64>::max()) {
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    return ok && value >= 0 && value <= most ? value : otherwise;
}

// A JSON number that is a whole count, exactly as a double holds it.
bool isCount(const QJsonValue& value) {
    const double number = value.toDouble(-1);
    return value.isDouble() && number >= 0 && number <= 9007199254740992.0 && number == std::floor(number);
}

constexpr qint64 MostInt32 = std::numeric_limits<qint32>::max();

// The page's charset is always written (empty when not known). The page's facts of an image (set,
// srcset descriptor, element size) and those its first bytes gave (width, height, bytes, type,
// probe_error) are written only where they are known; the set, descriptor, element size and
// probe_error are of the JSON form only.
const std::array<Field, 18> Fields = {{
    {QLatin1StringView("kind"), QLatin1StringView("kind"), Shape::Text,
     [](const tURLData& r) { return tURLData::kindName(r.Kind); },
     [](tURLData& r, const QString& v) {
         kindFromName(v, &r.Kind);
     }},
    {QLatin1StringView("url"), QLatin1StringView("address"), Shape::Text,
     [](const tURLData& r) { return r.URL; },
     [](tURLData& r, const QString& v) {
         r.URL = v;
     }},
    {QLatin1StringView("source"), QLatin1StringView("source"), Shape::Text,
     [](const tURLData& r) { return r.Source; },
     [](tURLData& r, const QString& v) {
         r.Source = v;
     }},
    {QLatin1StringView("via"), QLatin1StringView("via"), Shape::Text, [](const tURLData& r) { return r.Via; },
     [](tURLData& r, const QString& v) {
         r.Via = v;
     }},
    // The encoding of the page it was found on, which reads a file name whose bytes are no UTF-8.
    {QLatin1StringView("charset"), QLatin1StringView("charset"), Shape::Text,
     [](const tURLData& r) { return r.Charset; },
     [](tURLData& r, const QString& v) {
         r.Charset = v;
     }},
    // The page's distance in links from one the person gave; only for pages that following loaded.
    {QLatin1StringView("depth"),
     {},
     Shape::Number,
     [](const tURLData& r) { return countText(r.Depth, 1); },
     [](tURLData& r, const QString& v) {
         r.Depth = qint32(countValue(v, 0, 3));
     }},
    {QLatin1StringView("set"),
     {},
     Shape::Number,
     [](const tURLData& r) { return countText(r.Set, 1); },
     [](tURLData& r, const QString& v) {
         r.Set = qint32(countValue(v, 0, MostInt32));
     }},
    {QLatin1StringView("descriptor"),
     {},
     Shape::OptionalText,
     [](const tURLData& r) { return r.Descriptor; },
     [](tURLData& r, const QString& v) {
         r.Descriptor = v;
     }},
    {QLatin1StringView("element_width"),
     {},
     Shape::Number,
     [](const tURLData& r) { return countText(r.ElementWidth); },
     [](tURLData& r, const QString& v) {
         r.ElementWidth = qint32(countValue(v, -1, MostInt32));
     }},
    {QLatin1StringView("element_height"),
     {},
     Shape::Number,
     [](const tURLData& r) { return countText(r.ElementHeight); },
     [](tURLData& r, const QString& v) {
         r.ElementHeight = qint32(countValue(v, -1, MostInt32));
     }},
    {QLatin1StringView("width"), QLatin1StringView("width"), Shape::Number,
     [](const tURLData& r) { return countText(r.Width); },
     [](tURLData& r, const QString& v) {
         r.Width = countValue(v, -1);
     }},
    {QLatin1StringView("height"), QLatin1StringView("height"), Shape::Number,
     [](const tURLData& r) { return countText(r.Height); },
     [](tURLData& r, const QString& v) {
         r.Height = countValue(v, -1);
     }},
    {QLatin1StringView("bytes"), QLatin1StringView("bytes"), Shape::Number,
     [](const tURLData& r) { return countText(r.Bytes); },
     [](tURLData& r, const QString& v) {
         r.Bytes = countValue(v, -1);
     }},
    {QLatin1StringView("type"), QLatin1StringView("type"), Shape::OptionalText,
     [](const tURLData& r) { return r.Type; },
     [](tURLData& r, const QString& v) {
         r.Type = v;
     }},
    // The page's title on every record and an image's alternative text: what a person names
    // files after, so columns of the CSV too.
    {QLatin1StringView("title"), QLatin1StringView("title"), Shape::Text,
     [](const tURLData& r) { return r.Title; },
     [](tURLData& r, const QString& v) {
         r.Title = v;
     }},
    {QLatin1StringView("alt"), QLatin1StringView("alt"), Shape::ImageText,
     [](const tURLData& r) { return r.Alt; },
     [](tURLData& r, const QString& v) {
         r.Alt = v;
     }},
    // The name the entry is saved under by default, derived from the address and the page's
    // encoding: written for people and scripts, never read back.
    {QLatin1StringView("name"), QLatin1StringView("name"), Shape::OptionalText,
     [](const tURLData& r) { return LocalFileName(r.URL, r.Charset); },
     [](tURLData&, const QString&) {
     }},
    {QLatin1StringView("probe_error"),
     {},
     Shape::OptionalText,
     [](const tURLData& r) { return r.ProbeError; },
     [](tURLData& r, const QString& v) {
         r.ProbeError = v;
     }},
}};

// A value that gets the "'" of csvCell: one that a spreadsheet would take for a formula, and one
// that only looks guarded already (apostrophes before a formula's first character), so that reading
// the cell back takes exactly one "'" away.
bool startsLikeFormula(QStringView value) {
    qsizetype i = 0;
    while (i < value.size() && value.at(i) == u'\'')
        ++i;
    if (i >= value.size())
        return false;
    const QChar c = value.at(i);
    return c == u'=' || c == u'+' || c == u'-' || c == u'@' || c == u'\t' || c == u'\r';
}

QString csvCell(const QString& value) {
    QString cell = startsLikeFormula(value) ? QLatin1Char('\'') + value : value;
    if (!cell.contains(QLatin1Char(',')) && !cell.contains(QLatin1Char('"')) &&
        !cell.contains(QLatin1Char('\n')) && !cell.contains(QLatin1Char('\r')))
        return cell;
    cell.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + cell + QLatin1Char('"');
}

QString withoutByteOrderMark(const QString& text) {
    return text.startsWith(QChar(0xFEFF)) ? text.mid(1) : text;
}

// The header of a CSV export, of this version or of one with other fields: it starts with the kind
// and the address.
bool isCsvHeader(const QString& line) {
    const QStringList names = line.split(QLatin1Char(','));
    return names.size() >= 2 && names.at(0).trimmed().compare(Fields[0].csv, Qt::CaseInsensitive) == 0 &&
           names.at(1).trimmed().compare(Fields[1].csv, Qt::CaseInsensitive) == 0;
}

} // namespace

QString tsvLine(const tURLData& record) {
    const auto oneCell = [](QString text) {
        return text.remove(QLatin1Char('\t')).remove(QLatin1Char('\r')).remove(QLatin1Char('\n'));
    };
    return tURLData::kindName(record.Kind) + QLatin1Char('\t') + oneCell(record.URL) + QLatin1Char('\t') +
           oneCell(record.Source);
}

QString jsonLine(const tURLData& record) {
    QJsonObject o;
    for (const Field& field : Fields) {
        const QString value = field.get(record);
        if (field.shape == Shape::Text ||
            (field.shape == Shape::ImageText && record.Kind == tURLData::KindImage))
            o.insert(field.json, value);
        else if (value.isEmpty())
            continue;
        else if (field.shape == Shape::Number)
            o.insert(field.json, value.toLongLong());
        else
            o.insert(field.json, value);
    }
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

QString csvHeader() {
    QStringList names;
    for (const Field& field : Fields) {
        if (!field.csv.isEmpty())
            names.append(field.csv);
    }
    return names.join(QLatin1Char(','));
}

QString csvRow(const tURLData& record) {
    QStringList cells;
    for (const Field& field : Fields) {
        if (!field.csv.isEmpty())
            cells.append(csvCell(field.get(record)));
    }
    return cells.join(QLatin1Char(','));
}

bool fromTsvLine(const QString& line, tURLData* record) {
    const qsizetype tab = line.indexOf(QLatin1Char('\t'));
    if (tab < 0)
        return false;
    tURLData read;
    // Only a kind name before the tab makes it a record's line: "address<TAB>reason" is not one.
    if (!kindFromName(line.left(tab).trimmed(), &read.Kind))
        return false;
    // The page it was found on follows in a third column (lines of older versions have two).
    const QString rest = line.mid(tab + 1);
    const qsizetype pageTab = rest.indexOf(QLatin1Char('\t'));
    read.URL = rest.left(pageTab).trimmed();
    if (pageTab >= 0)
        read.Source = rest.mid(pageTab + 1).section(QLatin1Char('\t'), 0, 0).trimmed();
    if (read.URL.isEmpty())
        return false;
    *record = read;
    return true;
}

bool fromJsonLine(const QString& line, tURLData* record) {
    const QString trimmed = line.trimmed();
    if (!trimmed.startsWith(QLatin1Char('{')))
        return false;
    const QJsonDocument doc = QJsonDocument::fromJson(trimmed.toUtf8());
    if (!doc.isObject())
        return false;
    const QJsonObject o = doc.object();
    tURLData read;
    for (const Field& field : Fields) {
        const QJsonValue value = o.value(field.json);
        if (field.shape != Shape::Number && value.isString())
            field.set(read, value.toString());
        else if (field.shape == Shape::Number && isCount(value))
            field.set(read, QString::number(qint64(value.toDouble())));
    }
    if (!o.value(QLatin1StringView("url")).isString() || read.URL.isEmpty())
        return false;
    *record = read;
    return true;
}

bool fromCsvCells(const QStringList& cells, const QStringList& header, tURLData* record) {
    tURLData read;
    for (qsizetype column = 0; column < header.size() && column < cells.size(); ++column) {
        for (const Field& field : Fields) {
            if (!field.csv.isEmpty() &&
                header.at(column).trimmed().compare(field.csv, Qt::CaseInsensitive) == 0)
                field.set(read, csvValue(cells.at(column)));
        }
    }
    read.URL = read.URL.trimmed();
    if (read.URL.isEmpty())
        return false;
    *record = read;
    return true;
}

QList<QStringList> csvCells(const QString& text) {
    QList<QStringList> rows;
    QStringList row;
    QString cell;
    bool quoted = false;
    bool rowHasContent = false;
    auto endRow = [&]() {
        row.append(cell);
        if (rowHasContent || row.size() > 1 || !row.front().isEmpty())
            rows.append(row);
        row.clear();
        cell.clear();
        rowHasContent = false;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == u'"' && i + 1 < text.size() && text.at(i + 1) == u'"') {
                cell += c;
                ++i;
            } else if (c == u'"') {
                quoted = false;
            } else {
                cell += c;
            }
        } else if (c == u'"') {
            quoted = true;
            rowHasContent = true;
        } else if (c == u',') {
            row.append(cell);
            cell.clear();
        } else if (c == u'\r' || c == u'\n') {
            endRow();
            if (c == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n')
                ++i;
        } else {
            cell += c;
        }
    }
    if (!cell.isEmpty() || !row.isEmpty() || rowHasContent)
        endRow();
    return rows;
}

QList<Entry> readText(const QString& text) {
    QList<Entry> entries;
    const QString body = withoutByteOrderMark(text);
    const QStringList lines = AddressInput::lines(body);
    if (lines.isEmpty())
        return entries;
    if (isCsvHeader(lines.front())) {
        const QList<QStringList> rows = csvCells(body);
        for (qsizetype i = 1; i < rows.size(); ++i) {
            Entry entry;
            entry.isRecord = fromCsvCells(rows.at(i), rows.front(), &entry.record);
            if (entry.isRecord)
                entries.append(entry);
        }
        return entries;
    }
    for (const QString& line : lines) {
        Entry entry;
        entry.isRecord = fromJsonLine(line, &entry.record) || fromTsvLine(line, &entry.record);
        if (!entry.isRecord)
            entry.record.URL = line;
        entries.append(entry);
    }
    return entries;
}

// The value that csvRow wrote: the "'" before a formula's first character goes.
QString csvValue(const QString& cell) {
    if (cell.startsWith(QLatin1Char('\'')) && startsLikeFormula(QStringView(cell).mid(1)))
        return cell.mid(1);
    return cell;
}

} // namespace RecordFormat
