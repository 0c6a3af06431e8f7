#pragma once

// What the browser engine needs before the application object exists.
namespace WebEngineSetup {

// Shares OpenGL contexts (the engine requires it) and, when the program runs as root, turns the
// engine's sandbox off (it cannot run as root otherwise) with a note on standard error. A normal
// user keeps the sandbox. Call it first thing in main().
void prepareBeforeApplication();

} // namespace WebEngineSetup
