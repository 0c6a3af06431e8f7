#include "ResultsFile.h"

#include "AppMessages.h"
#include "FileDialogs.h"
#include "PictureStore.h"
#include "ResultExport.h"

#include <QPointer>
#include <QWidget>

namespace ResultsFile {

QList<tURLData> withMeasuredFacts(QList<tURLData> rows, const PictureStore* pictures) {
    if (!pictures)
        return rows;
    for (tURLData& row : rows) {
        if (row.isPage())
            continue;
        const PictureFacts facts = pictures->facts(row.URL);
        if (facts.state == PictureFacts::State::Unknown)
            continue;
        if (row.Width < 0 && row.Height < 0 && facts.hasSize()) {
            row.Width = facts.width;
            row.Height = facts.height;
        }
        if (row.Bytes < 0)
            row.Bytes = facts.bytes;
        // The type as the grid names it ("JPEG") where no probe gave its media type.
        if (row.Type.isEmpty())
            row.Type = facts.typeName;
        if (row.ProbeError.isEmpty())
            row.ProbeError = facts.problem;
    }
    return rows;
}

void save(QWidget* window, const QList<tURLData>& rows) {
    QPointer<QWidget> guard(window);
    FileDialogs::chooseFileToSave(window, QStringLiteral("結果を保存"),
                                  {QStringLiteral("テキスト、1 行に 1 アドレス (*.txt)"),
                                   QStringLiteral("CSV (*.csv)"), QStringLiteral("JSON lines (*.jsonl)")},
                                  QStringLiteral("ネピリカの結果.txt"), [guard, rows](const QString& path) {
                                      const QString error = ResultExport::save(path, rows);
                                      if (!error.isEmpty())
                                          AppMessages::showError(guard, error);
                                  });
}

void open(QWidget* window, std::function<void(const QList<tURLData>&)> restore) {
    QPointer<QWidget> guard(window);
    FileDialogs::chooseFileToOpen(window, QStringLiteral("結果を開く"),
                                  {QStringLiteral("ネピリカの結果 (*.csv *.jsonl *.ndjson *.json)"),
                                   QStringLiteral("すべてのファイル (*)")},
                                  [guard, restore](const QString& path) {
                                      const ResultExport::Loaded loaded = ResultExport::load(path);
                                      if (!loaded.error.isEmpty()) {
                                          AppMessages::showError(guard, loaded.error);
                                          return;
                                      }
                                      if (guard)
                                          restore(loaded.records);
                                  });
}

} // namespace ResultsFile
