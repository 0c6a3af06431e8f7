#pragma once

#include <QApplication>

// The application object of the window. It is the one place where a failure that escapes an event
// handler (a button, a menu item, a timer tick, a browser event) is caught: the rest of that handler is
// abandoned, the message is shown in the error box titled with the application's name, and the event
// loop goes on. No exception crosses Qt's event dispatch.
class NepirikaApplication : public QApplication {
    Q_OBJECT
public:
    NepirikaApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // The text shown for a failure that carries no message of its own.
    static QString unknownErrorText();

private:
    void reportFailure(const QString& message);
};
