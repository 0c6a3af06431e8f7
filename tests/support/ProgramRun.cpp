#include "ProgramRun.h"

#include <QProcess>

namespace {

QStringList linesOf(const QByteArray& bytes) {
    QStringList lines = QString::fromUtf8(bytes).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace

QStringList ProgramRun::Outcome::outLines() const {
    return linesOf(out);
}

QStringList ProgramRun::Outcome::errLines() const {
    return linesOf(err);
}

ProgramRun::Outcome ProgramRun::run() const {
    QProcess process;
    process.setProcessEnvironment(environment);
    if (!workingDirectory.isEmpty())
        process.setWorkingDirectory(workingDirectory);
    process.start(binary, arguments);
    Outcome outcome;
    if (!process.waitForStarted(10000))
        return outcome;
    if (!input.isEmpty())
        process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
    } else {
        outcome.finished = process.exitStatus() == QProcess::NormalExit;
        outcome.exitCode = outcome.finished ? process.exitCode() : -1;
    }
    outcome.out = process.readAllStandardOutput();
    outcome.err = process.readAllStandardError();
    return outcome;
}

QString ProgramRun::builtProgram() {
    return qEnvironmentVariable("NEPIRIKA_BINARY");
}
