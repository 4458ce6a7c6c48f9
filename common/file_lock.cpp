#include "file_lock.h"

#include "monotonic.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

namespace {

constexpr int attempts = 8;

bool our_lock_file(const struct stat &st)
{
    return S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

// Opens the lock file, replacing one that is not ours. fd, or -errno.
int open_lock_file(const char *lock_path)
{
    for (int i = 0; i < attempts; ++i) {
        int fd = ::open(lock_path, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
        struct stat st;
        if (fd >= 0 && ::fstat(fd, &st) == 0 && our_lock_file(st))
            return fd;
        if (fd >= 0)
            ::close(fd);
        else if (errno != ELOOP && errno != EACCES && errno != EPERM)
            return -errno;  // a directory (EISDIR) among them
        if (::lstat(lock_path, &st) == 0 && S_ISDIR(st.st_mode))
            return -EISDIR;
        // Not ours: gone, then made anew with nobody else's file in between.
        if (::unlink(lock_path) != 0 && errno != ENOENT)
            return -errno;
        fd = ::open(lock_path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0 && ::fchmod(fd, 0600) == 0)
            return fd;
        if (fd >= 0)
            ::close(fd);
        else if (errno != EEXIST)
            return -errno;
    }
    return -EAGAIN;
}

long long now_ms()
{
    timespec t = monotonic_now();
    return t.tv_sec * 1000LL + t.tv_nsec / 1000000;
}

} // namespace

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

// Polls rather than blocks, so the wait ends at its bound.
int file_lock::take(const char *lock_path, int wait_ms)
{
    int fd = open_lock_file(lock_path);
    if (fd < 0)
        return fd;
    fd_.reset(fd);
    const long long end = now_ms() + wait_ms;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            fd_.reset();
            return -errno;
        }
        if (now_ms() >= end) {
            fd_.reset();
            return -ETIMEDOUT;
        }
        const timespec pause = {0, 20 * 1000000L};
        ::nanosleep(&pause, nullptr);
    }
    return 0;
}
