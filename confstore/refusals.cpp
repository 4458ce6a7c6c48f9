// The refusals that several commands share.
#include "confstore.h"
#include "messages.h"

#include "file_lock.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

bool refused_link(const char *path)
{
    if (errno != ELOOP)
        return false;
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
