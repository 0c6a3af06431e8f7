#pragma once

#include <QString>

// What the browser engine needs before the application object exists.
namespace WebEngineSetup {

// Chooses Qt Quick's software renderer for the pages (unless the environment names one), so that
// hidden pages are drawn frame after frame on every platform, shares OpenGL contexts (the engine
// requires it) and, when the program runs as root, turns the
// engine's sandbox off (it cannot run as root otherwise) with a note on standard error. A normal
// user keeps the sandbox. Call it first thing in main().
void prepareBeforeApplication();

// For the window, which shows pages of third parties (the banner's advertisements): as root it
// does not turn the sandbox off by itself. Empty when the window may start; otherwise why it may
// not, for the user. Call it first thing in main(), instead of prepareBeforeApplication().
QString prepareWindowBeforeApplication();

} // namespace WebEngineSetup
