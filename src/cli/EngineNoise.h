#pragma once

#include <QString>
#include <QStringList>

// Keeps what the toolkit, the browser engine and the font library say by themselves off the
// windowless commands' standard error, where scripts read the program's failures one a line:
// the engine's start-up dumps (qt.webenginecontext), Chromium's own log lines, fontconfig's
// complaints, "OpenType support missing …". `--verbose` lets them through. The program's own
// messages, and anything the toolkit reports as critical, always get through.
namespace EngineNoise {

// Whether the arguments ask for the engine's messages (--verbose before any "--").
bool verboseRequested(const QStringList& arguments);

// Before the application object: the engine's log level and logging flags
// (QTWEBENGINE_CHROMIUM_FLAGS), added to what the caller has set there.
void quietEngineBeforeApplication();

// Drops the toolkit's messages below critical (its qt.* categories, the engine's page console) and
// the known font chatter; the rest goes to the handler that was there. Restored by restore().
void quietToolkitMessages();
void restoreToolkitMessages();

// Standard error (this process's and the engine's helper processes', which inherit it) passes
// through a pipe that drops the lines isNoiseLine() names. start() before the engine starts;
// stop() passes on what is still in the pipe and gives standard error back.
void startLineFilter();
void stopLineFilter();

// A line written by the engine (Chromium's "[pid:tid:date/time.usec:LEVEL:file(line)] …" at a
// level below FATAL) or by the font library ("Fontconfig error: …"), or a toolkit line known to
// be chatter.
bool isNoiseLine(const QString& line);

} // namespace EngineNoise
