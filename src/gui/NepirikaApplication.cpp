#include "NepirikaApplication.h"

#include "AppMessages.h"
#include "NepirikaError.h"

#include <exception>

NepirikaApplication::NepirikaApplication(int& argc, char** argv)
    : QApplication(argc, argv) {}

bool NepirikaApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const NepirikaError& error) {
        reportFailure(error.message());
    } catch (const std::exception& error) {
        reportFailure(QString::fromUtf8(error.what()));
    } catch (...) {
        reportFailure(unknownErrorText());
    }
    return false;
}

QString NepirikaApplication::unknownErrorText() {
    return QStringLiteral("予期しないエラーが発生しました");
}

void NepirikaApplication::reportFailure(const QString& message) {
    // Showing the box must not throw back into the dispatch either.
    try {
        QWidget* parent = activeModalWidget();
        if (!parent)
            parent = activeWindow();
        AppMessages::showError(parent, message);
    } catch (...) {
        qCritical("%s", qUtf8Printable(message));
    }
}
