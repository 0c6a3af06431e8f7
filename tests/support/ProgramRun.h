#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// The built program run as its own process, as a user or a script runs it.
struct ProgramRun {
    QString binary;
    QStringList arguments;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    QString workingDirectory;
    // Written to standard input, which is then closed.
    QByteArray input;
    int timeoutMs = 60000;

    struct Outcome {
        // The program ended by itself within the time-out (no crash, not killed).
        bool finished = false;
        int exitCode = -1;
        QByteArray out;
        QByteArray err;
        QStringList outLines() const;
        QStringList errLines() const;
    };
    Outcome run() const;

    // The executable that ctest names in NEPIRIKA_BINARY.
    static QString builtProgram();
};
