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

bool lock_refused(const file_lock &lock, const char *path, FILE *to)
{
    if (lock.held())
        return false;
    if (lock.error() == -ETIMEDOUT)
        std::fputs(msg_lock_busy, to);
    else
        std::fprintf(to, msg_lock_unusable_fmt, path, std::strerror(-lock.error()));
    return true;
}
