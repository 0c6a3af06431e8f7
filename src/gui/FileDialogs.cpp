#include "FileDialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QPointer>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>

namespace FileDialogs {
namespace {

std::function<QString(QFileDialog*)>& answerHook() {
    static std::function<QString(QFileDialog*)> hook;
    return hook;
}

QString& lastFolderUsed() {
    static QString folder;
    return folder;
}

// Remembers the folder of a chosen file.
void remember(const QString& path) {
    lastFolderUsed() = QFileInfo(path).absolutePath();
}

// The first suffix of a name filter: "csv" for "CSV (*.csv)".
QString suffixOf(const QString& nameFilter) {
    static const QRegularExpression pattern(QStringLiteral("\\*\\.([A-Za-z0-9]+)"));
    return pattern.match(nameFilter).captured(1);
}

// `chosen` is called while the dialog still exists.
using Chosen = std::function<void(QFileDialog* dialog, const QString& path)>;

void run(QFileDialog* dialog, Chosen chosen) {
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    if (answerHook()) {
        const QString answer = answerHook()(dialog);
        // Later, as a user's answer would come; not at all when the window has gone meanwhile.
        QPointer<QFileDialog> guard(dialog);
        QTimer::singleShot(0, dialog, [guard, answer, chosen] {
            if (!answer.isEmpty())
                chosen(guard, answer);
            delete guard;
        });
        return;
    }
    QObject::connect(dialog, &QFileDialog::fileSelected, dialog,
                     [dialog, chosen](const QString& path) { chosen(dialog, path); });
    dialog->open();
}

Chosen plain(Done done) {
    return [done](QFileDialog*, const QString& path) {
        done(path);
    };
}

} // namespace

void chooseFolder(QWidget* parent, const QString& caption, const QString& start, Done done) {
    auto* dialog = new QFileDialog(parent, caption, start);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    run(dialog, plain(std::move(done)));
}

QString lastFolder() {
    return lastFolderUsed();
}

void setLastFolder(const QString& folder) {
    lastFolderUsed() = folder;
}

QString startFolder() {
    if (!lastFolderUsed().isEmpty() && QFileInfo(lastFolderUsed()).isDir())
        return lastFolderUsed();
    for (auto place : {QStandardPaths::DocumentsLocation, QStandardPaths::DownloadLocation}) {
        const QString folder = QStandardPaths::writableLocation(place);
        if (!folder.isEmpty() && QFileInfo(folder).isDir())
            return folder;
    }
    return QDir::homePath();
}

void chooseFileToOpen(QWidget* parent, const QString& caption, const QStringList& nameFilters, Done done) {
    auto* dialog = new QFileDialog(parent, caption, startFolder());
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setNameFilters(nameFilters);
    run(dialog, [done](QFileDialog*, const QString& path) {
        remember(path);
        done(path);
    });
}

void chooseFileToSave(QWidget* parent, const QString& caption, const QStringList& nameFilters,
                      const QString& suggested, Done done) {
    auto* dialog = new QFileDialog(parent, caption, startFolder());
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setNameFilters(nameFilters);
    dialog->selectFile(QFileInfo(suggested).isAbsolute() ? suggested
                                                         : QDir(startFolder()).filePath(suggested));
    run(dialog, [done](QFileDialog* dialog, const QString& path) {
        QString chosen = path;
        if (QFileInfo(chosen).suffix().isEmpty()) {
            const QString suffix = suffixOf(dialog->selectedNameFilter());
            if (!suffix.isEmpty())
                chosen += QLatin1Char('.') + suffix;
        }
        remember(chosen);
        done(chosen);
    });
}

void setAnswerHook(std::function<QString(QFileDialog*)> hook) {
    answerHook() = std::move(hook);
}

} // namespace FileDialogs
