#pragma once

// The browser engine's part of the program (the window and `nepirika harvest`) is a module of its
// own, nepirika-engine.so, that the executable loads only when one of them is asked for: beside
// the executable in the build tree, in LIBDIR/nepirika when installed.
#define NEPIRIKA_ENGINE_EXPORT __attribute__((visibility("default")))

namespace EngineModule {

// Loads the module and runs the program in it with the executable's arguments. When the module
// cannot be loaded, or is of another version, says why on standard error and returns 1.
int run(int argc, char** argv);

} // namespace EngineModule
