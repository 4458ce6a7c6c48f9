// The refusals that several commands share.
#include "confstore.h"
#include "messages.h"

#include "file_lock.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

bool refused(const char *path, distrust why, FILE *to)
{
    if (why == distrust::none)
        return false;
    std::fprintf(to, msg_refused_fmt, path, distrust_text(why));
    return true;
}

void tell_no_lock(const char *path, int err, FILE *to)
{
    if (err == ETIMEDOUT)
        std::fputs(msg_lock_busy, to);
    else
        std::fprintf(to, msg_lock_unusable_fmt, path, std::strerror(err));
}

void tell_lock_left(const char *path, const char *left)
{
    if (!*left)
        return;
    std::fflush(stdout);
    std::fprintf(stderr, msg_lock_left_fmt, path, path, left);
}

bool lock_refused(const file_lock &lock, const char *path, FILE *to)
{
    tell_lock_left(path, lock.left());
    if (lock.held())
        return false;
    tell_no_lock(path, -lock.error(), to);
    return true;
}
