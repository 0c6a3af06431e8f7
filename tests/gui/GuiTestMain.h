#pragma once

#include "NepirikaApplication.h"
#include "WebEngineSetup.h"

#include <QTest>

// main() of a window test: the program's own application object (with its central error handler),
// prepared for the browser engine, with the application's name as the program sets it.
#define NEPIRIKA_GUI_TEST_MAIN(TestClass)                                                                    \
    int main(int argc, char** argv) {                                                                        \
        WebEngineSetup::prepareBeforeApplication();                                                          \
        NepirikaApplication app(argc, argv);                                                                 \
        QApplication::setApplicationName(QStringLiteral("ネピリカ"));                                        \
        QApplication::setApplicationDisplayName(QStringLiteral("ネピリカ"));                                 \
        TestClass test;                                                                                      \
        return QTest::qExec(&test, argc, argv);                                                              \
    }
