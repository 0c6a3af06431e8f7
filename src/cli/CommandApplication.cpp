#include "CommandApplication.h"

#include "CommandOutput.h"
#include "NepirikaError.h"

#include <cstdio>

namespace {
int failureStatus = 0;
} // namespace

namespace CommandFailure {

QString describe(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const NepirikaError& e) {
        return e.message();
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("予期しないエラーが発生しました");
    }
}

void report(const QString& text) {
    // Reporting must not throw in its turn.
    try {
        CommandOutput::write(
            stderr, QStringLiteral("nepirika: 内部エラー: %1\n").arg(CommandOutput::oneLine(text)), true);
    } catch (...) {
        std::fputs("nepirika: internal error\n", stderr);
    }
    failureStatus = 2;
    QCoreApplication::exit(2);
}

int exitStatus() {
    return failureStatus;
}

} // namespace CommandFailure
