// The exports: CSV read back by a strict reader gives the same fields, JSON lines read back the same,
// and the address import reads the addresses back from either.

#include "AddressImport.h"
#include "FuzzInput.h"
#include "ResultExport.h"

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

// Input: fields separated by NUL, four a row (kind, address, source, via).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString input = FuzzInput::text(data, size);
    const QStringList fields = QString::fromUtf8(input.toUtf8()).split(QChar(0)); // as UTF-8 keeps it
    QList<ResultExport::Row> rows;
    QList<QStringList> expected{{"kind", "address", "source", "via"}};
    QStringList addresses;
    for (qsizetype i = 0; i + 4 <= fields.size(); i += 4) {
        rows.append({fields[i], fields[i + 1], fields[i + 2], fields[i + 3]});
        expected.append(fields.mid(i, 4));
        if (AddressImport::isEntry(fields[i + 1].trimmed()))
            addresses.append(fields[i + 1].trimmed());
    }

    const QByteArray csv = ResultExport::content(rows, ResultExport::Format::Csv);
    FuzzInput::require(csv.startsWith("\xEF\xBB\xBF"), "CSV begins with a byte-order mark", input);
    const auto records = strictCsv(QString::fromUtf8(csv.mid(3)));
    FuzzInput::require(records && *records == expected, "CSV read strictly gives the same fields", input,
                       QString::fromUtf8(csv));
    FuzzInput::require(AddressImport::fromContent(csv, QStringLiteral("out.csv")) == addresses,
                       "the import reads the addresses back from CSV", input, QString::fromUtf8(csv));

    const QByteArray jsonl = ResultExport::content(rows, ResultExport::Format::JsonLines);
    const QList<QByteArray> lines = jsonl.split('\n');
    FuzzInput::require(lines.size() == rows.size() + 1 && lines.last().isEmpty(), "one JSON line a row",
                       input);
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const QJsonObject o = QJsonDocument::fromJson(lines[i]).object();
        FuzzInput::require(
            o.value(u"kind").toString() == rows[i].kind && o.value(u"url").toString() == rows[i].address &&
                o.value(u"source").toString() == rows[i].source && o.value(u"via").toString() == rows[i].via,
            "a JSON line reads back the same", input, QString::fromUtf8(lines[i]));
    }
    FuzzInput::require(AddressImport::fromContent(jsonl, QStringLiteral("out.jsonl")) == addresses,
                       "the import reads the addresses back from JSON lines", input,
                       QString::fromUtf8(jsonl));
    return 0;
}
