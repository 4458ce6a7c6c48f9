#include "file_lock.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>

file_lock::file_lock(const char *path)
{
    char lock_path[PATH_MAX];
    int n = std::snprintf(lock_path, sizeof lock_path, "%s.lock", path);
    if (n < 0 || static_cast<size_t>(n) >= sizeof lock_path)
        return;
    fd_.reset(::open(lock_path, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd_)
        return;
    while (::flock(fd_.get(), LOCK_EX) != 0) {
        if (errno != EINTR) {
            fd_.reset();
            return;
        }
    }
}
