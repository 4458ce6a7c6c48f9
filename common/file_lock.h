// An exclusive advisory lock held for the life of the object: the runs that
// read, change and replace one file take it in turn, so none loses another's
// change. The lock lives on a separate file beside the guarded one, named
// after it with ".lock" appended, which is never replaced.
#pragma once

#include "unique_fd.h"

class file_lock {
    unique_fd fd_;

public:
    // Waits for the lock that guards `path`, creating the lock file if needed.
    explicit file_lock(const char *path);
    // False when the lock file could not be had; the caller then goes on
    // unlocked, as the device did before locking existed.
    bool held() const { return static_cast<bool>(fd_); }
};
