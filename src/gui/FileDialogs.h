#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QFileDialog;
class QWidget;

// The program's file and folder choosers, opened without a nested event loop: each calls `done` with the
// chosen path once the user has chosen, and not at all when the user cancels.
namespace FileDialogs {

using Done = std::function<void(const QString& path)>;

// The folder the file dialogs start in: that of the file last opened or saved through them (see
// setLastFolder), else the user's documents folder, else the downloads folder, else home.
QString startFolder();
// The folder of the file last chosen; empty before any. The window keeps it between runs.
QString lastFolder();
void setLastFolder(const QString& folder);

// A folder, starting at `start`.
void chooseFolder(QWidget* parent, const QString& caption, const QString& start, Done done);
// An existing file to read (starting in startFolder()), of one of the name filters ("テキスト (*.txt)").
void chooseFileToOpen(QWidget* parent, const QString& caption, const QStringList& nameFilters, Done done);
// A file to write, starting with the suggested path (a bare name: in startFolder()); the name gets the
// selected filter's suffix when it has none.
void chooseFileToSave(QWidget* parent, const QString& caption, const QStringList& nameFilters,
                      const QString& suggested, Done done);

// For tests: when set, no chooser is shown; the hook gets the prepared dialog and returns the path the
// user would choose (empty: cancel), which is delivered as the user's choice would be.
void setAnswerHook(std::function<QString(QFileDialog*)> hook);

} // namespace FileDialogs
