// The exports: CSV read back by a strict reader gives the same fields, JSON lines read back the same,
// and the address import reads the addresses back from either.

#include "AddressImport.h"
#include "FuzzInput.h"
#include "ResultExport.h"
#include "tURLData.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <optional>
#include <utility>

namespace {

// RFC 4180 read strictly: every record ends with CR LF, a field is quoted whole or holds no quote,
// CR and LF only inside quotes. Empty when the text breaks a rule.
std::optional<QList<QStringList>> strictCsv(const QString& text) {
    QList<QStringList> records{{}};
    QString field;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'"' && field.isEmpty()) {
            for (++i; i < text.size() && (text[i] != u'"' || text.mid(i, 2) == u"\"\""); ++i)
                field += text[i] == u'"' ? text[i++] : text[i];
            if (i++ >= text.size() || (i < text.size() && text[i] != u',' && text[i] != u'\r'))
                return std::nullopt;
        }
        if (i < text.size() && text[i] == u',') {
            records.last().append(std::exchange(field, {}));
        } else if (text.mid(i, 2) == u"\r\n") {
            records.last().append(std::exchange(field, {}));
            records.append(QStringList());
            ++i;
        } else if (i >= text.size() || text[i] == u'"' || text[i] == u'\r' || text[i] == u'\n') {
            return std::nullopt;
        } else {
            field += text[i];
        }
    }
    if (!records.last().isEmpty() || !field.isEmpty())
        return std::nullopt;
    records.removeLast();
    return records;
}

} // namespace

// A cell as a spreadsheet must read it: one that it would run as a formula gets a leading "'", and so
// does one whose apostrophes would otherwise read back as that guard.
QString guarded(const QString& cell) {
    static const QString formulaStarts = QStringLiteral("=+-@\t\r");
    qsizetype i = 0;
    while (i < cell.size() && cell[i] == u'\'')
        ++i;
    return i < cell.size() && formulaStarts.contains(cell[i]) ? QLatin1Char('\'') + cell : cell;
}

// Input: fields separated by NUL, four a record (kind, address, source, via); the kind is chosen by
// the first field's length.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const qint32 kinds[] = {tURLData::KindPage, tURLData::KindImage, tURLData::KindEmbed,
                                   tURLData::KindScript};
    const QString input = FuzzInput::text(data, size);
    const QStringList fields = QString::fromUtf8(input.toUtf8()).split(QChar(0)); // as UTF-8 keeps it
    QList<tURLData> records;
    QList<QStringList> expected{{"kind", "address", "source", "via", "title", "alt"}};
    QStringList addresses;
    for (qsizetype i = 0; i + 4 <= fields.size(); i += 4) {
        const tURLData record =
            tURLData::make(fields[i + 1], kinds[fields[i].size() % 4], 0, fields[i + 2], fields[i + 3]);
        records.append(record);
        expected.append({tURLData::kindName(record.Kind), guarded(record.URL), guarded(record.Source),
                         guarded(record.Via), guarded(record.Title), guarded(record.Alt)});
        if (AddressImport::isEntry(record.URL.trimmed()))
            addresses.append(record.URL.trimmed());
    }

    const QByteArray csv = ResultExport::content(records, ResultExport::Format::Csv);
    FuzzInput::require(csv.startsWith("\xEF\xBB\xBF"), "CSV begins with a byte-order mark", input);
    const auto rows = strictCsv(QString::fromUtf8(csv.mid(3)));
    // The columns the records' fields give (the picture facts, empty here, and the name it is saved
    // under, derived, are the export's own).
    std::optional<QList<QStringList>> given;
    if (rows) {
        given.emplace();
        for (const QStringList& row : *rows)
            given->append(row.size() == 12 ? QStringList{row[0], row[1], row[2], row[3], row[9], row[10]} : row);
    }
    FuzzInput::require(given && *given == expected, "CSV read strictly gives the same fields, formulas guarded",
                       input, QString::fromUtf8(csv));
    FuzzInput::require(AddressImport::fromContent(csv, QStringLiteral("out.csv")) == addresses,
                       "the import reads the addresses back from CSV", input, QString::fromUtf8(csv));

    const QByteArray jsonl = ResultExport::content(records, ResultExport::Format::JsonLines);
    const QList<QByteArray> lines = jsonl.split('\n');
    FuzzInput::require(lines.size() == records.size() + 1 && lines.last().isEmpty(), "one JSON line a record",
                       input);
    for (qsizetype i = 0; i < records.size(); ++i) {
        const QJsonObject o = QJsonDocument::fromJson(lines[i]).object();
        const tURLData& r = records[i];
        FuzzInput::require(o.value(u"kind").toString() == tURLData::kindName(r.Kind) &&
                               o.value(u"url").toString() == r.URL &&
                               o.value(u"source").toString() == r.Source &&
                               o.value(u"via").toString() == r.Via,
                           "a JSON line reads back the same", input, QString::fromUtf8(lines[i]));
    }
    FuzzInput::require(AddressImport::fromContent(jsonl, QStringLiteral("out.jsonl")) == addresses,
                       "the import reads the addresses back from JSON lines", input,
                       QString::fromUtf8(jsonl));
    return 0;
}
