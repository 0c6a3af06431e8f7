#pragma once

#include <cstdio>

// The usage text of the nepirika program as a whole (nepirika --help), in the commands' language.
namespace ProgramUsage {

void print(FILE* stream);

} // namespace ProgramUsage
