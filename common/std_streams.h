// The programs' standard output and error, buffered as the C library's
// streams are, so their lines reach a file, a pipe or a terminal in the same
// order and writes as ever: standard output in whole buffers (line by line
// on a terminal), standard error one message at a time. A command that
// prints an error line flushes standard output first, as it always has.
#pragma once

#include "format.h"
#include "out_buffer.h"

out_buffer &std_out();
out_buffer &std_err();

// At the end of a run: writes out what standard output holds, and when it
// cannot (now or at an earlier write), says so on standard error as perror
// does: "WHO: reason".
void end_std_out(const char *who);
