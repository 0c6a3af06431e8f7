#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QMessageBox;
class QWidget;

// The program's two message boxes, both titled with the application's name and opened without a
// nested event loop: the error box for whatever escapes an event handler, and the notice.
namespace AppMessages {

// "message" ending as a sentence: "。" appended when its last character is Japanese (from U+3000 on)
// and not already "。", "！", "？" or "．"; otherwise "." appended when its last character sorts above ".".
QString withFinalPeriod(const QString& message);

// The first `named` lines, one a line, and "ほか N 件" for the N left out: a long list of failures
// in a notice.
QString shortList(const QStringList& lines, qsizetype named);

// Modal error box: error icon, one OK button. The text gets the final-period rule.
QMessageBox* showError(QWidget* parent, const QString& message);

// Modal notice: no icon, one "OK" button that is both default and cancel, centred on the screen,
// its text wrapped at half the screen's width.
QMessageBox* showNotice(QWidget* parent, const QString& text);

// Modal question: question icon, the two answers as buttons, the second one (the answer that
// changes nothing) the default and the cancel button. The text is shown as given.
QMessageBox* showQuestion(QWidget* parent, const QString& text, const QString& yes, const QString& no);

// For tests: called with every box right after it has been opened, so that a test can read and
// answer it. An empty function removes the hook.
void setOpenHook(std::function<void(QMessageBox*)> hook);

} // namespace AppMessages
