// The refusals that several commands share.
#include "confstore.h"
#include "messages.h"

#include "file_lock.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

bool refused_link(const char *path)
{
    // ELOOP also comes from a loop of the caller's own links: that is an
    // error of the file, reported as such, not a refusal.
    int err = errno;
    struct stat st;
    if (err != ELOOP || ::lstat(path, &st) != 0 || !S_ISLNK(st.st_mode) || st.st_uid == ::geteuid()) {
        errno = err;
        return false;
    }
    std::printf(msg_foreign_link_fmt, path);
    return true;
}

bool lock_refused(const file_lock &lock, const char *path)
{
    if (lock.held())
        return false;
    if (lock.error() == -ETIMEDOUT)
        std::fputs(msg_lock_busy, stdout);
    else
        std::printf(msg_lock_unusable_fmt, path, std::strerror(-lock.error()));
    return true;
}
