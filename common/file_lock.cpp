#include "file_lock.h"

#include "format.h"
#include "replace_file.h"
#include "trusted_open.h"
#include "monotonic.h"

#include <cerrno>
#include <climits>
#include <cstdio>  // rename
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

constexpr int attempts = 8;

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif
#ifndef RENAME_EXCHANGE
#define RENAME_EXCHANGE (1 << 1)
#endif

// renameat2(2) by its system call: not every C library of the device has it.
int rename2(const char *from, const char *to, unsigned flags)
{
    return static_cast<int>(::syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, flags));
}

// A lock file of ours, whatever names another user gave it since: no one
// else can open it, so only our own runs can hold it.
bool our_lock_file(const struct stat &st)
{
    return S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

bool good_lock_file(const struct stat &st)
{
    return own_regular(st) && our_lock_file(st);
}

bool same_file(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Locks `fd`, polling rather than blocking so that the wait ends at `end`.
// 0, -ETIMEDOUT, or -errno.
int lock_by(int fd, long long end)
{
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR)
            return -errno;
        if (monotonic_ms() >= end)
            return -ETIMEDOUT;
        ::poll(nullptr, 0, 20);  // 20 ms
    }
    return 0;
}

// Puts the new lock file at `temp` in place of what stands at `lock_path`,
// in one step. 1 when something came out (now at `temp`), 0 when nothing
// stood there, or -errno (-EAGAIN: try again).
int swap_in(const char *temp, const char *lock_path)
{
    if (rename2(temp, lock_path, RENAME_EXCHANGE) == 0)
        return 1;
    int rc = -1;
    if (errno == ENOENT)  // nothing there (any more)
        rc = rename2(temp, lock_path, RENAME_NOREPLACE);
    else if (errno == EINVAL)  // no exchange on this file system
        rc = ::rename(temp, lock_path);
    if (rc == 0)
        return 0;
    int err = errno;
    ::unlink(temp);
    return err == EEXIST || err == ENOENT ? -EAGAIN : -err;
}

// What came out of the swap is at `temp`. Anything but a lock file of ours
// goes (a directory with entries stays at `temp`: `left` is set). One of
// ours may be held by a run that found it in place, even one that another
// user has since given a second name: ours counts only once that one is
// free, so the two never overlap; when it is not free by `end`, it goes
// back in place and ours out. 0, or -errno.
int wait_for_displaced(const char *temp, const char *lock_path, long long end, bool &left)
{
    unique_fd out(::open(temp, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st;
    if (!out || ::fstat(out.get(), &st) != 0 || !our_lock_file(st)) {
        if (::unlink(temp) != 0 && ::rmdir(temp) != 0 && (errno == ENOTEMPTY || errno == EEXIST))
            left = true;
        return 0;
    }
    int rc = lock_by(out.get(), end);
    if (rc != 0)
        rename2(temp, lock_path, RENAME_EXCHANGE);
    ::unlink(temp);
    return rc;
}

// Opens the lock file as it stands: fd when it is a good one, else -errno
// (-EAGAIN when it must be replaced).
int open_lock_file(const char *lock_path)
{
    int fd = ::open(lock_path, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat st;
    if (fd >= 0 && ::fstat(fd, &st) == 0 && good_lock_file(st))
        return fd;
    if (fd >= 0)
        ::close(fd);
    else if (errno != ELOOP && errno != EACCES && errno != EPERM && errno != ENXIO &&
             errno != ENOENT && errno != EISDIR)
        return -errno;
    return -EAGAIN;
}

} // namespace

int replace_lock_file(const char *lock_path, int wait_ms, char *left)
{
    const long long end = monotonic_ms() + wait_ms;
    char temp[PATH_MAX];
    bool unnamed;
    int fd = open_temporary(lock_path, temp, unnamed);
    if (fd < 0)
        return fd;
    unique_fd lock(fd);
    // Locked before anyone can open it: a run that meets it in place waits.
    if (::fchmod(fd, 0600) != 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return -errno;
    if (unnamed)
        if (int rc = name_temporary(fd, temp))
            return rc;
    int rc = swap_in(temp, lock_path);
    bool stays = false;
    if (rc > 0)
        rc = wait_for_displaced(temp, lock_path, end, stays);
    if (stays && left)
        format_into(std::span<char>(left, lock_left_max), "%s",
                    static_cast<const char *>(temp + std::strlen(temp) - (lock_left_max - 1)));
    return rc == 0 ? lock.release() : rc;
}

file_lock::file_lock(const char *path, int wait_ms)
{
    char lock_path[PATH_MAX];
    if (format_into(lock_path, "%s.lock", path) >= sizeof lock_path) {
        error_ = -ENAMETOOLONG;
        return;
    }
    error_ = take(lock_path, wait_ms);
}

// The lock counts only while the path still names the file locked: a run
// that locked a file since displaced tries again.
int file_lock::take(const char *lock_path, int wait_ms)
{
    const long long end = monotonic_ms() + wait_ms;
    for (int replaced = 0;;) {
        int fd = open_lock_file(lock_path);
        if (fd == -EAGAIN) {
            if (++replaced > attempts)
                return -EAGAIN;
            fd = replace_lock_file(lock_path, static_cast<int>(end - monotonic_ms()), left_);
            if (fd == -EAGAIN)
                continue;
        }
        if (fd < 0)
            return fd;
        fd_.reset(fd);
        if (int rc = lock_by(fd, end); rc != 0) {
            fd_.reset();
            return rc;
        }
        struct stat held, named;
        if (::fstat(fd, &held) == 0 && ::lstat(lock_path, &named) == 0 && same_file(held, named))
            return 0;
        fd_.reset();
        if (monotonic_ms() >= end)
            return -ETIMEDOUT;
    }
}
