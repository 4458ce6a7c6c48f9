// An exclusive advisory lock held for the life of the object: the runs that
// read, change and replace one file take it in turn, so none loses another's
// change. The lock lives on a separate file beside the guarded one, named
// after it with ".lock" appended, which is never replaced while it is ours.
//
// The lock file is root's own (the caller's user), a regular file of mode
// 0600 opened without following links, so no other user can open it to
// hold the lock. One that is not (a link, a FIFO, another user's file, or
// one others may open) is removed and made anew; a directory is refused.
#pragma once

#include "unique_fd.h"

inline constexpr int lock_wait_ms = 10000;

class file_lock {
    unique_fd fd_;
    int error_ = 0;

    int take(const char *lock_path, int wait_ms);

public:
    // Waits at most `wait_ms` for the lock that guards `path`, creating the
    // lock file if needed.
    explicit file_lock(const char *path, int wait_ms = lock_wait_ms);
    // False when the lock was not had: the caller must not change the file.
    bool held() const { return static_cast<bool>(fd_); }
    // Why not: -ETIMEDOUT when another run held it all the time, else -errno.
    int error() const { return error_; }
};
