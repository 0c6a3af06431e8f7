#include "EngineNoise.h"

#include "StandardErrorPipe.h"

#include <QByteArray>
#include <QLatin1String>
#include <QRegularExpression>
#include <QtGlobal>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

namespace EngineNoise {
namespace {

// The line filter: a thread copies the pipe to the real standard error, line by line.
struct LineFilter {
    int realError = -1;
    int readEnd = -1;
    std::thread reader;
    std::mutex mutex;
    std::condition_variable drained;
    bool drainSeen = false;
};

// Written by stopLineFilter: everything before it has been passed on once the reader sees it.
const QByteArray DrainMark = QByteArrayLiteral("\x01nepirika: standard error drained\x01");

LineFilter* filter = nullptr;

QtMessageHandler previousHandler = nullptr;
bool handlerInstalled = false;

// Messages of the toolkit's own making that say nothing about the program's work.
bool isChatter(const QString& message) {
    static const char* const starts[] = {
        "OpenType support missing",
        "Fontconfig ",
        "WebEngineContext used before",
        "No suitable graphics backend found",
        "Release of profile requested but WebEnginePage still not deleted",
        "Sandboxing disabled by user",
        "QStandardPaths: ",
    };
    for (const char* start : starts) {
        if (message.startsWith(QLatin1String(start)))
            return true;
    }
    return false;
}

void quietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    // Straight to the real standard error while the line filter runs: a fatal message is followed
    // by the end of the process, which would take the filter's unread lines with it.
    if ((type == QtCriticalMsg || type == QtFatalMsg) && filter) {
        StandardErrorPipe::writeAll(filter->realError,
                                    qFormatLogMessage(type, context, message).toUtf8() + '\n');
        if (type == QtCriticalMsg)
            return;
    }
    if (type != QtCriticalMsg && type != QtFatalMsg) {
        const QLatin1String category(context.category ? context.category : "");
        if (type == QtDebugMsg || type == QtInfoMsg || category.startsWith(QLatin1String("qt.")) ||
            category == QLatin1String("js") || isChatter(message))
            return;
    }
    if (previousHandler)
        previousHandler(type, context, message);
}

void passOn(int fd, const QByteArray& line) {
    if (!EngineNoise::isNoiseLine(QString::fromUtf8(line)))
        StandardErrorPipe::writeAll(fd, line + '\n');
}

void readLines(LineFilter* state) {
    QByteArray pending;
    char buffer[4096];
    for (;;) {
        const qint64 n = StandardErrorPipe::read(state->readEnd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        pending.append(buffer, n);
        qsizetype end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QByteArray line = pending.left(end);
            pending.remove(0, end + 1);
            if (line == DrainMark) {
                std::lock_guard lock(state->mutex);
                state->drainSeen = true;
                state->drained.notify_all();
                continue;
            }
            passOn(state->realError, line);
        }
        // A progress line rewritten in place ("\r") is passed on as it comes.
        if (pending.size() > 0 && (pending.contains('\r') || pending.size() > 64 * 1024)) {
            StandardErrorPipe::writeAll(state->realError, pending);
            pending.clear();
        }
    }
    if (!pending.isEmpty())
        passOn(state->realError, pending);
    std::lock_guard lock(state->mutex);
    state->drainSeen = true;
    state->drained.notify_all();
}

} // namespace

bool verboseRequested(const QStringList& arguments) {
    for (const QString& argument : arguments) {
        if (argument == QLatin1String("--"))
            return false;
        if (argument == QLatin1String("--verbose"))
            return true;
    }
    return false;
}

void quietEngineBeforeApplication() {
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS").trimmed();
    // FATAL only (3); the helper processes get the level passed on.
    if (!flags.contains("--log-level"))
        flags += " --log-level=3";
    if (!flags.contains("--disable-logging") && !flags.contains("--enable-logging"))
        flags += " --disable-logging";
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.trimmed());
}

void quietToolkitMessages() {
    if (handlerInstalled)
        return;
    previousHandler = qInstallMessageHandler(quietHandler);
    handlerInstalled = true;
}

void restoreToolkitMessages() {
    if (!handlerInstalled)
        return;
    qInstallMessageHandler(previousHandler);
    handlerInstalled = false;
}

void startLineFilter() {
    if (filter)
        return;
    int readEnd = -1;
    int realError = -1;
    if (!StandardErrorPipe::redirect(&readEnd, &realError))
        return;
    filter = new LineFilter;
    filter->realError = realError;
    filter->readEnd = readEnd;
    filter->reader = std::thread(readLines, filter);
}

void stopLineFilter() {
    if (!filter)
        return;
    std::fflush(stderr);
    // What this process wrote is passed on before standard error is given back; the helper
    // processes may still write into the pipe, which the reader keeps filtering until they end.
    const QByteArray mark = DrainMark + '\n';
    if (StandardErrorPipe::writeToStandardError(mark)) {
        std::unique_lock lock(filter->mutex);
        filter->drained.wait_for(lock, std::chrono::seconds(2), [] { return filter->drainSeen; });
    }
    StandardErrorPipe::restore(filter->realError);
    filter->reader.detach(); // it owns its state until the process ends
    filter = nullptr;
}

bool isNoiseLine(const QString& line) {
    // Chromium: "[1234:1234:1207/201500.123456:ERROR:gpu_init.cc(523)] …"; FATAL ones stay.
    static const QRegularExpression chromium(
        QStringLiteral("^\\[\\d+:\\d+:\\d{4}/\\d{6}\\.\\d+:(INFO|WARNING|ERROR|VERBOSE\\d*):"));
    return chromium.match(line).hasMatch() || line.startsWith(QLatin1String("Fontconfig ")) ||
           line.startsWith(QLatin1String("qt.webenginecontext")) || isChatter(line);
}

} // namespace EngineNoise
