// The refusals that several commands share.
#include "confstore.h"
#include "messages.h"

#include "file_lock.h"

#include <cerrno>
#include <cstring>

bool refused(const char *path, distrust why, out_buffer &to)
{
    if (why == distrust::none)
        return false;
    put_format(to, msg_refused_fmt, path, distrust_text(why));
    return true;
}

void tell_no_lock(const char *path, int err, out_buffer &to)
{
    if (err == ETIMEDOUT)
        to.put(msg_lock_busy);
    else
        put_format(to, msg_lock_unusable_fmt, path, std::strerror(err));
}

void tell_lock_left(const char *path, const char *left)
{
    if (!*left)
        return;
    (void)std_out().flush();
    put_format(std_err(), msg_lock_left_fmt, path, path, left);
}

bool lock_refused(const file_lock &lock, const char *path, out_buffer &to)
{
    tell_lock_left(path, lock.left());
    if (lock.held())
        return false;
    tell_no_lock(path, -lock.error(), to);
    return true;
}
