// An exclusive advisory lock held for the life of the object: the runs that
// read, change and replace one file take it in turn, so none loses another's
// change. The lock lives on a separate file beside the guarded one, named
// after it with ".lock" appended, which is never replaced while it is ours.
//
// The lock file is root's own (the caller's user), a regular file of mode
// 0600 opened without following links or waiting, so no other user can
// open it to hold the lock. Only the file opened and checked is locked, and
// the lock counts once the path is found to name that very file. One that
// is not good (a link, a FIFO, another user's file, one others may open,
// one with a second hard link, a directory) is replaced by a good one in
// one step, never removed first. A run that displaced a lock file of ours
// (two runs found a bad one at once, or another user gave a held one a
// second name) waits until the displaced one is free. A directory with
// entries that came out stays under the temporary name.
#pragma once

#include "unique_fd.h"

inline constexpr int lock_wait_ms = 10000;

// The six letters or digits that end a temporary name, and its zero.
inline constexpr int lock_left_max = 7;

class file_lock {
    unique_fd fd_;
    int error_ = 0;
    char left_[lock_left_max] = "";

    int take(const char *lock_path, int wait_ms);

public:
    // Waits at most `wait_ms` for the lock that guards `path`, creating the
    // lock file if needed.
    explicit file_lock(const char *path, int wait_ms = lock_wait_ms);
    // False when the lock was not had: the caller must not change the file.
    bool held() const { return static_cast<bool>(fd_); }
    // Why not: -ETIMEDOUT when another run held it all the time, else -errno.
    int error() const { return error_; }
    // The end of the temporary name (the lock's path, ".tmp~" and these six)
    // under which a directory with entries found at the lock's name stays,
    // or "".
    const char *left() const { return left_; }
};

// Puts a new good lock file, locked, at `lock_path` in place of what stands
// there, in one step. A good lock file that comes out may be held by
// another run: the new one is had only once that one is free, so the two
// never overlap; it goes back in place when it is not free within
// `wait_ms`. A directory with entries that came out stays: `left` (when
// given, lock_left_max bytes) gets its temporary name's last six letters.
// The locked descriptor, or -errno (-ETIMEDOUT then, -EAGAIN to try again).
int replace_lock_file(const char *lock_path, int wait_ms, char *left = nullptr);
