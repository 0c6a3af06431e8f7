#pragma once

// What the program asks the system about its own process.
namespace ProcessFacts {

// Whether the process runs with the administrator's rights (root), where the browser engine's
// sandbox cannot run.
bool runsAsAdministrator();

// Whether standard error is a terminal (so that a progress line may be rewritten in place).
bool standardErrorIsTerminal();

} // namespace ProcessFacts
