// Files read whole as input: opened without waiting on them (a FIFO in
// their place would keep the command waiting for ever), taken only when
// they are of the kind asked for, and read into memory.
#pragma once

#include "heap_text.h"

#include <sys/stat.h>

// Opens `path` with `flags` (close-on-exec, without waiting) and keeps it
// only when `kind_ok` holds for what it is (`st` gets that): the
// descriptor, or -errno (-EISDIR for a directory, -ENODEV for another kind
// refused).
int open_checked(const char *path, int flags, bool (*kind_ok)(const struct stat &),
                 struct stat &st);

// Opens a regular file for reading, as open_checked() does.
int open_regular_input(const char *path);

// Appends everything from the descriptor's current offset to its end. 0, or -errno.
int read_whole_file(int fd, heap_text &out);
