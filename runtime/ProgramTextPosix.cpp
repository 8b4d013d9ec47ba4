// The program's text on POSIX systems: arguments and terminals carry bytes,
// and the program's UTF-8 passes through as it is.
#include "runtime/ProgramText.h"

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    return {argv, argv + argc};
}

void UseUtf8Console() {}
