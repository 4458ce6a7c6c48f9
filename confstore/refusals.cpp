// The lines of the refusals and the lock that several commands print.
#include "confstore.h"
#include "messages.h"

#include "file_lock.h"

#include <cerrno>
#include <cstring>

void tell_refusal(const char *path, distrust why, out_buffer &to)
{
    put_format(to, msg_refused_fmt, path, distrust_text(why));
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

void tell_lock(const file_lock &lock, const char *path, out_buffer &to)
{
    tell_lock_left(path, lock.left());
    if (!lock.held())
        tell_no_lock(path, -lock.error(), to);
}
