// Opening a file in a directory that everyone may write (/tmp): a symbolic
// link that another user planted there is never followed, so nobody can
// point root's reads and appends at a file of their choosing.
#pragma once

#include <sys/types.h>

// Like open(2), but a path whose last part is a symbolic link owned by
// anyone but the caller's user is refused with ELOOP. -1 and errno on failure.
// (In a sticky directory only the link's owner can replace it, so a link
// found to be our own stays our own.)
int trusted_open(const char *path, int flags, mode_t mode = 0);
