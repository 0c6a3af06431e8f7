#pragma once

#include <QCoreApplication>
#include <QString>

#include <exception>

// What escapes an event handler of a windowless command: reported on standard error as an
// internal error, and the command ends with exit status 2.
namespace CommandFailure {
// The text for an exception caught by "catch (...)": its what() when it has one.
QString describe(std::exception_ptr error);
// Writes "nepirika: 内部エラー: …" to standard error and makes the event loop end with status 2.
void report(const QString& text);
// Status 2 once report has been called.
int exitStatus();
} // namespace CommandFailure

// The application object of a windowless command (Base: QCoreApplication or QGuiApplication): the
// one place where whatever escapes an event handler is caught, so that nothing unwinds through
// the toolkit or the browser engine.
template <typename Base> class CommandApplication : public Base {
public:
    CommandApplication(int& argc, char** argv)
        : Base(argc, argv) {}

    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return Base::notify(receiver, event);
        } catch (...) {
            CommandFailure::report(CommandFailure::describe(std::current_exception()));
        }
        return false;
    }

    // Runs the command, its own code included: what escapes gives exit status 2.
    template <typename Command> static int run(Command&& command) {
        try {
            const int status = command();
            return CommandFailure::exitStatus() ? CommandFailure::exitStatus() : status;
        } catch (...) {
            CommandFailure::report(CommandFailure::describe(std::current_exception()));
            return 2;
        }
    }
};
