#include "std_streams.h"

#include <cstring>
#include <unistd.h>

// Each is made at its first use (its buffer is never in the program file),
// standard output after asking whether a terminal reads it.
out_buffer &std_out()
{
    static out_buffer out(STDOUT_FILENO, ::isatty(STDOUT_FILENO) ? out_buffer::mode::lines
                                                                 : out_buffer::mode::full);
    return out;
}

out_buffer &std_err()
{
    static out_buffer err(STDERR_FILENO, out_buffer::mode::each);
    return err;
}

void end_std_out(const char *who)
{
    if (int rc = std_out().flush(); rc != 0)
        put_format(std_err(), "%s: %s\n", who, std::strerror(-rc));
}
