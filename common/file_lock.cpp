#include "file_lock.h"

#include "replace_file.h"
#include "trusted_open.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
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

bool good_lock_file(const struct stat &st)
{
    return own_regular(st) && (st.st_mode & 077) == 0;
}

bool same_file(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Swaps the new lock file at `temp` with what stands at `lock_path` and
// removes the one that comes out, unless that is a good lock file (or a
// directory): then the swap is undone and ours removed. 0 when ours is in
// place, -EAGAIN when the other stays, or -errno.
int swap_in(const char *temp, const char *lock_path)
{
    int rc = rename2(temp, lock_path, RENAME_EXCHANGE);
    if (rc != 0 && errno == ENOENT)  // nothing there (any more)
        rc = rename2(temp, lock_path, RENAME_NOREPLACE);
    if (rc != 0 && errno == EINVAL)  // no swapping on this file system
        rc = ::rename(temp, lock_path);
    if (rc != 0) {
        int err = errno;
        ::unlink(temp);
        // Another run put its own in place, or swept our temporary name.
        return err == EEXIST || err == ENOENT ? -EAGAIN : -err;
    }
    struct stat out;
    if (::lstat(temp, &out) != 0)
        return 0;  // nothing came out
    if (good_lock_file(out) || S_ISDIR(out.st_mode)) {
        if (rename2(temp, lock_path, RENAME_EXCHANGE) != 0)
            return -errno;
        ::unlink(temp);
        return S_ISDIR(out.st_mode) ? -EISDIR : -EAGAIN;
    }
    ::unlink(temp);
    return 0;
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
             errno != ENOENT)
        return -errno;  // a directory (EISDIR) among them
    return -EAGAIN;
}

long long now_ms()
{
    timespec t;
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000LL + t.tv_nsec / 1000000;
}

} // namespace

int replace_lock_file(const char *lock_path)
{
    char temp[PATH_MAX];
    bool unnamed;
    int fd = open_temporary(lock_path, temp, unnamed);
    if (fd < 0)
        return fd;
    unique_fd lock(fd);
    // Locked before anyone can open it, so the swap never shows an unlocked
    // file of ours that a third run could take while another holds the old.
    if (::fchmod(fd, 0600) != 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return -errno;
    if (unnamed)
        if (int rc = name_temporary(fd, temp))
            return rc;
    int rc = swap_in(temp, lock_path);
    return rc == 0 ? lock.release() : rc;
}

file_lock::file_lock(const char *path, int wait_ms)
{
    char lock_path[PATH_MAX];
    int n = std::snprintf(lock_path, sizeof lock_path, "%s.lock", path);
    if (n < 0 || static_cast<size_t>(n) >= sizeof lock_path) {
        error_ = -ENAMETOOLONG;
        return;
    }
    error_ = take(lock_path, wait_ms);
}

// Polls rather than blocks, so the wait ends at its bound. The lock counts
// only while the path still names the file locked: a run that locked a file
// just replaced tries again.
int file_lock::take(const char *lock_path, int wait_ms)
{
    const long long end = now_ms() + wait_ms;
    for (int replaced = 0;;) {
        int fd = open_lock_file(lock_path);
        if (fd == -EAGAIN) {
            if (++replaced > attempts)
                return -EAGAIN;
            fd = replace_lock_file(lock_path);
            if (fd == -EAGAIN)
                continue;
        }
        if (fd < 0)
            return fd;
        fd_.reset(fd);
        while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            int err = errno == EWOULDBLOCK || errno == EINTR ? 0 : -errno;
            if (err == 0 && now_ms() >= end)
                err = -ETIMEDOUT;
            if (err != 0) {
                fd_.reset();
                return err;
            }
            const timespec pause = {0, 20 * 1000000L};
            ::nanosleep(&pause, nullptr);
        }
        struct stat held, named;
        if (::fstat(fd, &held) == 0 && ::lstat(lock_path, &named) == 0 && same_file(held, named)) {
            // Held: what a killed replacement of the lock file left goes now.
            remove_stale_replacements(lock_path);
            return 0;
        }
        fd_.reset();
        if (now_ms() >= end)
            return -ETIMEDOUT;
    }
}
