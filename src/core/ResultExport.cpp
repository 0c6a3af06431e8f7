#include "ResultExport.h"

#include "TextFileSave.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

namespace ResultExport {
namespace {

QString csvField(const QString& value) {
    if (!value.contains(QLatin1Char(',')) && !value.contains(QLatin1Char('"')) &&
        !value.contains(QLatin1Char('\n')) && !value.contains(QLatin1Char('\r')))
        return value;
    QString quoted = value;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

} // namespace

Row rowFor(const tURLData& record) {
    Row row;
    row.kind = tURLData::kindName(record.Kind);
    row.address = record.URL;
    row.source = record.Source;
    // row.via: filled from the record once the harvester notes how each address was found.
    row.charset = record.Charset;
    return row;
}

Format formatFor(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("csv"))
        return Format::Csv;
    if (suffix == QLatin1String("jsonl") || suffix == QLatin1String("ndjson") ||
        suffix == QLatin1String("json"))
        return Format::JsonLines;
    return Format::Text;
}

QByteArray content(const QList<Row>& rows, Format format) {
    QString text;
    switch (format) {
    case Format::Text:
        for (const Row& row : rows)
            text += row.address + QLatin1Char('\n');
        return text.toUtf8();
    case Format::Csv:
        text = CsvHeader + QLatin1String("\r\n");
        for (const Row& row : rows)
            text += csvField(row.kind) + QLatin1Char(',') + csvField(row.address) + QLatin1Char(',') +
                    csvField(row.source) + QLatin1Char(',') + csvField(row.via) + QLatin1String("\r\n");
        return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
    case Format::JsonLines: {
        QByteArray out;
        for (const Row& row : rows) {
            QJsonObject o;
            o.insert(QStringLiteral("kind"), row.kind);
            o.insert(QStringLiteral("url"), row.address);
            o.insert(QStringLiteral("source"), row.source);
            if (!row.via.isEmpty())
                o.insert(QStringLiteral("via"), row.via);
            if (!row.charset.isEmpty())
                o.insert(QStringLiteral("charset"), row.charset);
            out += QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
        }
        return out;
    }
    }
    return {};
}

QString save(const QString& path, const QList<Row>& rows) {
    return TextFileSave::write(path, content(rows, formatFor(path)));
}

} // namespace ResultExport
