// The help request every program answers: "-h" or "--help" as the first
// argument prints the program's usage on standard output and does nothing
// else. Any other command line keeps the meaning it has always had, so a
// word starting with '-' elsewhere, or another one first, is no request.
#pragma once

#include "io.h"

#include <cstring>
#include <string_view>
#include <unistd.h>

inline bool help_asked(int argc, char **argv)
{
    return argc > 1 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0);
}

// The exit status of a help request: 0, or 1 when standard output did not
// take the whole text.
inline int show_usage(std::string_view usage)
{
    return write_all(STDOUT_FILENO, usage) == 0 ? 0 : 1;
}
