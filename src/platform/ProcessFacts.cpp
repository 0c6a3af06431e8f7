#include "ProcessFacts.h"

#include <unistd.h>

namespace ProcessFacts {

bool runsAsAdministrator() {
    return ::geteuid() == 0;
}

bool standardErrorIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

} // namespace ProcessFacts
