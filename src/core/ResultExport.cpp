#include "ResultExport.h"

#include "RecordFormat.h"
#include "TextFileSave.h"

#include <QFileInfo>

namespace ResultExport {

Format formatFor(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("csv"))
        return Format::Csv;
    if (suffix == QLatin1String("jsonl") || suffix == QLatin1String("ndjson") ||
        suffix == QLatin1String("json"))
        return Format::JsonLines;
    return Format::Text;
}

QByteArray content(const QList<tURLData>& records, Format format) {
    QString text;
    switch (format) {
    case Format::Text:
        for (const tURLData& record : records)
            text += record.URL + QLatin1Char('\n');
        return text.toUtf8();
    case Format::Csv:
        text = RecordFormat::csvHeader() + QLatin1String("\r\n");
        for (const tURLData& record : records)
            text += RecordFormat::csvRow(record) + QLatin1String("\r\n");
        return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
    case Format::JsonLines:
        for (const tURLData& record : records)
            text += RecordFormat::jsonLine(record) + QLatin1Char('\n');
        return text.toUtf8();
    }
    return {};
}

QString save(const QString& path, const QList<tURLData>& records) {
    return TextFileSave::write(path, content(records, formatFor(path)));
}

} // namespace ResultExport
