// The windowless commands' one place for what escapes an event handler.

#include "CommandApplication.h"
#include "NepirikaError.h"

#include <QTest>
#include <QTimer>

#include <stdexcept>

class TestCommandApplication : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void escapedExceptionEndsWithStatusTwo();
};

void TestCommandApplication::escapedExceptionEndsWithStatusTwo() {
    int argc = 1;
    char name[] = "nepirika";
    char* argv[] = {name, nullptr};
    CommandApplication<QCoreApplication> app(argc, argv);
    // Thrown from a timer event, as from a slot that the engine or the network reaches; a handler
    // that asks for status 0 afterwards does not hide the failure.
    QTimer::singleShot(0, &app, []() { throw NepirikaError(QStringLiteral("壊れた")); });
    QTimer::singleShot(0, &app, []() { QCoreApplication::exit(0); });
    const int status = CommandApplication<QCoreApplication>::run([]() { return QCoreApplication::exec(); });
    QCOMPARE(status, 2);
    // The command's own code throwing is caught too.
    QCOMPARE(CommandApplication<QCoreApplication>::run([]() -> int { throw std::runtime_error("x"); }), 2);
}

QTEST_APPLESS_MAIN(TestCommandApplication)
#include "tst_commandapplication.moc"
