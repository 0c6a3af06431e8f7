#include "ResultExport.h"

#include "FileErrorText.h"
#include "RecordFormat.h"
#include "TextFileSave.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

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

Loaded parse(const QByteArray& content) {
    Loaded loaded;
    const QList<RecordFormat::Entry> entries = RecordFormat::readText(QString::fromUtf8(content));
    qsizetype others = 0;
    for (const RecordFormat::Entry& entry : entries) {
        if (entry.isRecord)
            loaded.records.append(entry.record);
        else
            ++others;
    }
    // A list of plain addresses is no saved result: it would come back with every entry a page.
    if (loaded.records.isEmpty())
        loaded.error = QStringLiteral("ネピリカの結果（CSV または JSON lines）ではありません");
    else if (others > loaded.records.size())
        loaded.error = QStringLiteral("ネピリカの結果（CSV または JSON lines）として読めない行が多すぎます");
    if (!loaded.error.isEmpty())
        loaded.records.clear();
    return loaded;
}

Loaded load(const QString& path) {
    const QString shown = QDir::toNativeSeparators(path);
    QFile file(path);
    errno = 0;
    if (!file.open(QIODevice::ReadOnly)) {
        const int error = errno ? errno : EIO;
        return {{}, FileErrorText::describe(QStringLiteral("「%1」を読み込めません").arg(shown), error)};
    }
    if (file.size() > LargestLoad)
        return {{}, QStringLiteral("「%1」は大きすぎます（%2 MB まで）").arg(shown).arg(LargestLoad >> 20)};
    Loaded loaded = parse(file.readAll());
    if (!loaded.error.isEmpty())
        loaded.error = QStringLiteral("「%1」は%2").arg(shown, loaded.error);
    return loaded;
}

} // namespace ResultExport
