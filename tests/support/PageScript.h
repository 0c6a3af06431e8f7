#pragma once

#include <QString>
#include <QVariant>
#include <QWebEngineScript>

class QWebEnginePage;

// The value of a script run in the given world of the page (its own by default), waited for up to
// timeoutMs; an invalid value when no answer came.
QVariant evaluateInPage(QWebEnginePage* page, const QString& script,
                        quint32 world = QWebEngineScript::MainWorld, int timeoutMs = 10000);
